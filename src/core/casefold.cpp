#include "casefold.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "casefold_table.h"

namespace jxfb {

char32_t fold_case(char32_t c) {
    using casefold::kRuns;
    using casefold::Run;
    // The run that starts at or before c, if c lies in it at one of its steps.
    const Run *after =
        std::upper_bound(std::begin(kRuns), std::end(kRuns), std::uint32_t{c},
                         [](std::uint32_t v, const Run &run) { return v < run.first; });
    if (after == std::begin(kRuns)) return c;
    const Run &run = *(after - 1);
    if (c > run.last || (c - run.first) % run.step != 0) return c;
    return static_cast<char32_t>(static_cast<std::int64_t>(c) + run.delta);
}

namespace {

void encode(char32_t c, std::string &out);

}  // namespace

int decode_utf8(const std::string &text, std::size_t i, char32_t &c) {
    const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    int length = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (i + static_cast<std::size_t>(length) > text.size()) return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byte(i + static_cast<std::size_t>(k));
        if ((next & 0xC0) != 0x80) return 0;
        c = c << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode's range are no characters.
    static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return length;
}

namespace {

void encode(char32_t c, std::string &out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace

std::string fold_case(const std::string &utf8) {
    std::string folded;
    folded.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const int length = decode_utf8(utf8, i, c);
        if (length == 0) {
            folded.push_back(utf8[i++]);
            continue;
        }
        encode(fold_case(c), folded);
        i += static_cast<std::size_t>(length);
    }
    return folded;
}

}  // namespace jxfb
