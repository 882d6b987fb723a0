// The drawing kit's engine (see draw.h).
#include "draw.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "int128.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define JXFB_MASKED_STORES 1
#endif

namespace jxfb::draw {

namespace {

using i64 = std::int64_t;
// Products of two 33-bit quantities (a line's span times a position along it) need more than 64
// bits.
using i128 = Int128;

i64 floor_div(i128 a, i128 b) {  // b > 0
    const i128 q = a / b;
    return static_cast<i64>(q * b > a ? q - 1 : q);
}

i64 ceil_div(i128 a, i128 b) {  // b > 0
    const i128 q = a / b;
    return static_cast<i64>(q * b < a ? q + 1 : q);
}

// The same where the operands are known to fit 64 bits: a division of the machine's own.
i64 floor_div64(i64 a, i64 b) {  // b > 0
    const i64 q = a / b;
    return q * b > a ? q - 1 : q;
}
i64 ceil_div64(i64 a, i64 b) {  // b > 0
    const i64 q = a / b;
    return q * b < a ? q + 1 : q;
}

// For each byte value, the 8 bytes whose byte i is 0xFF where bit i is set: a glyph row as a
// mask over 8 pixels in memory order, whatever the machine's byte order.
std::array<std::uint64_t, 256> make_row_masks() {
    std::array<std::uint64_t, 256> masks{};
    for (unsigned bits = 0; bits < 256; ++bits) {
        std::uint8_t bytes[8];
        for (unsigned i = 0; i < 8; ++i) bytes[i] = (bits >> i) & 1 ? 0xFF : 0x00;
        std::memcpy(&masks[bits], bytes, sizeof bytes);
    }
    return masks;
}
const std::array<std::uint64_t, 256> kRowMasks = make_row_masks();

// Sets the 8 pixels from p on where `mask` has 0xFF bytes to c, leaving the others.
inline void fill_masked(std::uint8_t *p, std::uint64_t mask, std::uint8_t c) {
    std::uint64_t colour, pixels;
    std::memset(&colour, c, sizeof colour);
    std::memcpy(&pixels, p, sizeof pixels);
    pixels = (pixels & ~mask) | (colour & mask);
    std::memcpy(p, &pixels, sizeof pixels);
}

// Sets `count` bytes from p to c. Most runs that shapes are made of are short (the rows of an
// outline or of a small filled shape), where a call to memset costs more than the stores: those
// are written inline as two overlapping stores of the largest size that fits.
template <std::size_t N>
inline void store(std::uint8_t *p, std::uint8_t c) {
    std::uint8_t bytes[N];
    std::memset(bytes, c, N);
    std::memcpy(p, bytes, N);
}

void fill_run(std::uint8_t *p, i64 count, std::uint8_t c) {
    if (count > 32) {
        std::memset(p, c, static_cast<std::size_t>(count));
    } else if (count >= 16) {
        store<16>(p, c);
        store<16>(p + count - 16, c);
    } else if (count >= 8) {
        store<8>(p, c);
        store<8>(p + count - 8, c);
    } else if (count >= 4) {
        store<4>(p, c);
        store<4>(p + count - 4, c);
    } else if (count >= 2) {
        store<2>(p, c);
        store<2>(p + count - 2, c);
    } else if (count == 1) {
        *p = c;
    }
}

// The canvas's pixels as a drawing function walks them. Packed (kPacked: a step of 1, as in
// every framebuffer) the step is the constant 1, so that runs are memset and glyph rows single
// stores; otherwise every pixel is addressed through the step. With kPattern, runs and plotted
// pixels leave out those that the canvas's pattern leaves out; without, it is not looked at.
template <bool kPacked, bool kPattern = false>
struct Pixels {
    explicit Pixels(const Canvas &canvas)
        : base(canvas.pixels),
          width(canvas.width),
          height(canvas.height),
          pitch(canvas.pitch),
          step(kPacked ? 1 : canvas.step),
          pattern(canvas.pattern) {}

    std::uint8_t *row(i64 y) const { return base + y * pitch; }

    // Whether the pattern leaves pixel (x, y) of the canvas out (x, y >= 0).
    bool skipped(i64 x, i64 y) const {
        return kPattern && ((pattern >> (15 - (y & 3) * 4 - (x & 3))) & 1) != 0;
    }

    // Sets pixel (x, y), which is on the canvas, to c.
    void plot(i64 x, i64 y, std::uint8_t c) const {
        if (!skipped(x, y)) row(y)[x * step] = c;
    }

    // Sets `count` pixels from p on, along the row, to c.
    void fill(std::uint8_t *p, i64 count, std::uint8_t c) const {
        if constexpr (kPacked) {
            fill_run(p, count, c);
        } else {
            for (i64 i = 0; i < count; ++i) p[i * step] = c;
        }
    }

    // Sets pixels x0..x1 of row y to c, after clipping the row and the run to the canvas.
    void run(i64 y, i64 x0, i64 x1, std::uint8_t c) const {
        if (y < 0 || y >= height) return;
        x0 = std::max<i64>(x0, 0);
        x1 = std::min<i64>(x1, width - 1);
        if (x0 > x1) return;
        if constexpr (kPattern) {
            std::uint8_t *p = row(y);
            for (i64 x = x0; x <= x1; ++x) {
                if (!skipped(x, y)) p[x * step] = c;
            }
        } else {
            fill(row(y) + x0 * step, x1 - x0 + 1, c);
        }
    }

    // Whether every pixel of a run is set: packed, and no pattern.
    static constexpr bool kPlain = kPacked && !kPattern;

    std::uint8_t *base;
    i64 width, height, pitch, step;
    std::uint16_t pattern;
};

// Calls the drawing function `draw` with the canvas's pixels, packed or not.
template <typename Draw>
auto with_pixels(const Canvas &canvas, Draw draw) {
    return canvas.step == 1 ? draw(Pixels<true>(canvas)) : draw(Pixels<false>(canvas));
}

// The same for a shape, which the canvas's pattern applies to.
template <typename Draw>
auto with_shape_pixels(const Canvas &canvas, Draw draw) {
    if (canvas.pattern != 0) {
        return canvas.step == 1 ? draw(Pixels<true, true>(canvas))
                                : draw(Pixels<false, true>(canvas));
    }
    return with_pixels(canvas, draw);
}

// The half-width of a circle's row dy away from the centre: the largest h >= 0 with h^2 <=
// limit - dy^2, or -1 when there is none (limit < 2^62). Below 2^50 the truncated square root
// of a double is exact (the root of (k+1)^2 - 1 is further below k+1 than half a unit in the last
// place); above, it may be one off and is settled.
i64 half_width(i64 limit, i64 dy) {
    if (dy < 0) dy = -dy;
    if (dy > 0xFFFFFFFFLL) return -1;
    const i64 rest = limit - dy * dy;
    if (rest < 0) return -1;
    i64 h = static_cast<i64>(std::sqrt(static_cast<double>(rest)));
    if (rest >= i64{1} << 50) {
        while (h * h > rest) --h;
        while ((h + 1) * (h + 1) <= rest) ++h;
    }
    return h;
}

template <bool kPacked>
void draw_glyph(const Pixels<kPacked> &canvas, i64 x, i64 y, const std::uint8_t *rows,
                std::uint8_t c) {
    if (x <= -kGlyphSize || x >= canvas.width || y <= -kGlyphSize || y >= canvas.height) return;
    const int first = static_cast<int>(std::max<i64>(0, -y));
    const int last = static_cast<int>(std::min<i64>(kGlyphSize, canvas.height - y));
    std::uint8_t *row = canvas.row(y + first) + x * canvas.step;
    if (kPacked && x >= 0 && x + kGlyphSize <= canvas.width) {
        // The whole cell is inside horizontally: each row is one masked 8-byte store.
        for (int r = first; r < last; ++r, row += canvas.pitch) {
            if (rows[r] != 0) fill_masked(row, kRowMasks[rows[r]], c);
        }
        return;
    }
    const int left = static_cast<int>(std::max<i64>(0, -x));
    const int right = static_cast<int>(std::min<i64>(kGlyphSize, canvas.width - x));
    for (int r = first; r < last; ++r, row += canvas.pitch) {
        for (int i = left; i < right; ++i) {
            if ((rows[r] >> i) & 1) row[i * canvas.step] = c;
        }
    }
}

template <bool kPacked, typename Unit>
i64 draw_text(const Pixels<kPacked> &canvas, i64 x, i64 y, const Unit *chars, std::size_t count,
              std::uint8_t c) {
    i64 widest = 0, column = 0, top = y;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t code = chars[i];
        if (code == '\n') {
            widest = std::max(widest, column);
            column = 0;
            top += kLineHeight;
            continue;
        }
        draw_glyph(canvas, x + column * kGlyphSize, top, font::glyph(code), c);
        ++column;
    }
    return std::max(widest, column) * kGlyphSize;
}

// For each 4-bit value, the byte with each of its bits twice: a glyph row of up to 4 columns at
// scale 2, as 8 pixels.
constexpr std::uint8_t kDoubled[16] = {0x00, 0x03, 0x0C, 0x0F, 0x30, 0x33, 0x3C, 0x3F,
                                       0xC0, 0xC3, 0xCC, 0xCF, 0xF0, 0xF3, 0xFC, 0xFF};

// Draws one glyph of `font` with its bitmap's top-left pixel at (gx, gy), each font pixel a
// scale x scale block.
template <bool kPacked>
void draw_bitmap(const Pixels<kPacked> &canvas, i64 gx, i64 gy, const font::Font &font,
                 const font::Glyph &glyph, i64 scale, std::uint8_t c) {
    const i64 width = glyph.width * scale, height = glyph.height * scale;
    if (width == 0 || height == 0 || gx >= canvas.width || gy >= canvas.height || gx + width <= 0 ||
        gy + height <= 0) {
        return;
    }
    const std::uint64_t *bits = font.bits(glyph);
    const int words = font::Font::words(glyph);
    // The glyph's rows and columns that land on the canvas, first to last + 1.
    const i64 row_first = gy >= 0 ? 0 : -gy / scale;
    const i64 row_end = std::min<i64>(glyph.height, (canvas.height - gy + scale - 1) / scale);
    if (kPacked && gx >= 0 && glyph.width * scale <= 8 && gx + 8 <= canvas.width &&
        (scale == 1 || scale == 2)) {
        // The whole glyph is inside horizontally and its rows fit 8 pixels: each canvas row is
        // one masked 8-byte store.
        for (i64 r = row_first; r < row_end; ++r) {
            const auto row = static_cast<unsigned>(bits[r]);
            if (row == 0) continue;
            const std::uint64_t mask = kRowMasks[scale == 1 ? row : kDoubled[row]];
            const i64 top = std::max<i64>(gy + r * scale, 0);
            const i64 end = std::min<i64>(gy + (r + 1) * scale, canvas.height);
            for (i64 y = top; y < end; ++y) fill_masked(canvas.row(y) + gx, mask, c);
        }
        return;
    }
    const i64 col_first = gx >= 0 ? 0 : -gx / scale;
    const i64 col_end = std::min<i64>(glyph.width, (canvas.width - gx + scale - 1) / scale);
    for (i64 r = row_first; r < row_end; ++r) {
        const i64 top = std::max<i64>(gy + r * scale, 0);
        const i64 end = std::min<i64>(gy + (r + 1) * scale, canvas.height);
        const std::uint64_t *row = bits + r * words;
        for (i64 w = col_first / 64; w * 64 < col_end; ++w) {
            // The word's set columns from col_first to col_end, as runs.
            std::uint64_t word = row[w];
            if (w * 64 < col_first) word &= ~std::uint64_t{0} << (col_first - w * 64);
            if (col_end - w * 64 < 64) word &= (std::uint64_t{1} << (col_end - w * 64)) - 1;
            while (word != 0) {
                const int from = __builtin_ctzll(word);
                const std::uint64_t rest = ~(word >> from);
                const int length = rest == 0 ? 64 - from : __builtin_ctzll(rest);
                word &= length + from >= 64 ? 0 : ~std::uint64_t{0} << (from + length);
                const i64 x0 = std::max<i64>(gx + (w * 64 + from) * scale, 0);
                const i64 x1 = std::min<i64>(gx + (w * 64 + from + length) * scale, canvas.width);
                for (i64 y = top; y < end; ++y) {
                    canvas.fill(canvas.row(y) + x0 * canvas.step, x1 - x0, c);
                }
            }
        }
    }
}

template <bool kPacked, typename Unit>
i64 draw_font_text(const Pixels<kPacked> &canvas, i64 x, i64 y, const Unit *chars,
                   std::size_t count, std::uint8_t c, const font::Font &font, i64 scale) {
    i64 widest = 0, pen = 0, top = y;
    const i64 line = i64{font.line_height()} * scale;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t code = chars[i];
        if (code == '\n') {
            widest = std::max(widest, pen);
            pen = 0;
            top += line;
            continue;
        }
        const font::Glyph *glyph = font.find(code);
        if (glyph == nullptr) {
            pen += i64{font.default_advance()} * scale;
            continue;
        }
        draw_bitmap(canvas, x + pen + glyph->left * scale, top + glyph->top * scale, font, *glyph,
                    scale, c);
        pen += i64{glyph->advance} * scale;
    }
    return std::max(widest, pen);
}

