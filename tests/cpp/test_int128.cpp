// WideInt, the 128-bit integer that stands in where a compiler has none built in (MSVC), gives what
// the built-in type gives: every operator the drawing kit uses, over values at the edges of what
// the kit reaches and past them; and the kit's lines, compiled here with WideInt, land on the
// pixels of the Bresenham formula worked out in the built-in type, for endpoints across the whole
// 32-bit range. Built and run by tests/test_engine_cpp.py, and by the cross builds.
#define JXFB_PORTABLE_INT128 1
#include <cstdio>
#include <limits>
#include <vector>

#include "draw.cpp"  // the kit itself, with WideInt in place of the built-in type

#ifndef __SIZEOF_INT128__
int main() {
    std::printf("test_int128: no built-in 128-bit integer to compare with\n");
    return 0;
}
#else

namespace {

using jxfb::WideInt;
using Big = __int128;
using i64 = std::int64_t;

int failures = 0;

using Unsigned = unsigned __int128;
// Products in the built-in type, wrapping as WideInt's do (signed overflow would be undefined).
Big times(Big a, Big b) {
    return static_cast<Big>(static_cast<Unsigned>(a) * static_cast<Unsigned>(b));
}

Big big(WideInt w) {
    return static_cast<Big>((static_cast<Unsigned>(w.high()) << 64) | w.low());
}

void same(WideInt got, Big want, const char *what, i64 a, i64 b) {
    if (big(got) != want) {
        std::printf("test_int128: %s wrong for %lld, %lld\n", what, static_cast<long long>(a),
                    static_cast<long long>(b));
        ++failures;
    }
}

void operators(const std::vector<i64> &values) {
    for (i64 a : values) {
        for (i64 b : values) {
            const WideInt wa = a, wb = b;
            same(wa + wb, Big{a} + b, "+", a, b);
            same(wa - wb, Big{a} - b, "-", a, b);
            same(-wa, -Big{a}, "unary -", a, b);
            // Products of three, as the kit forms them (2 * span * position), wrapping past 2^127.
            const WideInt p = WideInt{2} * wa * wb;
            const Big bp = times(times(2, a), b);
            same(p, bp, "*", a, b);
            same(p * wb, times(bp, b), "* wrapping", a, b);
            for (i64 d : values) {
                if (d != 0) same(p / WideInt{d}, bp / d, "/", a, d);
                const Big bd = times(times(2, d), a);
                const WideInt wd = WideInt{2} * d * a;
                if (bd != 0) same(p / wd, bp / bd, "/ wide", a, d);
                const bool ok = (p < wd) == (bp < bd) && (p > wd) == (bp > bd) &&
                                (p <= wd) == (bp <= bd) && (p >= wd) == (bp >= bd) &&
                                (p == wd) == (bp == bd) && (p != wd) == (bp != bd);
                if (!ok) same(WideInt{}, 1, "comparisons", a, d);
            }
            if (static_cast<i64>(p) != static_cast<i64>(bp)) same(WideInt{}, 1, "cast", a, b);
        }
    }
}

// The pixels of the line from (x0, y0) to (x1, y1) on a width x height canvas, by the formula of
// draw.h in the built-in type: the i-th pixel's minor offset is floor((2*i*minor + major - 1) /
// (2*major)).
std::vector<std::uint8_t> reference(int width, int height, i64 x0, i64 y0, i64 x1, i64 y1) {
    std::vector<std::uint8_t> pixels(std::size_t(width) * height, 0);
    const i64 dx = x1 - x0, dy = y1 - y0;
    const bool steep = (dy < 0 ? -dy : dy) > (dx < 0 ? -dx : dx);
    const i64 u0 = steep ? y0 : x0, v0 = steep ? x0 : y0, du = steep ? dy : dx,
              dv = steep ? dx : dy;
    const i64 major = du < 0 ? -du : du, minor = dv < 0 ? -dv : dv;
    const i64 su = du < 0 ? -1 : 1, sv = dv < 0 ? -1 : 1;
    for (i64 u = 0; u < (steep ? height : width); ++u) {
        const i64 i = (u - u0) * su;
        if (i < 0 || i > major) continue;
        const i64 k =
            major == 0 ? 0 : static_cast<i64>((Big{2} * i * minor + major - 1) / (Big{2} * major));
        const i64 v = v0 + sv * k;
        if (v < 0 || v >= (steep ? width : height)) continue;
        pixels[steep ? u * width + v : v * width + u] = 1;
    }
    return pixels;
}

void lines() {
    const int width = 64, height = 48;
    const int ends[] = {std::numeric_limits<int>::min(), -1'000'000'007, -7, 0, 31, 70, 999'999'937,
                        std::numeric_limits<int>::max()};
    std::vector<std::uint8_t> pixels(std::size_t(width) * height);
    for (int x0 : ends) {
        for (int y0 : ends) {
            for (int x1 : ends) {
                for (int y1 : ends) {
                    std::fill(pixels.begin(), pixels.end(), 0);
                    jxfb::draw::line({pixels.data(), width, height}, x0, y0, x1, y1, 1);
                    if (pixels != reference(width, height, x0, y0, x1, y1)) {
                        std::printf("test_int128: line (%d, %d) - (%d, %d) wrong\n", x0, y0, x1,
                                    y1);
                        ++failures;
                    }
                }
            }
        }
    }
}

}  // namespace

int main() {
    std::vector<i64> values{0,
                            1,
                            -1,
                            2,
                            3,
                            -3,
                            0xFFFFFFFFLL,
                            0x100000000LL,
                            -0x100000000LL,
                            0x1FFFFFFFFLL,
                            -0x1FFFFFFFFLL,
                            std::numeric_limits<i64>::max(),
                            std::numeric_limits<i64>::min() + 1};
    std::uint64_t state = 42;
    for (int n = 0; n < 24; ++n) {  // pseudo-random, of every magnitude
        state = state * 6364136223846793005u + 1442695040888963407u;
        values.push_back(static_cast<i64>(state) >> (n * 5 % 63));
    }
    operators(values);
    lines();
    std::printf("test_int128: %s\n", failures ? "FAILED" : "checked");
    return failures ? 1 : 0;
}

#endif
