// The built-in 8x8 font: a glyph for every printable ASCII character and one placeholder for
// every other code point. The project's own bitmaps, compiled in; nothing is read from disk.
#pragma once

#include <cstdint>

namespace jxfb::font {

// The width and height of a glyph cell, and the distance between lines of text.
constexpr int kGlyphSize = 8;

// The 8 rows of the glyph drawn for code point `code`, top first; bit i of a row is column i.
const std::uint8_t *glyph(std::uint32_t code);

}  // namespace jxfb::font