template <typename Unit>
i64 text_in(const Canvas &canvas, int x, int y, const Unit *chars, std::size_t count,
            std::uint8_t c, const font::Font &font, int scale) {
    if (&font == font::font_8x8().get() && scale == 1) return text(canvas, x, y, chars, count, c);
    return with_pixels(canvas, [&](const auto &px) {
        return draw_font_text(px, x - canvas.origin_x, y - canvas.origin_y, chars, count, c, font,
                              scale);
    });
}

template <typename Unit>
Extent measure_text(const Unit *chars, std::size_t count, const font::Font &font, i64 scale) {
    i64 widest = 0, pen = 0, lines = 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t code = chars[i];
        if (code == '\n') {
            widest = std::max(widest, pen);
            pen = 0;
            ++lines;
            continue;
        }
        const font::Glyph *glyph = font.find(code);
        pen += glyph ? glyph->advance : font.default_advance();
    }
    return {std::max(widest, pen) * scale,
            ((lines - 1) * font.line_height() + font.height()) * scale};
}

// line()'s walk: `left` + 1 pixels from p on, u along the major axis and v along the minor one
// (pixel coordinates, which only a pattern looks at). A function of its own, so that the loop
// keeps its few values in registers whatever line() computed before it.
template <bool kPattern>
[[gnu::noinline]] void walk(const Canvas &canvas, std::uint8_t *p, i64 left, bool steep, i64 u,
                            i64 v, i64 su, i64 sv, i64 error, i64 u_step, i64 diagonal_step,
                            i64 straight_error, i64 diagonal_error, std::uint8_t c) {
    const Pixels<false, kPattern> pixels(canvas);
    for (;; --left) {
        if constexpr (kPattern) {
            if (!(steep ? pixels.skipped(v, u) : pixels.skipped(u, v))) *p = c;
        } else {
            *p = c;
        }
        if (left == 0) break;  // before the pointer moves off the canvas
        const bool move = error > 0;
        p += move ? diagonal_step : u_step;
        error += move ? diagonal_error : straight_error;
        if constexpr (kPattern) {
            u += su;
            v += move ? sv : 0;
        }
    }
}

// A line's minor coordinate in fixed point: from step `first` on, where it has moved k_first,
// k(i) - k_first = acc >> shift, acc growing by `inc` a step. For numerators n = 2 minor i +
// major - 1 below 2^31 (lines shorter than kMajor), floor(n / d) with d = 2 major is exactly
// (n m) >> s for s = 31 + ceil(log2 d) and m = ceil(2^s / d): n (m d - 2^s) < 2^s.
struct Fraction {
    static constexpr i64 kMajor = i64{1} << 15;
    std::uint64_t acc, inc;
    int shift;

    static Fraction of(i64 major, i64 minor, i64 first, i64 k_first) {
        if (major == 0) return {0, 0, 0};  // a point
        const auto d = 2 * static_cast<std::uint64_t>(major);
        const int shift = 31 + (64 - __builtin_clzll(d - 1));
        const std::uint64_t m = ((std::uint64_t{1} << shift) + d - 1) / d;
        const auto n = static_cast<std::uint64_t>(2 * minor * first + major - 1);
        return {n * m - (static_cast<std::uint64_t>(k_first) << shift),
                2 * static_cast<std::uint64_t>(minor) * m, shift};
    }
};

// A shape's edge: the pixels walk() draws, each step's v from the fraction instead of an error
// term. Step to step only sums are carried, so the processor overlaps the steps; the error
// term's compare, select and add made each step wait for the one before (a shape's edges are
// most of the steps its calls take).
template <bool kPattern>
[[gnu::noinline]] void walk_fixed(const Canvas &canvas, std::uint8_t *p, i64 left, bool steep,
                                  i64 u, i64 v, i64 su, i64 sv, Fraction f, i64 u_step, i64 v_step,
                                  std::uint8_t c) {
    const Pixels<false, kPattern> pixels(canvas);
    for (i64 j = 0; j <= left; ++j) {
        const auto k = static_cast<i64>(f.acc >> f.shift);
        if constexpr (kPattern) {
            const i64 pu = u + su * j, pv = v + sv * k;
            if (!(steep ? pixels.skipped(pv, pu) : pixels.skipped(pu, pv))) p[k * v_step] = c;
        } else {
            p[k * v_step] = c;
        }
        p += u_step;
        f.acc += f.inc;
    }
}

// Whether the bytes `image` spans and those `canvas` spans overlap (as address ranges, whatever
// the strides).
bool overlaps(const Image &image, const Canvas &canvas) {
    if (image.width <= 0 || image.height <= 0 || canvas.width <= 0 || canvas.height <= 0) {
        return false;
    }
    auto span = [](const std::uint8_t *first, i64 rows_span, i64 cols_span) {
        const auto at = reinterpret_cast<std::uintptr_t>(first);
        return std::pair<std::uintptr_t, std::uintptr_t>{
            at + std::min<i64>(rows_span, 0) + std::min<i64>(cols_span, 0),
            at + std::max<i64>(rows_span, 0) + std::max<i64>(cols_span, 0)};
    };
    const auto [lowest, highest] = span(image.data, (image.height - 1) * image.row_stride,
                                        (image.width - 1) * image.col_stride);
    const auto [begin, end] =
        span(canvas.pixels, (canvas.height - 1) * canvas.pitch, (canvas.width - 1) * canvas.step);
    return lowest <= end && highest >= begin;
}

// `image` itself, or a packed copy of it in `snapshot` when it shares memory with the canvas (so
// that what is drawn is read from an unchanged picture).
Image readable(const Image &image, const Canvas &canvas, std::vector<std::uint8_t> &snapshot) {
    if (!overlaps(image, canvas)) return image;
    snapshot.resize(static_cast<std::size_t>(image.width * image.height));
    for (i64 r = 0; r < image.height; ++r) {
        for (i64 i = 0; i < image.width; ++i) {
            snapshot[static_cast<std::size_t>(r * image.width + i)] =
                image.data[r * image.row_stride + i * image.col_stride];
        }
    }
    return {snapshot.data(), image.width, image.height, image.width, 1};
}

// The part of `image` that lands on the canvas when its element [0][0] is at canvas pixel (x, y),
// and the canvas pixel its first element goes to; false when none does.
bool landing(const Canvas &canvas, i64 x, i64 y, const Image &image, Image &part,
             std::uint8_t *&at) {
    const i64 col_first = std::max<i64>(0, -x);
    const i64 col_last = std::min<i64>(image.width - 1, canvas.width - 1 - x);
    const i64 row_first = std::max<i64>(0, -y);
    const i64 row_last = std::min<i64>(image.height - 1, canvas.height - 1 - y);
    if (col_first > col_last || row_first > row_last) return false;
    part = {image.data + row_first * image.row_stride + col_first * image.col_stride,
            col_last - col_first + 1, row_last - row_first + 1, image.row_stride, image.col_stride};
    at = canvas.at(x + col_first, y + row_first);
    return true;
}

// Copies `part` to the canvas with its first element at `at`, leaving out elements equal to
// `key` (-1: none) and then remapping through `remap` (or not, when null). The part lies on the
// canvas and does not overlap it. One loop per case, chosen once: the packed ones without a
// table are a memcpy or a select of every byte (which the compiler makes a vector blend); with
// a table, one lookup a pixel.
void copy(const Canvas &canvas, std::uint8_t *at, const Image &part, int key,
          const std::uint8_t *remap) {
    const i64 step = canvas.step, cs = part.col_stride, cols = part.width;
    const auto count = static_cast<std::size_t>(cols);
    const auto skip = static_cast<std::uint8_t>(key);
    const bool packed = step == 1 && cs == 1;
    const std::uint8_t *src = part.data;
    std::uint8_t *dst = at;
    const auto rows = [&](auto row) {
        for (i64 r = 0; r < part.height; ++r, src += part.row_stride, dst += canvas.pitch) {
            row(src, dst);
        }
    };
    if (remap == nullptr && packed && key < 0) {
        rows([&](const std::uint8_t *s, std::uint8_t *d) { std::memcpy(d, s, count); });
    } else if (remap == nullptr && packed) {
        rows([&](const std::uint8_t *s, std::uint8_t *d) {
            for (std::size_t i = 0; i < count; ++i) d[i] = s[i] == skip ? d[i] : s[i];
        });
    } else if (remap == nullptr) {
        rows([&](const std::uint8_t *s, std::uint8_t *d) {
            for (i64 i = 0; i < cols; ++i) {
                const std::uint8_t value = s[i * cs];
                if (value != key) d[i * step] = value;
            }
        });
    } else if (packed && key < 0) {
        // (Unrolled: a lookup a pixel is short next to the loop's own steps.)
        rows([&](const std::uint8_t *s, std::uint8_t *d) {
#pragma GCC unroll 4
            for (std::size_t i = 0; i < count; ++i) d[i] = remap[s[i]];
        });
    } else if (packed) {
        rows([&](const std::uint8_t *s, std::uint8_t *d) {
#pragma GCC unroll 4
            for (std::size_t i = 0; i < count; ++i) {
                if (s[i] != skip) d[i] = remap[s[i]];
            }
        });
    } else {
        rows([&](const std::uint8_t *s, std::uint8_t *d) {
            for (i64 i = 0; i < cols; ++i) {
                const std::uint8_t value = s[i * cs];
                if (value != key) d[i * step] = remap[value];
            }
        });
    }
}

}  // namespace

void Scene::set_camera(i64 x, i64 y) {
    camera_x_ = x;
    camera_y_ = y;
    update();
}

void Scene::set_clip(const std::optional<Clip> &clip) {
    if (clip && (clip->w < 0 || clip->h < 0)) {
        throw std::invalid_argument("clip width and height must be 0 or more, not " +
                                    std::to_string(clip->w) + " x " + std::to_string(clip->h));
    }
    clip_ = clip;
    update();
}

void Scene::set_pattern(const std::optional<std::uint16_t> &pattern) {
    pattern_ = pattern;
    update();
}

void Scene::update() {
    camera_ = picture_;
    camera_.origin_x = camera_x_;
    camera_.origin_y = camera_y_;
    // The clip rectangle's part of the picture: columns left..right-1, rows top..bottom-1.
    i64 left = 0, top = 0, right = picture_.width, bottom = picture_.height;
    if (clip_) {
        left = std::clamp<i64>(clip_->x, 0, picture_.width);
        top = std::clamp<i64>(clip_->y, 0, picture_.height);
        right = std::clamp<i64>(clip_->x + clip_->w, left, picture_.width);
        bottom = std::clamp<i64>(clip_->y + clip_->h, top, picture_.height);
    }
    view_ = picture_;
    view_.width = right - left;
    view_.height = bottom - top;
    if (view_.width > 0 && view_.height > 0) view_.pixels = picture_.at(left, top);
    view_.origin_x = camera_x_ + left;
    view_.origin_y = camera_y_ + top;
    // The pattern's bit for view pixel (x, y) is the picture's for (x + left, y + top).
    view_.pattern = 0;
    if (pattern_) {
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                const int from =
                    15 - static_cast<int>((y + top) % 4) * 4 - static_cast<int>((x + left) % 4);
                if ((*pattern_ >> from) & 1) view_.pattern |= 1u << (15 - y * 4 - x);
            }
        }
    }
}

void clear(const Canvas &canvas, std::uint8_t c) {
    if (canvas.width <= 0 || canvas.height <= 0) return;
    if (canvas.step == 1 && canvas.pitch == canvas.width) {  // one block, as a framebuffer's
        std::memset(canvas.pixels, c, static_cast<std::size_t>(canvas.width * canvas.height));
        return;
    }
    with_pixels(canvas, [&](const auto &pixels) {
        for (i64 row = 0; row < pixels.height; ++row) pixels.run(row, 0, pixels.width - 1, c);
    });
}

// Below this span a line's setup needs no product wider than 64 bits.
constexpr i64 kNarrow = i64{1} << 30;

