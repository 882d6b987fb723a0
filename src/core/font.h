// Bitmap fonts: a glyph bitmap, its place and its advance for each code point, and the metrics
// that place lines of text. Two are built in, the project's own designs compiled in: an 8x8 font
// and a 4x6 one. Others are read from BDF files (bdf.h) or cut from pictures (from_cells).
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace jxfb::font {

// The built-in 8x8 font's cell: its glyphs' width, height and advance; and its line height, which
// leaves a blank row under the descenders.
constexpr int kGlyphSize = 8;
constexpr int kLineHeight = kGlyphSize + 1;

// The 8 rows of the built-in 8x8 font's glyph for code point `code`, top first; bit i of a row is
// column i. Printable ASCII (32..126) has its own glyph; every other code point the placeholder.
const std::uint8_t *glyph(std::uint32_t code);

// One glyph: a width x height bitmap, placed relative to the pen (the point where the glyph
// starts along the line, at the top of the font's ascent).
struct Glyph {
    std::int32_t advance = 0;  // how far the pen moves after the glyph (BDF's DWIDTH)
    std::int32_t left = 0;     // the bitmap's first column, right of the pen
    std::int32_t top = 0;      // the bitmap's first row, below the top of the ascent
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t bits = 0;  // the first of the glyph's words in Font::bits()
};

// An immutable bitmap font. A glyph's rows are stored top first, each in (width + 63) / 64
// words: bit i of word j is column 64 * j + i.
class Font {
public:
    // A font without glyphs yet. A code point it lacks draws its fallback glyph if it has one
    // (set_fallback), else nothing, the pen moving on by `default_advance`.
    Font(int ascent, int descent, int line_height, int default_advance);

    // Adds the glyph for `code` with rows given top first as in the class comment (`rows` holds
    // height * words-per-row words). A code point given twice keeps its first glyph.
    void add(std::uint32_t code, const Glyph &metrics, const std::uint64_t *rows);
    // The glyph drawn for code points that the font lacks; the font must have `code`.
    void set_fallback(std::uint32_t code);
    // A glyph that no code point maps to, drawn for every code point the font lacks.
    void set_fallback(const Glyph &metrics, const std::uint64_t *rows);

    int ascent() const { return ascent_; }
    int descent() const { return descent_; }
    int height() const { return ascent_ + descent_; }
    int line_height() const { return line_height_; }
    int default_advance() const { return default_advance_; }
    std::size_t size() const { return count_; }  // the code points that have a glyph

    // The glyph for `code`: its own, else the fallback, else nullptr.
    const Glyph *find(std::uint32_t code) const {
        std::int32_t index = -1;
        if (code < kDirect) {
            index = direct_[code];
        } else {
            const auto found = others_.find(code);
            if (found != others_.end()) index = found->second;
        }
        if (index < 0) index = fallback_;
        return index < 0 ? nullptr : &glyphs_[static_cast<std::size_t>(index)];
    }
    // Whether `code` has a glyph of its own.
    bool has(std::uint32_t code) const;

    const std::uint64_t *bits(const Glyph &glyph) const { return bits_.data() + glyph.bits; }
    static int words(const Glyph &glyph) { return (glyph.width + 63) / 64; }

private:
    std::int32_t store(const Glyph &metrics, const std::uint64_t *rows);

    static constexpr std::uint32_t kDirect = 256;
    int ascent_, descent_, line_height_, default_advance_;
    std::vector<Glyph> glyphs_;
    std::vector<std::uint64_t> bits_;
    std::int32_t direct_[kDirect];
    std::unordered_map<std::uint32_t, std::int32_t> others_;
    std::int32_t fallback_ = -1;
    std::size_t count_ = 0;
};

// The built-in fonts. FONT_8X8: 8x8 cells, ascent 7 and descent 1, line height 9; FONT_4X6: 4x6
// cells, ascent 5 and descent 1, line height 7. Each has printable ASCII and a placeholder glyph
// for every other code point.
const std::shared_ptr<const Font> &font_8x8();
const std::shared_ptr<const Font> &font_4x6();

// A font cut from a picture of `columns` x `rows` cells of cell_width x cell_height pixels each:
// cell k (row by row) is code point first + k; a non-zero `ink(x, y)` is a set pixel. Every glyph
// fills its cell and advances by its width; ascent = cell height, descent 0, line height = cell
// height, no fallback.
template <typename Ink>
std::shared_ptr<const Font> from_cells(int columns, int rows, int cell_width, int cell_height,
                                       std::uint32_t first, Ink ink) {
    auto font = std::make_shared<Font>(cell_height, 0, cell_height, cell_width);
    const int words = (cell_width + 63) / 64;
    std::vector<std::uint64_t> bits(static_cast<std::size_t>(words) * cell_height);
    for (int cell = 0; cell < columns * rows; ++cell) {
        const int x0 = cell % columns * cell_width, y0 = cell / columns * cell_height;
        std::fill(bits.begin(), bits.end(), 0);
        for (int y = 0; y < cell_height; ++y) {
            for (int x = 0; x < cell_width; ++x) {
                if (ink(x0 + x, y0 + y)) {
                    bits[static_cast<std::size_t>(y * words + x / 64)] |= std::uint64_t{1}
                                                                          << (x % 64);
                }
            }
        }
        Glyph glyph;
        glyph.advance = glyph.width = cell_width;
        glyph.height = cell_height;
        font->add(first + static_cast<std::uint32_t>(cell), glyph, bits.data());
    }
    return font;
}

}  // namespace jxfb::font
