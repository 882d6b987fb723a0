// Reading fonts in BDF, the X11 bitmap font format: plain text, one glyph after another, each a
// bounding box and rows of hexadecimal bits.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "font.h"

namespace jxfb::bdf {

// A file that this reader does not take; what() is "line N: <what is wrong>".
class Error : public std::invalid_argument {
public:
    Error(std::size_t line, const std::string &what);
    std::size_t line() const { return line_; }

private:
    std::size_t line_;
};

// The largest bounding box side, offset, advance, ascent and descent taken, in pixels.
constexpr int kLimit = 4096;

// The font in `text`, the whole of a BDF file.
//   - Code points: with CHARSET_REGISTRY "ISO10646", or "ISO8859" with CHARSET_ENCODING "1" (or
//     the registry "ISO8859-1"), or no CHARSET_REGISTRY at all, ENCODING is the Unicode code
//     point (0 to 0x10FFFF; 0 to 255 for ISO 8859-1). Other registries are refused. Glyphs with
//     ENCODING -1 (no standard code point) are skipped; of a code point given twice, the first
//     glyph counts.
//   - Metrics: ascent and descent are FONT_ASCENT and FONT_DESCENT, or else those of
//     FONTBOUNDINGBOX; the line height is ascent + descent. A glyph's advance is its DWIDTH (or the
//     font's), its bitmap its BBX and BITMAP rows.
//   - A code point the font lacks draws the DEFAULT_CHAR glyph if the font has one; else nothing,
//     advancing by FONTBOUNDINGBOX's width.
// Throws Error for anything else: a missing or malformed line, a number out of range, bits
// missing from a row, a file that ends before ENDFONT.
std::shared_ptr<const font::Font> parse(std::string_view text);

}  // namespace jxfb::bdf