namespace {

// line()'s pixels, from (x0, y0) to (x1, y1) on the canvas's own pixels, walked as
// walk() walks them, or (kEdge: a shape's edge) walk_fixed().
template <bool kEdge>
void draw_line(const Canvas &canvas, i64 x0, i64 y0, i64 x1, i64 y1, std::uint8_t c) {
    // Walk along the major axis u, one pixel per step i = 0..major; the minor coordinate v has
    // moved k(i) = floor((2*i*minor + major - 1) / (2*major)) pixels by step i.
    const i64 dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    const bool steep = dy > dx;
    const i64 major = steep ? dy : dx, minor = steep ? dx : dy;
    const i64 u0 = steep ? y0 : x0, v0 = steep ? x0 : y0;
    const i64 u1 = steep ? y1 : x1, v1 = steep ? x1 : y1;
    const i64 su = u1 >= u0 ? 1 : -1, sv = v1 >= v0 ? 1 : -1;
    const i64 u_size = steep ? canvas.height : canvas.width;
    const i64 v_size = steep ? canvas.width : canvas.height;

    // The steps whose u is on the canvas, then those whose v is: both coordinates are monotonic
    // in i, so each constraint leaves one interval of steps.
    i64 first = 0, last = major;
    if (su > 0) {
        first = std::max(first, -u0);
        last = std::min(last, u_size - 1 - u0);
    } else {
        first = std::max(first, u0 - (u_size - 1));
        last = std::min(last, u0);
    }
    i64 k_low = sv > 0 ? -v0 : v0 - (v_size - 1);  // the moves that put v on the canvas
    i64 k_high = sv > 0 ? v_size - 1 - v0 : v0;
    k_low = std::max<i64>(k_low, 0);
    k_high = std::min(k_high, minor);
    if (first > last || k_low > k_high) return;
    if (minor > 0) {
        // k(i) >= K  <=>  2*i*minor >= 2*major*K - major + 1
        // k(i) <= K  <=>  2*i*minor <= 2*major*K + major
        if (major < kNarrow) {  // every product below 2^62
            first = std::max(first, ceil_div64(2 * major * k_low - major + 1, 2 * minor));
            last = std::min(last, floor_div64(2 * major * k_high + major, 2 * minor));
        } else {
            first = std::max(first, ceil_div(i128{2} * major * k_low - major + 1, i128{2} * minor));
            last = std::min(last, floor_div(i128{2} * major * k_high + major, i128{2} * minor));
        }
        if (first > last) return;
    }

    if (minor == 0 && !steep) {  // horizontal: one run
        const i64 from = u0 + su * first, to = u0 + su * last;
        with_shape_pixels(canvas, [&](const auto &pixels) {
            pixels.run(v0, std::min(from, to), std::max(from, to), c);
        });
        return;
    }

    // Classic Bresenham from step `first`: the error term after plotting step i is
    // 2*minor*(i+1) - major - 2*major*k(i), which stays within (-2*major, 2*minor].
    i64 k = 0, error = 2 * minor - major;
    if (major > 0 && major < kNarrow) {
        k = floor_div64(2 * first * minor + major - 1, 2 * major);
        error = 2 * minor * (first + 1) - major - 2 * major * k;
    } else if (major > 0) {
        k = floor_div(i128{2} * first * minor + major - 1, i128{2} * major);
        error = static_cast<i64>(i128{2} * minor * (first + 1) - major - i128{2} * major * k);
    }
    const i64 u = u0 + su * first, v = v0 + sv * k;
    std::uint8_t *p = steep ? canvas.at(v, u) : canvas.at(u, v);
    // The walk moves by precomputed strides, whatever the canvas's: nothing to specialise.
    const i64 x_step = canvas.step, y_step = canvas.pitch;
    const i64 u_step = su * (steep ? y_step : x_step), v_step = sv * (steep ? x_step : y_step);
    if (kEdge && major < Fraction::kMajor) {
        (canvas.pattern != 0 ? walk_fixed<true>
                             : walk_fixed<false>)(canvas, p, last - first, steep, u, v, su, sv,
                                                  Fraction::of(major, minor, first, k), u_step,
                                                  v_step, c);
        return;
    }
    const i64 diagonal_step = u_step + v_step, straight_error = 2 * minor;
    const i64 diagonal_error = 2 * minor - 2 * major;
    (canvas.pattern != 0 ? walk<true> : walk<false>)(canvas, p, last - first, steep, u, v, su, sv,
                                                     error, u_step, diagonal_step, straight_error,
                                                     diagonal_error, c);
}

}  // namespace

void line(const Canvas &canvas, int x0, int y0, int x1, int y1, std::uint8_t c) {
    draw_line<false>(canvas, x0 - canvas.origin_x, y0 - canvas.origin_y, x1 - canvas.origin_x,
                     y1 - canvas.origin_y, c);
}

void rect(const Canvas &canvas, int x, int y, int w, int h, std::uint8_t c, bool fill) {
    if (w < 1 || h < 1) return;
    const i64 left = x - canvas.origin_x, right = left + w - 1;
    const i64 top = y - canvas.origin_y, bottom = top + h - 1;
    with_shape_pixels(canvas, [&](const auto &pixels) {
        if (fill || w <= 2 || h <= 2) {  // a narrow outline is the whole rectangle
            const i64 first = std::max<i64>(top, 0);
            const i64 last = std::min<i64>(bottom, pixels.height - 1);
            for (i64 row = first; row <= last; ++row) pixels.run(row, left, right, c);
            return;
        }
        pixels.run(top, left, right, c);
        pixels.run(bottom, left, right, c);
        const i64 first = std::max<i64>(top + 1, 0);
        const i64 last = std::min<i64>(bottom - 1, pixels.height - 1);
        const bool left_in = left >= 0 && left < pixels.width;
        const bool right_in = right >= 0 && right < pixels.width;
        for (i64 row = first; row <= last; ++row) {
            if (left_in) pixels.plot(left, row, c);
            if (right_in) pixels.plot(right, row, c);
        }
    });
}

void circle(const Canvas &canvas, int x_, int y_, int r, std::uint8_t c, bool fill) {
    if (r < 0) return;
    const i64 x = x_ - canvas.origin_x, y = y_ - canvas.origin_y;
    const i64 limit = i64{r} * r + r;  // below 2^62
    const i64 first = std::max<i64>(y - r, 0);
    const i64 last = std::min<i64>(y + r, canvas.height - 1);
    if (first > last) return;
    with_shape_pixels(canvas, [&](const auto &pixels) {
        if (fill) {
            for (i64 row = first; row <= last; ++row) {
                const i64 h = half_width(limit, row - y);
                pixels.run(row, x - h, x + h, c);
            }
            return;
        }
        // A pixel |dx| <= h is on the outline when a neighbour is outside: its right or left one
        // (|dx| == h), or the one above or below (|dx| beyond that row's half-width).
        i64 above = half_width(limit, first - 1 - y), h = half_width(limit, first - y);
        for (i64 row = first; row <= last; ++row) {
            const i64 below = half_width(limit, row + 1 - y);
            const i64 inner = std::min(h, std::min(above, below) + 1);
            if (inner == 0) {
                pixels.run(row, x - h, x + h, c);
            } else {
                pixels.run(row, x - h, x - inner, c);
                pixels.run(row, x + inner, x + h, c);
            }
            above = h;
            h = below;
        }
    });
}

void blit(const Canvas &canvas, int x_, int y_, const Image &image, int key) {
    Image part;
    std::uint8_t *at;
    if (!landing(canvas, x_ - canvas.origin_x, y_ - canvas.origin_y, image, part, at)) return;
    // A source that shares memory with the canvas (a view of the picture itself, or of the same
    // array) would be read after some of it was overwritten: what will be read is copied first.
    std::vector<std::uint8_t> snapshot;
    copy(canvas, at, readable(part, canvas, snapshot), key, nullptr);
}

i64 text(const Canvas &canvas, int x, int y, const std::uint8_t *chars, std::size_t count,
         std::uint8_t c) {
    return with_pixels(canvas, [&](const auto &px) {
        return draw_text(px, x - canvas.origin_x, y - canvas.origin_y, chars, count, c);
    });
}
i64 text(const Canvas &canvas, int x, int y, const std::uint16_t *chars, std::size_t count,
         std::uint8_t c) {
    return with_pixels(canvas, [&](const auto &px) {
        return draw_text(px, x - canvas.origin_x, y - canvas.origin_y, chars, count, c);
    });
}
i64 text(const Canvas &canvas, int x, int y, const std::uint32_t *chars, std::size_t count,
         std::uint8_t c) {
    return with_pixels(canvas, [&](const auto &px) {
        return draw_text(px, x - canvas.origin_x, y - canvas.origin_y, chars, count, c);
    });
}

i64 text(const Canvas &canvas, int x, int y, const std::uint8_t *chars, std::size_t count,
         std::uint8_t c, const font::Font &font, int scale) {
    return text_in(canvas, x, y, chars, count, c, font, scale);
}
i64 text(const Canvas &canvas, int x, int y, const std::uint16_t *chars, std::size_t count,
         std::uint8_t c, const font::Font &font, int scale) {
    return text_in(canvas, x, y, chars, count, c, font, scale);
}
i64 text(const Canvas &canvas, int x, int y, const std::uint32_t *chars, std::size_t count,
         std::uint8_t c, const font::Font &font, int scale) {
    return text_in(canvas, x, y, chars, count, c, font, scale);
}

Extent text_size(const std::uint8_t *chars, std::size_t count, const font::Font &font, int scale) {
    return measure_text(chars, count, font, scale);
}
Extent text_size(const std::uint16_t *chars, std::size_t count, const font::Font &font, int scale) {
    return measure_text(chars, count, font, scale);
}
Extent text_size(const std::uint32_t *chars, std::size_t count, const font::Font &font, int scale) {
    return measure_text(chars, count, font, scale);
}

}  // namespace jxfb::draw

// ---- Transformed images, tiles and sprites ------------------------------------------------------

namespace jxfb::draw {

namespace {

// Copies `image` with its element [0][0] at canvas pixel (x, y), clipped, leaving out `key` and
// then remapping. The image does not overlap the canvas.
void place(const Canvas &canvas, i64 x, i64 y, const Image &image, int key,
           const std::uint8_t *remap) {
    Image part;
    std::uint8_t *at;
    if (landing(canvas, x, y, image, part, at)) copy(canvas, at, part, key, remap);
}

// The image with its flips applied through its strides.
Image flipped(Image image, bool flip_x, bool flip_y) {
    if (flip_x && image.width > 0) {
        image.data += (image.width - 1) * image.col_stride;
        image.col_stride = -image.col_stride;
    }
    if (flip_y && image.height > 0) {
        image.data += (image.height - 1) * image.row_stride;
        image.row_stride = -image.row_stride;
    }
    return image;
}

// floor((a*k + b) / c), c > 0, for k = k0, then k0 + 1, ... (up) or k0 - 1, ... (down): a
// quotient and a remainder that additions keep exact. A shape's edges step down its rows this
// way, and a turned blit its spans, with no division per row and no product wider than 64 bits
// after the first.
struct Stepper {
    i64 q, r;       // the value, and the remainder: 0 <= r < c
    i64 qa, ra, c;  // a = qa*c + ra, 0 <= ra < c

    // `start` is a*k0 + b.
    static Stepper at(i128 start, i64 a, i64 c) {
        Stepper s;
        const auto narrow = static_cast<i64>(start);
        if (i128{narrow} == start) {
            s.q = quotient(narrow, c);
            s.r = narrow - s.q * c;
        } else {
            s.q = floor_div(start, c);
            s.r = static_cast<i64>(start - i128{s.q} * c);
        }
        s.qa = quotient(a, c);
        s.ra = a - s.qa * c;
        s.c = c;
        return s;
    }
    // floor(n / c): many a start or step of a shape's edge is less than c from 0 (a steep
    // edge's, or one starting on the first row), where no division is needed.
    static i64 quotient(i64 n, i64 c) {
        if (n >= -c && n < c) return n < 0 ? -1 : 0;
        return floor_div64(n, c);
    }

    // ceil((a*k + b) / c).
    i64 ceil() const { return q + (r != 0 ? 1 : 0); }
    // Without a branch: whether the remainder carries is as good as random from row to row.
    void up() {
        q += qa;
        r += ra;
        const i64 carry = r >= c ? 1 : 0;
        q += carry;
        r -= c & -carry;
    }
    void down() {
        q -= qa;
        r -= ra;
        const i64 borrow = r < 0 ? 1 : 0;
        q -= borrow;
        r += c & -borrow;
    }
};

// A source coordinate along the rows of the box that blit_transformed() walks: at a row's k-th
// pixel it is v + k*step, v growing by `rise` a row, and the pixel is drawn only while 0 <= v +
// k*step < limit. The k for which it is run from ceil(n1 / |step|) to floor(n2 / |step|), both
// numerators growing alike row by row: exact integers, a few additions a row. Over the box the
// values stay far inside 64 bits.
class Along {
public:
    // With a step of 0 the quotients are never read (a divisor of 1 keeps making them harmless).
    Along(i64 v, i64 rise, i64 step, i64 limit)
        : step_(step),
          limit_(limit),
          v_(v),
          rise_(rise),
          first_(
              Stepper::at(step > 0 ? -v : v - (limit - 1), step > 0 ? -rise : rise, divisor(step))),
          last_(Stepper::at(step > 0 ? limit - 1 - v : v, step > 0 ? -rise : rise, divisor(step))) {
    }

    // Narrows [lo, hi] to this row's k.
    void narrow(i64 &lo, i64 &hi) const {
        if (step_ == 0) {
            if (v_ < 0 || v_ >= limit_) hi = lo - 1;
            return;
        }
        lo = std::max(lo, first_.ceil());
        hi = std::min(hi, last_.q);
    }
    void next_row() {
        v_ += rise_;
        if (step_ != 0) {
            first_.up();
            last_.up();
        }
    }

private:
    static i64 divisor(i64 step) { return step > 0 ? step : step < 0 ? -step : 1; }

