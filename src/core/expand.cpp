#include "expand.h"

#include <chrono>
#include <cstring>
#include <vector>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define JXFB_X86_GATHER 1
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define JXFB_NEON_TABLE 1
#endif
#if defined(JXFB_X86_GATHER) || defined(JXFB_NEON_TABLE)
#define JXFB_TIMED_CHOICE 1
#endif

namespace jxfb {

namespace {

void expand_portable(const std::uint8_t *indices, const std::uint32_t *colours, std::uint32_t *out,
                     std::size_t count) {
    // Eight pixels a round, all eight looked up before any is stored. The plain one-pixel loop runs
    // at about half this speed: it pays a compare and a taken branch per pixel, and the compiler
    // may not move a lookup above the previous store (for all it knows, `out` overlaps
    // `colours`), so nothing overlaps. Byte loads keep it independent of byte order.
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const std::uint8_t *in = indices + i;
        const std::uint32_t c0 = colours[in[0]], c1 = colours[in[1]], c2 = colours[in[2]],
                            c3 = colours[in[3]], c4 = colours[in[4]], c5 = colours[in[5]],
                            c6 = colours[in[6]], c7 = colours[in[7]];
        std::uint32_t *o = out + i;
        o[0] = c0;
        o[1] = c1;
        o[2] = c2;
        o[3] = c3;
        o[4] = c4;
        o[5] = c5;
        o[6] = c6;
        o[7] = c7;
    }
    for (; i < count; ++i) out[i] = colours[indices[i]];
}

#ifdef JXFB_X86_GATHER
// Eight lookups in one AVX2 gather.
__attribute__((target("avx2"))) inline __m256i lookup8(const std::uint8_t *indices,
                                                       const int *table) {
    std::uint64_t eight;
    std::memcpy(&eight, indices, sizeof eight);
    const __m256i index = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(eight)));
    return _mm256_i32gather_epi32(table, index, 4);
}

// Sixteen lookups in two AVX2 gathers. On processors with fast gathers (Intel's since Skylake)
// this beats sixteen scalar loads; on others it is slower, hence the choice below.
__attribute__((target("avx2"))) void expand_gather(const std::uint8_t *indices,
                                                   const std::uint32_t *colours, std::uint32_t *out,
                                                   std::size_t count) {
    const int *table = reinterpret_cast<const int *>(colours);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m256i a = lookup8(indices + i, table), b = lookup8(indices + i + 8, table);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i + 8), b);
    }
    for (; i < count; ++i) out[i] = colours[indices[i]];
}

#endif

#ifdef JXFB_NEON_TABLE
// NEON has no gather, but its table lookups take 64 bytes of table at a time: the palette is split
// into its four byte planes (256 bytes each, byte k of every colour in memory order), and each
// plane is looked up four quarters at a time, 16 pixels a round: TBL takes the first quarter
// (an index past it gives 0), TBX each further one with the index moved down by 64 (an index
// outside that quarter leaves the byte as it was). ST4 interleaves the four planes back into
// colours.
void expand_neon(const std::uint8_t *indices, const std::uint32_t *colours, std::uint32_t *out,
                 std::size_t count) {
    alignas(16) std::uint8_t planes[4][256];
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(colours);
    for (int i = 0; i < 256; i += 16) {
        const uint8x16x4_t c = vld4q_u8(bytes + 4 * i);
        for (int k = 0; k < 4; ++k) vst1q_u8(planes[k] + i, c.val[k]);
    }
    uint8x16x4_t table[4][4];
    for (int k = 0; k < 4; ++k) {
        for (int q = 0; q < 4; ++q) {
            for (int r = 0; r < 4; ++r) table[k][q].val[r] = vld1q_u8(planes[k] + 64 * q + 16 * r);
        }
    }
    const uint8x16_t quarter = vdupq_n_u8(64);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const uint8x16_t i0 = vld1q_u8(indices + i);
        const uint8x16_t i1 = vsubq_u8(i0, quarter), i2 = vsubq_u8(i1, quarter),
                         i3 = vsubq_u8(i2, quarter);
        uint8x16x4_t pixels;
        for (int k = 0; k < 4; ++k) {
            uint8x16_t v = vqtbl4q_u8(table[k][0], i0);
            v = vqtbx4q_u8(v, table[k][1], i1);
            v = vqtbx4q_u8(v, table[k][2], i2);
            pixels.val[k] = vqtbx4q_u8(v, table[k][3], i3);
        }
        vst4q_u8(reinterpret_cast<std::uint8_t *>(out + i), pixels);
    }
    for (; i < count; ++i) out[i] = colours[indices[i]];
}
#endif

#ifdef JXFB_TIMED_CHOICE
// Seconds the fastest of a few runs of `expand` over a cache-sized picture took.
double best_time(ExpandFunction expand, const std::vector<std::uint8_t> &indices,
                 const std::uint32_t *colours, std::vector<std::uint32_t> &out) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        expand(indices.data(), colours, out.data(), indices.size());
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    return best;
}
#endif

#ifdef JXFB_X86_GATHER
bool has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

// Whether gathers (or NEON's table lookups) pay off depends on the processor's make and
// generation, not only on its instruction set, so the ways are timed against each other once, over
// 16384 pixels (some tens of microseconds). All give the same result: a choice skewed by a busy
// moment costs speed, never correctness. Another way has to beat the plain one by a tenth to be
// chosen.
ExpandMethod choose() {
    const std::vector<ExpandMethod> methods = expand_methods();
    ExpandMethod best = methods.front();
#ifdef JXFB_TIMED_CHOICE
    if (methods.size() > 1) {
        std::vector<std::uint8_t> indices(16384);
        std::uint32_t colours[256];
        for (std::size_t i = 0; i < indices.size(); ++i) {
            indices[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
        }
        for (std::uint32_t i = 0; i < 256; ++i) colours[i] = 0xFF000000u | i * 0x010307u;
        std::vector<std::uint32_t> out(indices.size());
        best_time(best.function, indices, colours, out);  // warm the caches
        double fastest = best_time(best.function, indices, colours, out) * 0.9;
        for (std::size_t m = 1; m < methods.size(); ++m) {
            const double took = best_time(methods[m].function, indices, colours, out);
            if (took < fastest) {
                fastest = took;
                best = methods[m];
            }
        }
    }
#endif
    return best;
}

}  // namespace

std::vector<ExpandMethod> expand_methods() {
    std::vector<ExpandMethod> methods{{"portable", expand_portable}};
#ifdef JXFB_X86_GATHER
    if (has_avx2()) methods.push_back({"avx2-gather", expand_gather});
#endif
#ifdef JXFB_NEON_TABLE
    methods.push_back({"neon-table", expand_neon});
#endif
    return methods;
}

const ExpandMethod &expand_method() {
    static const ExpandMethod method = choose();
    return method;
}

void expand(const std::uint8_t *indices, const std::uint32_t *colours, std::uint32_t *out,
            std::size_t count) {
    expand_method().function(indices, colours, out, count);
}

}  // namespace jxfb
