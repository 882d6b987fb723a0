// Case-insensitive names: Unicode's simple case folding, one character to one ("É" to "é", "Σ"
// and "ς" to "σ", "ẞ" to "ß"; never "ß" to "ss", which would change a name's length).
#pragma once

#include <cstddef>
#include <string>

namespace jxfb {

// The character `c` folds to (itself if it has no other case).
char32_t fold_case(char32_t c);

// UTF-8 text with every character folded; bytes that are no UTF-8 pass through as they are.
std::string fold_case(const std::string &utf8);

// The character at byte `i` of `text` and its length in bytes, or 0 where no well-formed UTF-8
// sequence starts.
int decode_utf8(const std::string &text, std::size_t i, char32_t &c);

}  // namespace jxfb