    i64 step_, limit_, v_, rise_;
    Stepper first_, last_;
};

// Draws `count` pixels from `dst` on, `step` bytes apart, from the source elements at (sx, sy)
// (both in 1/2^17 pixels) moving by (dsx, dsy) a pixel, all inside `image`: those equal to `key`
// left out, then remapped (kRemap). A function of its own, so that the loop keeps its values in
// registers. Whether a turned sprite's next element is its key colour is too irregular a pattern
// for a branch to predict: every pixel is stored, the key's as it was, selected by a mask (which
// the compiler keeps; a select of two addresses it turns back into a branch).
// kPacked: the image's elements side by side in its rows (a column stride of 1).
template <bool kRemap, bool kPacked>
[[gnu::noinline]] void turned_run(std::uint8_t *dst, i64 step, i64 count, const Image &image,
                                  i64 sx, i64 dsx, i64 sy, i64 dsy, int key,
                                  const std::uint8_t *remap) {
    const std::uint8_t *data = image.data;
    const i64 rs = image.row_stride, cs = kPacked ? 1 : image.col_stride;
    for (; count > 0; --count, sx += dsx, sy += dsy, dst += step) {
        const std::uint8_t value = data[(sy >> 17) * rs + (sx >> 17) * cs];
        const auto keep = static_cast<std::uint8_t>(-static_cast<int>(value == key));
        const std::uint8_t shown = kRemap ? remap[value] : value;
        *dst = static_cast<std::uint8_t>((*dst & keep) | (shown & ~keep));
    }
}

// Cell n of a sheet of `across` cells a row.
Image cell(const Image &sheet, i64 n, i64 across, i64 w, i64 h) {
    const i64 row = n / across, col = n % across;
    return {sheet.data + row * h * sheet.row_stride + col * w * sheet.col_stride, w, h,
            sheet.row_stride, sheet.col_stride};
}

}  // namespace

void blit_transformed(const Canvas &canvas, int x_, int y_, const Image &source, int key,
                      const Transform &transform) {
    const i64 x = x_ - canvas.origin_x, y = y_ - canvas.origin_y;
    const i64 w = source.width, h = source.height;
    if (w <= 0 || h <= 0 || canvas.width <= 0 || canvas.height <= 0) return;
    std::vector<std::uint8_t> snapshot;
    const Image image =
        readable(flipped(source, transform.flip_x, transform.flip_y), canvas, snapshot);
    double turn = std::fmod(transform.rotate, 360.0);
    if (turn < 0) turn += 360.0;
    if (turn >= 360.0) turn = 0;  // a tiny negative angle rounds up to 360
    if (turn == 0 && transform.scale == 1) {
        place(canvas, x, y, image, key, transform.remap);
        return;
    }
    if (!(transform.scale >= 1.0 / 65536)) return;
    double cos_a, sin_a;
    if (std::fmod(turn, 90.0) == 0) {
        const int quarter = static_cast<int>(turn / 90.0);
        constexpr int kCos[] = {1, 0, -1, 0}, kSin[] = {0, 1, 0, -1};
        cos_a = kCos[quarter];
        sin_a = kSin[quarter];
    } else {
        const double radians = turn * 3.14159265358979323846 / 180.0;
        cos_a = std::cos(radians);
        sin_a = std::sin(radians);
    }
    const i64 a = std::llround(65536.0 * cos_a / transform.scale);
    const i64 b = std::llround(65536.0 * sin_a / transform.scale);
    // The destination box that holds the turned image, with a pixel to spare, on the canvas.
    const double cx = static_cast<double>(x) + static_cast<double>(w) / 2;
    const double cy = static_cast<double>(y) + static_cast<double>(h) / 2;
    const double ex = (std::abs(w * cos_a) + std::abs(h * sin_a)) * transform.scale / 2 + 2;
    const double ey = (std::abs(w * sin_a) + std::abs(h * cos_a)) * transform.scale / 2 + 2;
    const auto within = [](double v, i64 size) {
        return static_cast<i64>(std::clamp(std::floor(v), -1.0, static_cast<double>(size)));
    };
    const i64 px0 = std::max<i64>(within(cx - ex, canvas.width), 0);
    const i64 px1 = std::min<i64>(within(cx + ex, canvas.width), canvas.width - 1);
    const i64 py0 = std::max<i64>(within(cy - ey, canvas.height), 0);
    const i64 py1 = std::min<i64>(within(cy + ey, canvas.height), canvas.height - 1);
    if (px0 > px1 || py0 > py1) return;
    // Along a row of the box, column k = px - px0 reads the source at SX + k*2A, SY - k*2B: each
    // row's pixels that the rule draws are the k for which both lie inside, an interval, found
    // from its ends, and then walked without a test a pixel.
    const i64 dx = 2 * px0 + 1 - 2 * x - w, dy0 = 2 * py0 + 1 - 2 * y - h;
    const i64 sx_first = dx * a + dy0 * b + (w << 16), sy_first = dy0 * a - dx * b + (h << 16);
    Along across(sx_first, 2 * b, 2 * a, (2 * w) << 16),
        down(sy_first, 2 * a, -2 * b, (2 * h) << 16);
    const bool packed = image.col_stride == 1;
    const auto run = transform.remap
                         ? (packed ? turned_run<true, true> : turned_run<true, false>)
                         : (packed ? turned_run<false, true> : turned_run<false, false>);
    const std::uint8_t *remap = transform.remap;
    for (i64 py = py0; py <= py1; ++py, across.next_row(), down.next_row()) {
        i64 lo = 0, hi = px1 - px0;
        across.narrow(lo, hi);
        down.narrow(lo, hi);
        if (lo > hi) continue;
        const i64 dy = 2 * py + 1 - 2 * y - h;
        const i64 sx0 = dx * a + dy * b + (w << 16), sy0 = dy * a - dx * b + (h << 16);
        const i64 sx = sx0 + lo * 2 * a, sy = sy0 - lo * 2 * b;
        run(canvas.at(px0 + lo, py), canvas.step, hi - lo + 1, image, sx, 2 * a, sy, -2 * b, key,
            remap);
    }
}

void tiles(const Canvas &canvas, int x, int y, const i64 *map, i64 rows, i64 cols,
           const Image &sheet, i64 cell_w, i64 cell_h, int key, const std::uint8_t *remap) {
    std::vector<std::uint8_t> snapshot;
    const Image source = readable(sheet, canvas, snapshot);
    const i64 across = sheet.width / cell_w;
    const i64 left = x - canvas.origin_x, top = y - canvas.origin_y;
    // Only the rows and columns of tiles that can reach the canvas.
    const i64 r0 = std::max<i64>(0, floor_div(-top, cell_h)),
              c0 = std::max<i64>(0, floor_div(-left, cell_w));
    const i64 r1 = std::min<i64>(rows - 1, floor_div(canvas.height - 1 - top, cell_h));
    const i64 c1 = std::min<i64>(cols - 1, floor_div(canvas.width - 1 - left, cell_w));
    for (i64 r = r0; r <= r1; ++r) {
        for (i64 c = c0; c <= c1; ++c) {
            const i64 n = map[r * cols + c];
            if (n < 0) continue;
            place(canvas, left + c * cell_w, top + r * cell_h,
                  cell(source, n, across, cell_w, cell_h), key, remap);
        }
    }
}

void sprites(const Canvas &canvas, const i64 *xs, const i64 *ys, const i64 *cells,
             std::size_t count, const Image &sheet, i64 cell_w, i64 cell_h, int key,
             const std::uint8_t *remap) {
    std::vector<std::uint8_t> snapshot;
    const Image source = readable(sheet, canvas, snapshot);
    const i64 across = sheet.width / cell_w;
    for (std::size_t i = 0; i < count; ++i) {
        const i64 n = cells[i];
        if (n < 0) continue;
        place(canvas, xs[i] - canvas.origin_x, ys[i] - canvas.origin_y,
              cell(source, n, across, cell_w, cell_h), key, remap);
    }
}

// ---- Ellipses, polygons, flood fill -------------------------------------------------------------

namespace {

struct Run {
    i64 lo, hi;
};

// A polygon's edge that is not horizontal, where it crosses the rows of pixel centres: rows top
// to bottom - 1 (row py's centres lie at py + 1/2, never on a vertex), each at x = X. The pixels
// from such a crossing on are those from ceil(X - 1/2), those up to it up to floor(X - 1/2):
// `at` holds X - 1/2 = T / (2(by - ay)), T = (2ax - 1)(by - ay) + (2py + 1 - 2ay)(bx - ax), as
// it steps down the rows from `first` (or from the edge's top, if lower).
struct Crossing {
    i64 top, bottom;
    Stepper at;

    // (ax, ay) is the upper end, (bx, by) the lower (ay < by).
    static Crossing of(i64 ax, i64 ay, i64 bx, i64 by, i64 first) {
        const i64 row = std::max(first, ay);
        // T = 2ax(by - ay) + rest: X - 1/2 is ax more than rest / (2(by - ay)), mostly within a
        // pixel of ax on the edge's first row.
        Crossing edge{ay, by,
                      Stepper::at(i128{2 * (row - ay) + 1} * (bx - ax) - (by - ay), 2 * (bx - ax),
                                  2 * (by - ay))};
        edge.at.q += ax;
        return edge;
    }
};

// The pixels of line(x0, y0, x1, y1) row by row: next(y) gives the run on row y (lo > hi when
// there is none), called for each row in turn from `first` on. By line()'s rule, on a shallow
// line (dx >= dy) the row K = |y - y0| away from the start holds the steps i with
// ceil((2*dx*K - dx + 1) / (2*dy)) <= i <= floor((2*dx*K + dx) / (2*dy)); on a steep one, the
// one step i = K, whose column is floor((2*dx*K + dy - 1) / (2*dy)) away. With
// b(K) = floor((2*dx*K - dx) / (2*dy)), a shallow row K's steps are b(K) + 1 .. b(K + 1): one
// stepper walking b serves both ends.
struct LineRows {
    i64 x0, top, bottom, dx, sx;
    bool steep;
    Stepper at;  // steps with K, up or down the rows as the line goes

    static LineRows of(i64 x0, i64 y0, i64 x1, i64 y1, i64 first) {
        LineRows line;
        line.x0 = x0;
        line.top = std::min(y0, y1);
        line.bottom = std::max(y0, y1);
        line.dx = std::abs(x1 - x0);
        line.sx = x1 >= x0 ? 1 : -1;
        const i64 dy = line.bottom - line.top, dx = line.dx;
        line.steep = dy > dx;
        if (dy == 0) {  // one row: the steps 0..dx, as the one step from -1 to dx gives them
            line.at = {-1, 0, dx + 1, 0, 1};
            return line;
        }
        const i64 k0 = std::abs(std::max(first, line.top) - y0);
        // Down the rows, K grows with the row; up them, it shrinks.
        const i64 a = y1 >= y0 ? 2 * dx : -2 * dx;
        if (line.steep) {
            line.at = Stepper::at(i128{2 * dx} * k0 + dy - 1, a, 2 * dy);
        } else if (y1 >= y0) {  // b(k0)
            line.at = Stepper::at(i128{2 * dx} * k0 - dx, a, 2 * dy);
        } else {  // b(k0 + 1)
            line.at = Stepper::at(i128{2 * dx} * k0 + dx, a, 2 * dy);
        }
        return line;
    }

    Run next(i64 y) {
        if (y < top || y > bottom) return {1, 0};
        // The one stepper moves a row along the line: a steep line's run is its value before
        // the move; a shallow one's lies between the values before and after it.
        const i64 before = at.q;
        at.up();
        i64 from, to;
        if (steep) {
            from = to = before;
        } else {
            from = std::max<i64>(std::min(before, at.q) + 1, 0);
            to = std::min(std::max(before, at.q), dx);
        }
        return sx > 0 ? Run{x0 + from, x0 + to} : Run{x0 - to, x0 - from};
    }
};

// N elements on the stack (left uninitialised), more on the heap (std::bad_alloc).
template <typename T, std::size_t N>
class Scratch {
public:
    explicit Scratch(std::size_t n) {
        if (n > N) {
            heap_.resize(n);
            data_ = heap_.data();
        }
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    T &operator[](std::size_t i) { return data_[i]; }
    T *data() { return data_; }

private:
    T local_[N];
    std::vector<T> heap_;
    T *data_ = local_;
};

// Sorts runs by their first pixel and joins those that overlap or touch, leaving out empty ones
// (lo > hi); returns how many are left.
std::size_t join(Run *runs, std::size_t n) {
    if (n > 16) {
        std::sort(runs, runs + n, [](const Run &a, const Run &b) { return a.lo < b.lo; });
    } else {
        for (std::size_t i = 1; i < n; ++i) {
            const Run run = runs[i];
            std::size_t k = i;
            for (; k > 0 && runs[k - 1].lo > run.lo; --k) runs[k] = runs[k - 1];
            runs[k] = run;
        }
    }
    std::size_t m = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Run run = runs[i];
        if (run.lo > run.hi) continue;
        if (m > 0 && run.lo <= runs[m - 1].hi + 1) {
            runs[m - 1].hi = std::max(runs[m - 1].hi, run.hi);
        } else {
            runs[m++] = run;
        }
    }
    return m;
}

// A polygon's pixels row by row: the inside runs by the even-odd rule (its crossings sorted and
// paired from the left), with or without its edges' line pixels. next() is called for each row in
// turn from `first` on.
class PolygonRows {
public:
    PolygonRows(const i64 *xs, const i64 *ys, std::size_t count, i64 ox, i64 oy, i64 first,
                bool edges)
        : crossings_(count), lines_(edges ? count : 0), found_(count), order_(count) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t j = i + 1 == count ? 0 : i + 1;
            const i64 x0 = xs[i] - ox, y0 = ys[i] - oy, x1 = xs[j] - ox, y1 = ys[j] - oy;
            if (std::max(y0, y1) < first) continue;  // above every row asked for
            if (edges) lines_[lines++] = LineRows::of(x0, y0, x1, y1, first);
            if (y0 == y1 || std::max(y0, y1) == first) continue;
            crossings_[crossings++] =
                y0 < y1 ? Crossing::of(x0, y0, x1, y1, first) : Crossing::of(x1, y1, x0, y0, first);
        }
    }

    // The pixels of row py as sorted runs that neither overlap nor touch, in `runs` (room for
    // 2 * count + 1); returns how many. Without the edges, the inside runs as they pair up
    // (sorted, but some may be empty).
    std::size_t next(i64 py, Run *runs) {
        if (py >= change_) activate(py);
        // The edges that span the row, in the order of their crossings on the row before: they
        // change places only where edges cross, so the sort mostly finds them in order.
        auto *found = found_.data();
        for (std::size_t i = 0; i < active_; ++i) {
            Crossing &edge = crossings_[order_[i]];
            found[i] = {edge.at.ceil(), edge.at.q, order_[i]};
            edge.at.up();
        }
        const std::size_t k = active_;
        for (std::size_t i = 1; i < k; ++i) {
            const Found f = found[i];
            std::size_t m = i;
            for (; m > 0 && f.before(found[m - 1]); --m) found[m] = found[m - 1];
            found[m] = f;
        }
        std::size_t n = 0;
        for (std::size_t i = 0; i < k; ++i) order_[i] = found[i].edge;
        for (std::size_t m = 0; m + 1 < k; m += 2) runs[n++] = {found[m].lo, found[m + 1].hi};
        if (lines == 0) return n;
        for (std::size_t e = 0; e < lines; ++e) {
            const Run run = lines_[e].next(py);
            if (run.lo <= run.hi) runs[n++] = run;
        }
        return join(runs, n);
    }

private:
    struct Found {
        i64 lo, hi;  // the pixels from the crossing on start at lo, those up to it end at hi
        std::size_t edge;
        bool before(const Found &o) const { return lo < o.lo || (lo == o.lo && hi < o.hi); }
    };

    // The edges that span row py, and the next row where that changes.
    void activate(i64 py) {
        active_ = 0;
        change_ = INT64_MAX;
        for (std::size_t e = 0; e < crossings; ++e) {
            const Crossing &edge = crossings_[e];
            if (edge.top <= py && py < edge.bottom) {
                order_[active_++] = e;
                change_ = std::min(change_, edge.bottom);
            } else if (edge.top > py) {
                change_ = std::min(change_, edge.top);
            }
        }
    }

    Scratch<Crossing, 8> crossings_;
    Scratch<LineRows, 8> lines_;
    Scratch<Found, 8> found_;
    Scratch<std::size_t, 8> order_;
    std::size_t crossings = 0, lines = 0, active_ = 0;
    i64 change_ = INT64_MIN;
};

// Draws the pixels of `row` (sorted runs that neither overlap nor touch, on canvas row py) that
// have a neighbour outside the shape whose rows above and below are `above` and `below`: those
// at a run's ends, and those the rows above and below do not both hold.
template <typename Pixels>
void outline_row(const Pixels &pixels, i64 py, const Run *row, std::size_t n, const Run *above,
                 std::size_t na, const Run *below, std::size_t nb, std::uint8_t c) {
    if (na == 0 || nb == 0) {  // the first or last row: all of it
        for (std::size_t i = 0; i < n; ++i) pixels.run(py, row[i].lo, row[i].hi, c);
        return;
    }
    if (n == 1 && na == 1 && nb == 1) {  // the common case: one run in each row
        const i64 lo = std::max(std::max(row[0].lo + 1, above[0].lo), below[0].lo);
        const i64 hi = std::min(std::min(row[0].hi - 1, above[0].hi), below[0].hi);
        if (lo <= hi) {
            pixels.run(py, row[0].lo, lo - 1, c);
            pixels.run(py, hi + 1, row[0].hi, c);
        } else {
            pixels.run(py, row[0].lo, row[0].hi, c);
        }
        return;
    }
    std::size_t ia = 0, ib = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const i64 lo = row[i].lo + 1, hi = row[i].hi - 1;  // where a pixel may be inside
        i64 x = row[i].lo;                                 // the first pixel not yet drawn
        while (ia < na && above[ia].hi < lo) ++ia;
        while (ib < nb && below[ib].hi < lo) ++ib;
        for (std::size_t ja = ia, jb = ib; ja < na && jb < nb;) {
            const i64 from = std::max({lo, above[ja].lo, below[jb].lo});
            if (from > hi) break;
            const i64 to = std::min({hi, above[ja].hi, below[jb].hi});
            if (from <= to) {
                pixels.run(py, x, from - 1, c);
                x = to + 1;
            }
            if (above[ja].hi < below[jb].hi) {
                ++ja;
            } else {
                ++jb;
            }
        }
        pixels.run(py, x, row[i].hi, c);
    }
}

// The largest m >= 0 with m^2 * h^2 <= w^2 * (h^2 - dy^2), or -1 if h^2 < dy^2: the half-width
// in half pixels of an ellipse's row dy half pixels from its centre.
i64 ellipse_half(i64 w, i64 h, i64 dy) {
    if (dy < 0) dy = -dy;
    if (dy > h) return -1;
    const i128 limit = i128{w} * w * (i128{h} * h - i128{dy} * dy);
    const i128 hh = i128{h} * h;
    i64 m = static_cast<i64>(static_cast<double>(w) *
                             std::sqrt(std::max(0.0, 1.0 - (static_cast<double>(dy) / h) *
                                                               (static_cast<double>(dy) / h))));
    while (m > 0 && i128{m} * m * hh > limit) --m;
    while (i128{m + 1} * (m + 1) * hh <= limit) ++m;
    return m;
}

// An ellipse's rows: span(py) gives the run of row py (lo > hi when there is none). The
// half-width m of a row dy half pixels from the centre is the largest with m^2 * h^2 <= w^2 *
// (h^2 - dy^2): below 2^30 for w * h, a double's estimate settled in 64 bits; above, in 128.
struct EllipseRows {
    EllipseRows(i64 x_, i64 y_, i64 w_, i64 h_)
        : x(x_),
          y(y_),
          w(w_),
          h(h_),
          narrow(w_ * h_ < (i64{1} << 30)),
          ww(w_ * w_),
          hh(h_ * h_),
          centre(2 * x_ + w_ - 1),
          per_h(1.0 / static_cast<double>(h_)) {}

    std::pair<i64, i64> span(i64 py) const {
        const i64 dy = 2 * py + 1 - 2 * y - h;
        i64 m;
        if (narrow) {
            if (dy > h || dy < -h) return {1, 0};
            const i64 limit = ww * (hh - dy * dy);
            m = static_cast<i64>(std::sqrt(static_cast<double>(limit)) * per_h);
            while (m > 0 && m * m * hh > limit) --m;
            while ((m + 1) * (m + 1) * hh <= limit) ++m;
        } else {
            m = ellipse_half(w, h, dy);
            if (m < 0) return {1, 0};
        }
        // |2px + 1 - 2x - w| <= m
        return {-floor_div64(m - centre, 2), floor_div64(centre + m, 2)};
    }

    i64 x, y, w, h;
    bool narrow;  // below 2^30 for w * h: every product fits 64 bits
    i64 ww, hh, centre;
    double per_h;
};

}  // namespace

void ellipse(const Canvas &canvas, int x_, int y_, int w_, int h_, std::uint8_t c, bool fill) {
    if (w_ < 1 || h_ < 1) return;
    const EllipseRows rows(x_ - canvas.origin_x, y_ - canvas.origin_y, w_, h_);
    const i64 first = std::max<i64>(rows.y, 0);
    const i64 last = std::min<i64>(rows.y + rows.h - 1, canvas.height - 1);
    if (first > last || rows.x >= canvas.width || rows.x + rows.w <= 0) return;
    // Rows py and sum - py are alike: each row of the upper half is worked out once and drawn
    // twice, then the rows below whose twins are off the canvas.
    const i64 sum = 2 * rows.y + rows.h - 1;
    const i64 upper = std::min(last, floor_div64(sum, 2));
    const i64 rest = std::max({upper + 1, sum - first + 1, first});
    with_shape_pixels(canvas, [&](const auto &pixels) {
        const auto draw = [&](i64 py, i64 lo, i64 hi, bool twice) {
            pixels.run(py, lo, hi, c);
            const i64 twin = sum - py;
            if (twice && twin != py && twin <= last) pixels.run(twin, lo, hi, c);
        };
        if (fill) {
            for (i64 py = first; py <= upper; ++py) {
                const auto [lo, hi] = rows.span(py);
                draw(py, lo, hi, true);
            }
            for (i64 py = rest; py <= last; ++py) {
                const auto [lo, hi] = rows.span(py);
                draw(py, lo, hi, false);
            }
            return;
        }
        // Each row is one run: its pixels with all four neighbours inside are those one in from
        // its ends that the rows above and below also hold.
        const auto outline_rows = [&](i64 from, i64 to, bool twice) {
            if (from > to) return;
            auto above = rows.span(from - 1), row = rows.span(from);
            for (i64 py = from; py <= to; ++py) {
                const auto below = rows.span(py + 1);
                const auto [lo, hi] = row;
                const i64 inner_lo = std::max({lo + 1, above.first, below.first});
                const i64 inner_hi = std::min({hi - 1, above.second, below.second});
                const bool closed = above.first <= above.second && below.first <= below.second;
                if (closed && inner_lo <= inner_hi) {
                    draw(py, lo, inner_lo - 1, twice);
                    draw(py, inner_hi + 1, hi, twice);
                } else {
                    draw(py, lo, hi, twice);
                }
                above = row;
                row = below;
            }
        };
        outline_rows(first, upper, true);
        outline_rows(rest, last, false);
    });
}

namespace {

// The indices of a triangle's three corners from the top row down (ties in their order).
std::array<int, 3> by_row(const i64 *y) {
    int a = 0, b = 1, c = 2;
    if (y[b] < y[a]) std::swap(a, b);
    if (y[c] < y[b]) std::swap(b, c);
    if (y[b] < y[a]) std::swap(a, b);
    return {a, b, c};
}

// Draws rows from..to of a shape whose row py runs from left's ceiling to right's quotient, and
// returns the steppers as they end. A function of its own, with the steppers in locals, so that
// their values stay in registers (as references chosen at run time, they lived in memory).
template <typename Pixels>
[[gnu::noinline]] std::pair<Stepper, Stepper> spans(const Pixels &pixels, Stepper left,
                                                    Stepper right, i64 from, i64 to,
                                                    std::uint8_t c) {
    for (i64 py = from; py <= to; ++py) {
        pixels.run(py, left.ceil(), right.q, c);
        left.up();
        right.up();
    }
    return {left, right};
}

// A value stepped row by row in 32.32 fixed point: value >> 32 on each row, `step` added a row.
struct Fixed {
    i64 value, step;
};

// An edge from (ax, ay) down to (bx, by) (ay < by) in 32.32 fixed point, for shapes of the usual
// sizes. Each value a shape takes from it on the row m below its top is ax + floor((N + b) / c),
// N = 2 (bx - ax) m and c = 2 (by - ay), for a constant b with -dx - dy <= b <= dx + 2 dy: that
// is (sum + at(b)) >> 32, the sum growing by one step a row. Exactly so: the numerators N + b + K c
// (K = 2 dx + 1) are at least 0 and below 2^32 / c, where floor(n M / 2^32), M = ceil(2^32 / c),
// is floor(n / c) (n (M c - 2^32) < 2^32); the value is that less K, plus ax. No division but M's
// and no carry from row to row.
class FixedEdge {
public:
    static constexpr i64 kOne = i64{1} << 32;

    // Positioned at row `row` (kept within the edge's rows); false where the sizes do not allow.
    static bool of(i64 ax, i64 ay, i64 bx, i64 by, i64 row, FixedEdge &e) {
        const i64 wide = bx - ax, dx = std::abs(wide), dy = by - ay;
        constexpr i64 kSide = i64{1} << 15, kRange = i64{1} << 28;
        if (dx >= kSide || dy >= kSide || ax <= -kRange || ax >= kRange) return false;
        const i64 c = 2 * dy;
        if ((6 * dx * dy + dx + 4 * dy) * c >= kOne) return false;  // the numerators' bound
        e.unit_ = (kOne + c - 1) / c;
        e.sum_ = 2 * wide * std::clamp<i64>(row - ay, 0, dy) * e.unit_;
        e.step_ = 2 * wide * e.unit_;
        e.bias_ = (2 * dx + 1) * c;
        e.base_ = (ax - (2 * dx + 1)) * kOne;
        e.wide_ = wide;
        e.dy_ = dy;
        return true;
    }

    i64 at(i64 b) const { return (b + bias_) * unit_ + base_; }
    // The first centre from where the edge crosses the row's centres on, and the last before.
    Fixed inside_from() const { return {sum_ + at(wide_ + dy_ - 1), step_}; }
    Fixed inside_to() const { return {sum_ + at(wide_ - dy_), step_}; }

    i64 sum_, step_, unit_, bias_, base_, wide_, dy_;
};

// spans() with the edges in fixed point.
template <typename Pixels>
[[gnu::noinline]] void spans_fixed(const Pixels &pixels, Fixed &left, Fixed &right, i64 from,
                                   i64 to, std::uint8_t c) {
    i64 l = left.value, r = right.value;
    const i64 dl = left.step, dr = right.step;
    for (i64 py = from; py <= to; ++py) {
        pixels.run(py, l >> 32, r >> 32, c);
        l += dl;
        r += dr;
    }
    left.value = l;
    right.value = r;
}

// Draws the inside of rows first..last of the triangle with corners (x[i], y[i]) as
// TriangleRows::fill() does, with its edges in fixed point; false (nothing drawn) where their
// sizes do not allow.
template <typename Pixels>
bool fill_fixed(const Pixels &pixels, const i64 *x, const i64 *y, i64 first, i64 last,
                std::uint8_t c) {
    const auto [a, b, d] = by_row(y);
    if (y[a] == y[d]) return true;  // no row's centres inside
    FixedEdge along, upper{}, lower{};
    const i64 from = std::max(first, y[a]);
    if (!FixedEdge::of(x[a], y[a], x[d], y[d], from, along) ||
        (y[a] < y[b] && !FixedEdge::of(x[a], y[a], x[b], y[b], from, upper)) ||
        (y[b] < y[d] && !FixedEdge::of(x[b], y[b], x[d], y[d], std::max(first, y[b]), lower))) {
        return false;
    }
    // B's side of AC, from the sign of (B - A) x (C - A), each difference below 2^15.
    const bool long_left = (x[b] - x[a]) * (y[d] - y[a]) - (y[b] - y[a]) * (x[d] - x[a]) > 0;
    Fixed along_f = long_left ? along.inside_from() : along.inside_to();
    const auto half = [&](const FixedEdge &edge, i64 from_row, i64 to_row) {
        if (from_row > to_row) return;
        if (long_left) {
            Fixed right = edge.inside_to();
            spans_fixed(pixels, along_f, right, from_row, to_row, c);
        } else {
            Fixed left = edge.inside_from();
            spans_fixed(pixels, left, along_f, from_row, to_row, c);
        }
    };
    if (y[a] < y[b]) half(upper, from, std::min(last, y[b] - 1));
    if (y[b] < y[d]) half(lower, std::max(first, y[b]), std::min(last, y[d] - 1));
    return true;
}

// A triangle's pixels row by row, as PolygonRows gives them: its vertices sorted by row, A above
// B above C, each row's inside lies between the long edge AC and the short edge, AB or BC, that
// spans it, always on the same side of AC (the side B is on).
class TriangleRows {
public:
    TriangleRows(const i64 *xs, const i64 *ys, std::size_t, i64 ox, i64 oy, i64 first, bool edges) {
        i64 x[3], y[3];
        upper_ = lower_ = long_ = Crossing{0, 0, {0, 0, 0, 0, 1}};
        for (int i = 0; i < 3; ++i) {
            x[i] = xs[i] - ox;
            y[i] = ys[i] - oy;
        }
        const auto [a, b, c] = by_row(y);
        top_ = y[a];
        middle_ = y[b];
        bottom_ = y[c];
        if (top_ < bottom_) {
            long_ = Crossing::of(x[a], y[a], x[c], y[c], first);
            if (top_ < middle_) upper_ = Crossing::of(x[a], y[a], x[b], y[b], first);
            if (middle_ < bottom_) lower_ = Crossing::of(x[b], y[b], x[c], y[c], first);
            // B's side of AC, from the sign of (B - A) x (C - A): the products need 70 bits.
            const i128 cross =
                i128{x[b] - x[a]} * (y[c] - y[a]) - i128{y[b] - y[a]} * (x[c] - x[a]);
            long_left_ = cross > i128{0};
        }
        lines_ = edges ? 3 : 0;
        for (std::size_t i = 0; i < lines_; ++i) {
            const std::size_t j = i == 2 ? 0 : i + 1;
            line_[i] = LineRows::of(x[i], y[i], x[j], y[j], first);
        }
    }

    // Draws the inside of rows first..last, as next() gives it, each row from the left edge's
    // crossing to the right one's.
    template <typename Pixels>
    void fill(const Pixels &pixels, i64 first, i64 last, std::uint8_t c) {
        Stepper along = long_.at;
        const auto half = [&](Stepper edge, i64 from, i64 to) {
            if (long_left_) {
                along = spans(pixels, along, edge, from, to, c).first;
            } else {
                along = spans(pixels, edge, along, from, to, c).second;
            }
        };
        half(upper_.at, std::max(first, top_), std::min(last, middle_ - 1));
        half(lower_.at, std::max(first, middle_), std::min(last, bottom_ - 1));
    }

    std::size_t next(i64 py, Run *runs) {
        std::size_t n = 0;
        if (top_ <= py && py < bottom_) {
            Stepper &edge = py < middle_ ? upper_.at : lower_.at;
            Stepper &left = long_left_ ? long_.at : edge, &right = long_left_ ? edge : long_.at;
            runs[n++] = {left.ceil(), right.q};
            long_.at.up();
            edge.up();
        }
        if (lines_ == 0) return n;
        // Mostly each edge's run meets the inside or the runs before it, and the row is one run.
        i64 lo = 1, hi = 0;
        if (n == 1) {
            lo = runs[0].lo;
            hi = runs[0].hi;
        }
        bool one = true;
        for (std::size_t e = 0; e < 3; ++e) {
            const Run run = line_[e].next(py);
            if (run.lo > run.hi) continue;
            runs[n++] = run;
            if (lo > hi) {
                lo = run.lo;
                hi = run.hi;
            } else if (run.lo <= hi + 1 && run.hi + 1 >= lo) {
                lo = std::min(lo, run.lo);
                hi = std::max(hi, run.hi);
            } else {
                one = false;
            }
        }
        if (!one) return join(runs, n);
        if (lo > hi) return 0;
        runs[0] = {lo, hi};
        return 1;
    }

private:
    i64 top_, middle_, bottom_;
    Crossing long_, upper_, lower_;
    bool long_left_ = false;
    std::size_t lines_;
    LineRows line_[3];
};

// Draws line(x0, y0, x1, y1) as line() does: a line with both ends on the canvas (the usual edge
// of a shape) is walked from its first pixel on, with none of line()'s clipping.
void edge(const Canvas &canvas, i64 x0, i64 y0, i64 x1, i64 y1, std::uint8_t c) {
    const auto on = [&](i64 x, i64 y) {
        return x >= 0 && x < canvas.width && y >= 0 && y < canvas.height;
    };
    const i64 ax = x0 - canvas.origin_x, ay = y0 - canvas.origin_y;
    const i64 bx = x1 - canvas.origin_x, by = y1 - canvas.origin_y;
    if (!on(ax, ay) || !on(bx, by)) {
        draw_line<true>(canvas, ax, ay, bx, by, c);
        return;
    }
    const i64 dx = std::abs(bx - ax), dy = std::abs(by - ay);
    const bool steep = dy > dx;
    const i64 major = steep ? dy : dx, minor = steep ? dx : dy;
    const i64 su = (steep ? by >= ay : bx >= ax) ? 1 : -1;
    const i64 sv = (steep ? bx >= ax : by >= ay) ? 1 : -1;
    const i64 u_step = su * (steep ? canvas.pitch : canvas.step);
    const i64 v_step = sv * (steep ? canvas.step : canvas.pitch);
    std::uint8_t *p = canvas.at(ax, ay);
    const i64 u = steep ? ay : ax, v = steep ? ax : ay;
    if (major < Fraction::kMajor) {
        (canvas.pattern != 0 ? walk_fixed<true>
                             : walk_fixed<false>)(canvas, p, major, steep, u, v, su, sv,
                                                  Fraction::of(major, minor, 0, 0), u_step, v_step,
                                                  c);
        return;
    }
    (canvas.pattern != 0 ? walk<true> : walk<false>)(canvas, p, major, steep, u, v, su, sv,
                                                     2 * minor - major, u_step, u_step + v_step,
                                                     2 * minor, 2 * minor - 2 * major, c);
}

template <typename Rows>
void draw_polygon(const Canvas &canvas, const i64 *xs, const i64 *ys, std::size_t count,
                  std::uint8_t c, bool fill, i64 top, i64 bottom) {
    const i64 ox = canvas.origin_x, oy = canvas.origin_y;
    const std::size_t room = 2 * count + 1;
    Scratch<Run, 3 * 7> runs(3 * room);
    if (fill) {  // the inside, then the edges
        const i64 first = std::max<i64>(top - oy, 0);
        const i64 last = std::min<i64>(bottom - oy - 1, canvas.height - 1);
        if (first <= last) {
            with_shape_pixels(canvas, [&](const auto &pixels) {
                if constexpr (std::is_same_v<Rows, TriangleRows>) {
                    const i64 x[3] = {xs[0] - ox, xs[1] - ox, xs[2] - ox};
                    const i64 y[3] = {ys[0] - oy, ys[1] - oy, ys[2] - oy};
                    if (!fill_fixed(pixels, x, y, first, last, c)) {
                        TriangleRows(xs, ys, count, ox, oy, first, false)
                            .fill(pixels, first, last, c);
                    }
                } else {
                    Rows rows(xs, ys, count, ox, oy, first, false);
                    for (i64 py = first; py <= last; ++py) {
                        const std::size_t n = rows.next(py, runs.data());
                        for (std::size_t i = 0; i < n; ++i) {
                            pixels.run(py, runs[i].lo, runs[i].hi, c);
                        }
                    }
                }
            });
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t j = i + 1 == count ? 0 : i + 1;
            edge(canvas, xs[i], ys[i], xs[j], ys[j], c);
        }
        return;
    }
    // The rows drawn and those on either side, which their pixels' neighbours are in.
    const i64 first = std::max<i64>(top - oy, -1);
    const i64 last = std::min<i64>(bottom - oy, canvas.height);
    Rows rows(xs, ys, count, ox, oy, first, true);
    with_shape_pixels(canvas, [&](const auto &pixels) {
        Run *above = runs.data(), *row = above + room, *below = row + room;
        std::size_t na = 0, n = rows.next(first, row), nb = 0;
        for (i64 py = first; py <= last; ++py) {
            nb = py < last ? rows.next(py + 1, below) : 0;
            if (py >= 0 && py < canvas.height) {
                outline_row(pixels, py, row, n, above, na, below, nb, c);
            }
            std::swap(above, row);
            std::swap(row, below);
            na = n;
            n = nb;
        }
    });
}

// Bits from..to (0 <= from <= to < 64) set.
std::uint64_t bits(i64 from, i64 to) {
    return (std::uint64_t{2} << to) - (std::uint64_t{1} << from);
}

// The line's runs on `count` rows from `line`'s first, as LineRows::next gives them (never empty
// on a row the line spans), or'ed into row[] as bits from `base`, by a loop of the line's kind
// (kRight: x1 >= x0).
template <bool kSteep, bool kRight>
void or_line(const LineRows &line, i64 base, std::uint64_t *row, i64 count) {
    Stepper at = line.at;
    const i64 x0 = line.x0 - base, dx = line.dx;
    for (i64 i = 0; i < count; ++i) {
        const i64 before = at.q;
        at.up();
        if constexpr (kSteep) {
            row[i] |= std::uint64_t{1} << (kRight ? x0 + before : x0 - before);
        } else {
            const i64 from = std::max<i64>(std::min(before, at.q) + 1, 0);
            const i64 to = std::min(std::max(before, at.q), dx);
            row[i] |= kRight ? bits(x0 + from, x0 + to) : bits(x0 - to, x0 - from);
        }
    }
}

void or_line(const LineRows &line, i64 base, std::uint64_t *row, i64 count) {
    if (line.steep) {
        (line.sx > 0 ? or_line<true, true> : or_line<true, false>)(line, base, row, count);
    } else {
        (line.sx > 0 ? or_line<false, true> : or_line<false, false>)(line, base, row, count);
    }
}

#ifdef JXFB_MASKED_STORES
// Whether the processor stores bytes under a mask (AVX-512 BW and VL): a row of a narrow shape is
// then written whole, its bits the mask, with no read of the picture and no loop over its runs.
const bool kMaskedStores = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}();

// draw_row_bits() on a plain picture: `count` rows of 64 pixels from p, `pitch` apart, each
// stored as two masked halves of 32 bytes (no 512-bit registers, which slow some processors).
__attribute__((target("avx512bw,avx512vl"))) [[gnu::noinline]] void store_rows(
    std::uint8_t *p, i64 pitch, const std::uint64_t *rows, i64 count, bool fill, int down, int up,
    std::uint8_t c) {
    const __m256i colour = _mm256_set1_epi8(static_cast<char>(c));
    for (i64 i = 0; i < count; ++i, p += pitch) {
        std::uint64_t word = rows[i];
        if (!fill) word &= ~(rows[i - 1] & rows[i + 1] & (word << 1) & (word >> 1));
        word = (word >> down) << up;
        _mm256_mask_storeu_epi8(p, static_cast<__mmask32>(word), colour);
        _mm256_mask_storeu_epi8(p + 32, static_cast<__mmask32>(word >> 32), colour);
    }
}
#else
constexpr bool kMaskedStores = false;
#endif

// Draws rows from..to of a shape less than 65 pixels wide from their pixels as bits (bit k of
// rows[py - first]: column base + k; the rows on either side, which an outline needs, are in
// the array too): filled, every set bit; outlined, those whose neighbours to the left and right
// (the row's bits shifted) and above and below (the next rows' bits) are not all set. Every
// value a parameter, so that none is read again from memory after each pixel stored.
template <typename Pixels>
[[gnu::always_inline]] inline void draw_row_bits(const Pixels pixels, const std::uint64_t *rows,
                                                 i64 first, i64 from, i64 to, i64 base, bool fill,
                                                 std::uint8_t c) {
    // Plain rows at least 64 pixels wide are written through a window of 64 columns on the
    // canvas, from `at`: the shape's columns, or as near them as the canvas allows, the bits moved
    // to it (those of columns off the canvas dropped); a row at once where the processor stores
    // under a mask, otherwise 8 pixels at a time.
    const bool whole = pixels.kPlain && pixels.width >= 64;
    const i64 at = whole ? std::clamp<i64>(base, 0, pixels.width - 64) : base;
    const int down = static_cast<int>(std::max<i64>(at - base, 0));
    const int up = static_cast<int>(std::max<i64>(base - at, 0));
#ifdef JXFB_MASKED_STORES
    if (whole && kMaskedStores) {
        if (from <= to) {
            store_rows(pixels.row(from) + at, pixels.pitch, rows + (from - first), to - from + 1,
                       fill, down, up, c);
        }
        return;
    }
#endif
    for (i64 py = from; py <= to; ++py) {
        const std::uint64_t *row = rows + (py - first);
        std::uint64_t word = row[0];
        if (!fill) word &= ~(row[-1] & row[1] & (word << 1) & (word >> 1));
        word = (word >> down) << up;
        if (whole && !fill) {
            std::uint8_t *p = pixels.row(py) + at;
            while (word != 0) {
                const int group = __builtin_ctzll(word) & ~7;
                fill_masked(p + group, kRowMasks[(word >> group) & 0xFF], c);
                word &= ~(std::uint64_t{0xFF} << group);
            }
            continue;
        }
        while (word != 0) {
            const int from_bit = __builtin_ctzll(word);
            const std::uint64_t rest = ~(word >> from_bit);
            const int length = rest == 0 ? 64 - from_bit : __builtin_ctzll(rest);
            word &= length + from_bit >= 64 ? 0 : ~std::uint64_t{0} << (from_bit + length);
            if (whole) {
                fill_run(pixels.row(py) + at + from_bit, length, c);
            } else {
                pixels.run(py, at + from_bit, at + from_bit + length - 1, c);
            }
        }
    }
}

void draw_row_bits(const Canvas &canvas, const std::uint64_t *rows, i64 first, i64 last, i64 base,
                   bool fill, std::uint8_t c) {
    const i64 from = std::max<i64>(first, 0), to = std::min<i64>(last, canvas.height - 1);
    with_shape_pixels(canvas, [&](const auto &pixels) {
        draw_row_bits(pixels, rows, first, from, to, base, fill, c);
    });
}

// Draws a polygon less than 65 pixels wide (its vertices' columns from `left` on) from each row's
// pixels as bits: filled, the rows' runs; outlined, the pixels whose neighbours to the left and
// right (the row's bits shifted) and above and below (the next rows' bits) are not all set. A row's
// inside is the bits from each crossing on, exclusive-or'ed (the even-odd rule), with the bit of
// a crossing that falls on a pixel's centre; its edges' line pixels are or'ed in.
void draw_narrow_polygon(const Canvas &canvas, const i64 *xs, const i64 *ys, std::size_t count,
                         std::uint8_t c, bool fill, i64 left, i64 top, i64 bottom) {
    const i64 ox = canvas.origin_x, oy = canvas.origin_y, base = left - ox;
    // Filled, the rows drawn; outlined, those and the rows on either side.
    const i64 first = std::max<i64>(top - oy, fill ? 0 : -1);
    const i64 last = std::min<i64>(bottom - oy, canvas.height - (fill ? 1 : 0));
    const std::size_t n = static_cast<std::size_t>(last - first + 1);
    Scratch<std::uint64_t, 2 * 128> scratch(2 * (n + 2));
    std::memset(scratch.data(), 0, 2 * (n + 2) * sizeof(std::uint64_t));
    // rows[-1] and rows[n]: none, above and below.
    std::uint64_t *rows = scratch.data() + 1, *inside = rows + n + 2;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t j = i + 1 == count ? 0 : i + 1;
        const i64 x0 = xs[i] - ox, y0 = ys[i] - oy, x1 = xs[j] - ox, y1 = ys[j] - oy;
        if (std::max(y0, y1) < first || std::min(y0, y1) > last) continue;
        const LineRows line = LineRows::of(x0, y0, x1, y1, first);
        i64 from = std::max(first, line.top), to = std::min(last, line.bottom);
        or_line(line, base, rows + (from - first), to - from + 1);
        if (y0 == y1) continue;
        const Crossing edge =
            y0 < y1 ? Crossing::of(x0, y0, x1, y1, first) : Crossing::of(x1, y1, x0, y0, first);
        Stepper at = edge.at;
        from = std::max(first, edge.top);
        to = std::min(last, edge.bottom - 1);
        for (i64 py = from; py <= to; ++py) {
            // The centres from the crossing on: from bit k, which is at most right - left.
            const i64 k = at.ceil() - base;
            inside[py - first] ^= ~std::uint64_t{0} << k;
            if (at.r == 0) rows[py - first] |= std::uint64_t{1} << k;  // seldom
            at.up();
        }
    }
    for (std::size_t i = 0; i < n; ++i) rows[i] |= inside[i];
    draw_row_bits(canvas, rows, first, last, base, fill, c);
}

// One edge of a triangle less than 65 pixels wide, from its upper end (ax, ay) to its lower end
// (bx, by), row by row as bits from the triangle's left: both what it adds to a row (its line's
// pixels) and where it crosses the row's centres come from one quotient q and remainder r of
// N / c, N = 2 (bx - ax) m and c = 2 (by - ay), m rows below its top. Each is floor((N + B) / c)
// for a constant B, which is q + floor(B / c) + (r >= c - B mod c): one comparison.
//   line (by line()'s rule, drawn from (x0, y0) to (x1, y1), sx the sign of x1 - x0):
//     steep (dy > dx): the one pixel ax + floor((N + dy - 1) / c) (sx > 0) or
//                      ax + floor((N + dy) / c) (sx < 0);
//     shallow: the run from ax + floor((N + c - dx) / c) to ax + floor((N + dx) / c) (sx > 0),
//              or ax + floor((N + c - 1 - dx) / c) to ax + floor((N + dx - 1) / c) (sx < 0),
//              within the line's columns;
//   crossing: the centres from ceil(X - 1/2) = ax + floor((N + (bx - ax) + (by - ay) - 1) / c)
//             on, X - 1/2 = ax + (N + (bx - ax) - (by - ay)) / c lying on a centre when
//             r = (by - ay) - (bx - ax) mod c.
// A horizontal edge is its one row's run (a quotient that never moves). EdgeEnds holds an edge's
// ends and those constants B; EdgeRows steps it.
struct EdgeEnds {
    i64 ax, ay, bx, by, wide, dx, dy;
    bool steep;
    // The B of the line's run ends, of the crossing, and of a crossing on a centre (where N + on
    // is a multiple of c).
    i64 lo, hi, cross, on;

    EdgeEnds(i64 x0, i64 y0, i64 x1, i64 y1) {
        const bool down = y0 <= y1;
        ax = down ? x0 : x1;
        ay = down ? y0 : y1;
        bx = down ? x1 : x0;
        by = down ? y1 : y0;
        wide = bx - ax;
        dx = std::abs(wide);
        dy = by - ay;
        steep = dy > dx;
        const bool right = x1 >= x0;
        if (steep) {
            lo = hi = right ? dy - 1 : dy;
        } else {
            lo = right ? 2 * dy - dx : 2 * dy - 1 - dx;
            hi = right ? dx : dx - 1;
        }
        cross = wide + dy - 1;
        on = wide - dy;
    }
};

class EdgeRows {
public:
    // Positioned at row `row` (ay <= row <= by).
    EdgeRows(i64 x0, i64 y0, i64 x1, i64 y1, i64 row) {
        const EdgeEnds e(x0, y0, x1, y1);
        span_lo_ = std::min(e.ax, e.bx);
        span_hi_ = std::max(e.ax, e.bx);
        steep_ = e.steep;
        if (e.dy == 0) {
            at_ = {0, 0, 0, 0, 1};
            lo_ = {span_lo_, 1};
            hi_ = {span_hi_, 1};
            return;
        }
        const i64 c = 2 * e.dy;
        at_ = Stepper::at(i128{2 * e.wide} * (row - e.ay), 2 * e.wide, c);
        const auto offset = [&](i64 b) {
            const i64 q = floor_div64(b, c);
            return Offset{e.ax + q, c - (b - q * c)};
        };
        lo_ = offset(e.lo);
        hi_ = offset(e.hi);
        cross_ = offset(e.cross);
        on_ = -e.on - floor_div64(-e.on, c) * c;
    }

    bool steep() const { return steep_; }
    // The line's pixels on the current row: a steep line's one pixel, which never leaves its
    // columns, or a run.
    template <bool kSteep>
    std::uint64_t line() const {
        if constexpr (kSteep) return std::uint64_t{1} << lo_.at(at_);
        return bits(std::max(lo_.at(at_), span_lo_), std::min(hi_.at(at_), span_hi_));
    }
    std::uint64_t line() const { return steep_ ? line<true>() : line<false>(); }
    // The centres from the crossing on toggled in `inside`, and the bit of a crossing that
    // falls on a centre set in `on`.
    void cross(std::uint64_t &inside, std::uint64_t &on) const {
        const i64 k = cross_.at(at_);
        inside ^= ~std::uint64_t{0} << k;
        on |= std::uint64_t{at_.r == on_} << k;
    }
    void next() { at_.up(); }

private:
    struct Offset {
        i64 base, carry;  // base + q, one more where r >= carry
        i64 at(const Stepper &s) const { return s.q + base + (s.r >= carry ? 1 : 0); }
    };

    Stepper at_;
    Offset lo_, hi_, cross_{0, 1};
    i64 span_lo_, span_hi_, on_ = -1;
    bool steep_ = false;
};

// EdgeRows with its edge in fixed point (FixedEdge), for triangles of the usual sizes: each
// line end and crossing is the row's sum plus a constant, shifted, and a crossing is on a centre
// where the remainder of its numerator by c is 0, i.e. where that sum's fraction is below M.
class FixedEdgeRows {
public:
    // As EdgeRows(x0, y0, x1, y1, row); false where the sizes do not allow.
    static bool of(i64 x0, i64 y0, i64 x1, i64 y1, i64 row, FixedEdgeRows &f) {
        const EdgeEnds ends(x0, y0, x1, y1);
        f.span_lo_ = std::min(ends.ax, ends.bx);
        f.span_hi_ = std::max(ends.ax, ends.bx);
        f.steep_ = ends.steep;
        FixedEdge e;
        if (ends.dy == 0) {  // its one row's run
            constexpr i64 kRange = i64{1} << 28;
            if (f.span_lo_ <= -kRange || f.span_hi_ >= kRange) return false;
            f.sum_ = f.step_ = f.cross_ = f.on_ = 0;
            f.unit_ = 1;
            f.lo_ = f.span_lo_ * FixedEdge::kOne;
            f.hi_ = f.span_hi_ * FixedEdge::kOne;
            return true;
        }
        if (!FixedEdge::of(ends.ax, ends.ay, ends.bx, ends.by, row, e)) return false;
        f.lo_ = e.at(ends.lo);
        f.hi_ = e.at(ends.hi);
        f.cross_ = e.at(ends.cross);
        f.on_ = e.at(ends.on);
        f.sum_ = e.sum_;
        f.step_ = e.step_;
        f.unit_ = e.unit_;
        return true;
    }

    bool steep() const { return steep_; }
    template <bool kSteep>
    std::uint64_t line() const {
        if constexpr (kSteep) return std::uint64_t{1} << at(lo_);
        return bits(std::max(at(lo_), span_lo_), std::min(at(hi_), span_hi_));
    }
    std::uint64_t line() const { return steep_ ? line<true>() : line<false>(); }
    void cross(std::uint64_t &inside, std::uint64_t &on) const {
        const i64 k = at(cross_);
        inside ^= ~std::uint64_t{0} << k;
        on |= std::uint64_t{static_cast<std::uint32_t>(sum_ + on_) < unit_} << k;
    }
    void next() { sum_ += step_; }

private:
    i64 at(i64 offset) const { return (sum_ + offset) >> 32; }

    i64 sum_, step_, lo_, hi_, cross_, on_, unit_, span_lo_, span_hi_;
    bool steep_;
};

// `count` rows of a narrow triangle where the edges e and f both cross the centres, into
// rows[0..count - 1]: a loop of its own for each kind of line, with the edges' state in locals.
template <bool kSteepE, bool kSteepF, typename Edge>
void edge_rows(Edge &edge_e, Edge &edge_f, std::uint64_t *rows, i64 count) {
    Edge e = edge_e, f = edge_f;
    for (i64 i = 0; i < count; ++i) {
        std::uint64_t inside = 0, on = 0;
        e.cross(inside, on);
        f.cross(inside, on);
        rows[i] = inside | on | e.template line<kSteepE>() | f.template line<kSteepF>();
        e.next();
        f.next();
    }
    edge_e = e;
    edge_f = f;
}

// The rows first..last of a narrow triangle from its edges AB, BC and AC (B's row yb, C's yc), as
// narrow_triangle_rows() gives them.
template <typename Edge>
void stretch_rows(Edge &ab, Edge &bc, Edge &ac, i64 yb, i64 yc, std::uint64_t *rows, i64 first,
                  i64 last) {
    const auto stretch = [&](Edge &e, Edge &f, i64 from, i64 to) {
        if (from > to) return;
        const auto loop =
            e.steep() ? (f.steep() ? edge_rows<true, true, Edge> : edge_rows<true, false, Edge>)
                      : (f.steep() ? edge_rows<false, true, Edge> : edge_rows<false, false, Edge>);
        loop(e, f, rows + (from - first), to - from + 1);
    };
    stretch(ac, ab, first, std::min(last, yb - 1));
    if (first <= yb && yb <= last) {
        std::uint64_t row = ac.line() | ab.line() | bc.line();
        if (yb < yc) {
            std::uint64_t inside = 0, on = 0;
            ac.cross(inside, on);
            bc.cross(inside, on);
            row |= inside | on;
        }
        rows[yb - first] = row;
        ac.next();
        bc.next();
    }
    stretch(ac, bc, std::max(first, yb + 1), std::min(last, yc - 1));
    if (yb < yc && first <= yc && yc <= last) rows[yc - first] = ac.line() | bc.line();
}

// A triangle less than 65 pixels wide, row by row as bits from its left (as draw_narrow_polygon's
// rows): each edge's line pixels, or'ed in, and its crossings, which toggle the bits from the
// crossing on. Its vertices sorted by row, A above B above C, the rows above B meet the edges AC
// and AB, those below meet AC and BC, and B's row the lines of all three: each stretch of rows
// is one loop over the two edges it meets. The edges step in fixed point where their sizes allow.
void narrow_triangle_rows(const i64 *x, const i64 *y, std::uint64_t *rows, i64 first, i64 last) {
    const auto [a, b, c] = by_row(y);
    // Each edge as line() draws it: from vertex i to vertex i + 1.
    const auto edge = [&](int u, int v) {
        if ((u == 2 ? 0 : u + 1) != v) std::swap(u, v);
        return EdgeRows(x[u], y[u], x[v], y[v], std::max(first, std::min(y[u], y[v])));
    };
    const auto fixed = [&](int u, int v, FixedEdgeRows &e) {
        if ((u == 2 ? 0 : u + 1) != v) std::swap(u, v);
        return FixedEdgeRows::of(x[u], y[u], x[v], y[v], std::max(first, std::min(y[u], y[v])), e);
    };
    FixedEdgeRows fixed_ab, fixed_bc, fixed_ac;
    if (fixed(a, b, fixed_ab) && fixed(b, c, fixed_bc) && fixed(a, c, fixed_ac)) {
        stretch_rows(fixed_ab, fixed_bc, fixed_ac, y[b], y[c], rows, first, last);
        return;
    }
    EdgeRows ab = edge(a, b), bc = edge(b, c), ac = edge(a, c);
    stretch_rows(ab, bc, ac, y[b], y[c], rows, first, last);
}

// A triangle less than 65 pixels wide from its rows' bits, filled or outlined.
void draw_narrow_triangle(const Canvas &canvas, const i64 *xs, const i64 *ys, std::uint8_t c,
                          bool fill, i64 left, i64 top, i64 bottom) {
    const i64 ox = canvas.origin_x, oy = canvas.origin_y, base = left - ox;
    // Filled, the rows drawn; outlined, those and the rows on either side.
    const i64 first = std::max<i64>(top - oy, fill ? 0 : -1);
    const i64 last = std::min<i64>(bottom - oy, canvas.height - (fill ? 1 : 0));
    const std::size_t n = static_cast<std::size_t>(last - first + 1);
    Scratch<std::uint64_t, 130> scratch(n + 2);
    std::uint64_t *rows = scratch.data() + 1;
    rows[-1] = rows[n] = 0;
    const i64 x[3] = {xs[0] - ox - base, xs[1] - ox - base, xs[2] - ox - base};
    const i64 y[3] = {ys[0] - oy, ys[1] - oy, ys[2] - oy};
    narrow_triangle_rows(x, y, rows, first, last);
    draw_row_bits(canvas, rows, first, last, base, fill, c);
}

}  // namespace

void polygon(const Canvas &canvas, const i64 *xs, const i64 *ys, std::size_t count, std::uint8_t c,
             bool fill) {
    if (count == 0) return;
    const i64 ox = canvas.origin_x, oy = canvas.origin_y;
    i64 left = xs[0], right = xs[0], top = ys[0], bottom = ys[0];
    for (std::size_t i = 1; i < count; ++i) {
        left = std::min(left, xs[i]);
        right = std::max(right, xs[i]);
        top = std::min(top, ys[i]);
        bottom = std::max(bottom, ys[i]);
    }
    // Every pixel of the shape, its edges' included, lies in that box.
    if (right - ox < 0 || bottom - oy < 0 || left - ox >= canvas.width ||
        top - oy >= canvas.height) {
        return;
    }
    // A narrow triangle's outline comes from its rows' bits, and so does its inside where each
    // row of bits is one store; otherwise a filled triangle's rows are drawn faster as one span
    // each and its edges as lines.
    const bool whole_rows =
        kMaskedStores && canvas.step == 1 && canvas.pattern == 0 && canvas.width >= 64;
    if (count == 3 && right - left < 64 && (!fill || whole_rows)) {
        draw_narrow_triangle(canvas, xs, ys, c, fill, left, top, bottom);
        return;
    }
    if (count > 3 && right - left < 64) {
        draw_narrow_polygon(canvas, xs, ys, count, c, fill, left, top, bottom);
        return;
    }
    if (count == 3) {
        draw_polygon<TriangleRows>(canvas, xs, ys, count, c, fill, top, bottom);
    } else {
        draw_polygon<PolygonRows>(canvas, xs, ys, count, c, fill, top, bottom);
    }
}

namespace {

// A row of the canvas as flood() walks it: pixels equal to `target` make up the region, and each
// one filled becomes `c` (never equal to target), so that a filled pixel is no longer in the
// region and the fill itself marks where it has been. Packed rows are read and written 8 bytes
// at a time; a word whose bytes are all the target is filled whole, and the first byte that
// differs ends the run.
template <bool kPacked>
struct FloodRow {
    std::uint8_t *p;  // pixel 0 of the row
    i64 step;
    std::uint8_t target, c;
    std::uint64_t targets, colours;  // target and c in every byte

    FloodRow(std::uint8_t *row, i64 step, std::uint8_t target, std::uint8_t c)
        : p(row), step(kPacked ? 1 : step), target(target), c(c) {
        std::memset(&targets, target, sizeof targets);
        std::memset(&colours, c, sizeof colours);
    }

    std::uint8_t &at(i64 x) const { return p[x * step]; }
    bool in(i64 x) const { return at(x) == target; }

    // The bytes of a word that differ from the target are its non-zero bytes after `^ targets`:
    // the index in memory order of the first and of the last of them (the word is not 0).
    static i64 first_set_byte(std::uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return __builtin_clzll(v) >> 3;
#else
        return __builtin_ctzll(v) >> 3;
#endif
    }
    static i64 last_set_byte(std::uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return 7 - (__builtin_ctzll(v) >> 3);
#else
        return 7 - (__builtin_clzll(v) >> 3);
#endif
    }

    // Fills the region's pixels from x rightwards, up to `end` (excluded); returns the first
    // pixel not filled.
    i64 fill_right(i64 x, i64 end) const {
        if constexpr (kPacked) {
            for (; x + 16 <= end; x += 16) {
                std::uint64_t a, b;
                std::memcpy(&a, p + x, 8);
                std::memcpy(&b, p + x + 8, 8);
                if (((a ^ targets) | (b ^ targets)) != 0) break;
                std::memcpy(p + x, &colours, 8);
                std::memcpy(p + x + 8, &colours, 8);
            }
            for (; x + 8 <= end; x += 8) {
                std::uint64_t a;
                std::memcpy(&a, p + x, 8);
                if ((a ^ targets) != 0) {
                    const i64 n = first_set_byte(a ^ targets);
                    std::memset(p + x, c, static_cast<std::size_t>(n));
                    return x + n;
                }
                std::memcpy(p + x, &colours, 8);
            }
        }
        for (; x < end && in(x); ++x) at(x) = c;
        return x;
    }

    // Fills the region's pixels leftwards from x - 1, down to pixel 0; returns the leftmost
    // pixel filled (x when there is none).
    i64 fill_left(i64 x) const {
        if constexpr (kPacked) {
            for (; x >= 8; x -= 8) {
                std::uint64_t a;
                std::memcpy(&a, p + x - 8, 8);
                if ((a ^ targets) != 0) {
                    const i64 from = x - 8 + last_set_byte(a ^ targets) + 1;
                    std::memset(p + from, c, static_cast<std::size_t>(x - from));
                    return from;
                }
                std::memcpy(p + x - 8, &colours, 8);
            }
        }
        for (; x > 0 && in(x - 1); --x) at(x - 1) = c;
        return x;
    }

    // The first pixel of the region in [x, end), or end; x itself when it is end or beyond.
    i64 next(i64 x, i64 end) const {
        if (x >= end) return x;
        if constexpr (kPacked) {
            const void *found = std::memchr(p + x, target, static_cast<std::size_t>(end - x));
            return found ? static_cast<const std::uint8_t *>(found) - p : end;
        }
        while (x < end && !in(x)) ++x;
        return x;
    }
};

// A run of pixels x0..x1 of row y that flood() has filled.
struct FloodRun {
    i64 y, x0, x1;
};

// Span filling: each entry of the stack is a run x1..x2 of row y whose region pixels join a
// filled run of row y - dy; popped, the region pixels that reach from it are filled as whole
// runs, and the parts of the rows above and below that each run touches are pushed in turn
// (towards y - dy only where the run reaches past x1..x2, the rest of that row being where it
// came from). Every pixel is filled once, and each fill can push at most two entries, so the
// work and the stack are bounded by the region's size. `filled` (or null) gets every run filled.
template <bool kPacked>
void span_fill(const Canvas &canvas, i64 x, i64 y, std::uint8_t target, std::uint8_t c,
               std::vector<FloodRun> *filled) {
    struct Entry {
        i64 x1, x2, y, dy;
    };
    const i64 height = canvas.height, width = canvas.width;
    std::vector<Entry> stack;
    stack.reserve(64);
    const auto push = [&](i64 x1, i64 x2, i64 row, i64 dy) {
        if (row >= 0 && row < height) stack.push_back({x1, x2, row, dy});
    };
    const auto record = [&](i64 row, i64 x0, i64 x1) {
        if (filled && x0 <= x1) filled->push_back({row, x0, x1});
    };
    push(x, x, y, 1);
    push(x, x, y - 1, -1);
    while (!stack.empty()) {
        auto [x1, x2, row, dy] = stack.back();
        stack.pop_back();
        const FloodRow<kPacked> pixels(canvas.pixels + row * canvas.pitch, canvas.step, target, c);
        i64 left = x1;
        if (pixels.in(x1)) {
            left = pixels.fill_left(x1);
            record(row, left, x1 - 1);
            if (left < x1) push(left, x1 - 1, row - dy, -dy);
        }
        while (x1 <= x2) {
            const i64 end = pixels.fill_right(x1, width);
            record(row, x1, end - 1);
            if (end > left) push(left, end - 1, row + dy, dy);
            if (end - 1 > x2) push(x2 + 1, end - 1, row - dy, -dy);
            x1 = pixels.next(end + 1, x2);
            left = x1;
        }
    }
}

// Gives the pixels of the filled runs that the pattern leaves out their target index back.
// `walked` is the canvas the runs were filled on: the picture itself, or (turned) the picture
// with its axes swapped, its run x0..x1 of row y being then rows x0..x1 of column y. On packed
// rows, 8 pixels at a time: a row's pattern repeats every 4 pixels.
void restore_pattern(const Canvas &walked, bool turned, std::uint16_t pattern,
                     const std::vector<FloodRun> &runs, std::uint8_t target) {
    std::uint64_t targets;
    std::memset(&targets, target, sizeof targets);
    for (const FloodRun &run : runs) {
        unsigned skip = 0;  // bit k: the pixels at x % 4 == k are left out
        for (unsigned k = 0; k < 4; ++k) {
            const unsigned bit = turned ? 15 - k * 4 - (run.y & 3) : 15 - (run.y & 3) * 4 - k;
            skip |= ((pattern >> bit) & 1u) << k;
        }
        if (skip == 0) continue;
        std::uint8_t *row = walked.pixels + run.y * walked.pitch;
        i64 x = run.x0;
        const i64 end = run.x1 + 1;
        const auto one = [&](i64 px) {
            if ((skip >> (px & 3)) & 1) row[px * walked.step] = target;
        };
        if (walked.step == 1) {
            for (; x < end && (x & 3) != 0; ++x) one(x);
            std::uint8_t bytes[8];
            for (unsigned i = 0; i < 8; ++i) bytes[i] = (skip >> (i & 3)) & 1 ? 0xFF : 0x00;
            std::uint64_t mask, word;
            std::memcpy(&mask, bytes, sizeof mask);
            for (; x + 8 <= end; x += 8) {
                std::memcpy(&word, row + x, sizeof word);
                word = (word & ~mask) | (targets & mask);
                std::memcpy(row + x, &word, sizeof word);
            }
        }
        for (; x < end; ++x) one(x);
    }
}

}  // namespace

void flood(const Canvas &canvas, int x_, int y_, std::uint8_t c) {
    i64 x = x_ - canvas.origin_x, y = y_ - canvas.origin_y;
    if (!canvas.contains(x, y)) return;
    const std::uint8_t target = *canvas.at(x, y);
    if (target == c) return;  // every pixel of the region stays as it is, pattern or not
    // A 4-connected region is the same with the axes swapped: a picture whose columns are packed
    // (a transposed array) is walked along its columns, which are then its rows.
    const bool turned = canvas.step != 1 && canvas.pitch == 1;
    Canvas walked = canvas;
    if (turned) {
        walked = Canvas(canvas.pixels, canvas.height, canvas.width, canvas.step, canvas.pitch);
        std::swap(x, y);
    }
    // With a pattern, the region is filled whole (so that it is walked as without one) and the
    // pixels that the pattern leaves out get the target back afterwards.
    std::vector<FloodRun> filled;
    std::vector<FloodRun> *runs = canvas.pattern != 0 ? &filled : nullptr;
    if (walked.step == 1) {
        span_fill<true>(walked, x, y, target, c, runs);
    } else {
        span_fill<false>(walked, x, y, target, c, runs);
    }
    if (runs != nullptr) restore_pattern(walked, turned, canvas.pattern, filled, target);
}

}  // namespace jxfb::draw
