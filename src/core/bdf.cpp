// The BDF reader (see bdf.h). It walks the file line by line, as the format is laid out: a header
// of keywords and properties, then one STARTCHAR ... ENDCHAR block per glyph, then ENDFONT.
// Keywords it has no use for (SWIDTH, VVECTOR, COMMENT, ...) are passed over.
#include "bdf.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <vector>

namespace jxfb::bdf {

Error::Error(std::size_t line, const std::string &what)
    : std::invalid_argument("line " + std::to_string(line) + ": " + what), line_(line) {}

namespace {

std::string upper(std::string_view text) {
    std::string out(text);
    for (char &ch : out) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return out;
}

// The file's lines, numbered from 1, each split into its keyword and the words after it.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    // Moves to the next line that is not blank; false at the end of the file.
    bool next() {
        while (offset_ < text_.size()) {
            std::size_t end = text_.find('\n', offset_);
            if (end == std::string_view::npos) end = text_.size();
            line_ = text_.substr(offset_, end - offset_);
            offset_ = end + 1;
            ++number_;
            if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
            split();
            if (!words_.empty()) return true;
        }
        return false;
    }

    std::size_t number() const { return number_; }
    std::string_view keyword() const { return words_.front(); }
    std::size_t count() const { return words_.size() - 1; }
    std::string_view word(std::size_t i) const { return words_[i + 1]; }
    // What follows the keyword, as it stands.
    std::string_view rest() const {
        const std::size_t at = line_.find(keyword()) + keyword().size();
        std::string_view rest = line_.substr(at);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
        while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
        return rest;
    }

    [[noreturn]] void fail(const std::string &what) const { throw Error(number_, what); }

    // Word i as an integer in [lo, hi].
    long integer(std::size_t i, long lo, long hi) const {
        if (i >= count()) fail(std::string(keyword()) + " has too few numbers");
        const std::string_view text = word(i);
        long value = 0;
        const char *first = text.data(), *last = text.data() + text.size();
        if (first != last && *first == '+') ++first;
        const auto [end, error] = std::from_chars(first, last, value);
        if (error != std::errc() || end != last) {
            fail(std::string(keyword()) + " expects integers, not '" + std::string(text) + "'");
        }
        if (value < lo || value > hi) {
            fail(std::string(keyword()) + " value " + std::to_string(value) + " is out of range (" +
                 std::to_string(lo) + " to " + std::to_string(hi) + ")");
        }
        return value;
    }

    // Exactly n words after the keyword.
    void expect(std::size_t n) const {
        if (count() != n) {
            fail(std::string(keyword()) + " expects " + std::to_string(n) + " value" +
                 (n == 1 ? "" : "s") + ", not " + std::to_string(count()));
        }
    }

private:
    void split() {
        words_.clear();
        std::size_t i = 0;
        while (i < line_.size()) {
            while (i < line_.size() && (line_[i] == ' ' || line_[i] == '\t')) ++i;
            const std::size_t start = i;
            while (i < line_.size() && line_[i] != ' ' && line_[i] != '\t') ++i;
            if (i > start) words_.push_back(line_.substr(start, i - start));
        }
    }

    std::string_view text_;
    std::size_t offset_ = 0;
    std::size_t number_ = 0;
    std::string_view line_;
    std::vector<std::string_view> words_;
};

// A property's value: a quoted string without its quotes ("" inside standing for one), or the
// word as it is.
std::string property_value(std::string_view rest) {
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') return std::string(rest);
    std::string value;
    for (std::size_t i = 1; i + 1 < rest.size(); ++i) {
        value += rest[i];
        if (rest[i] == '"' && rest[i + 1] == '"') ++i;
    }
    return value;
}

int hex_digit(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

struct Box {
    long width = 0, height = 0, x = 0, y = 0;
};

Box read_box(const Lines &lines) {
    lines.expect(4);
    return {lines.integer(0, 0, kLimit), lines.integer(1, 0, kLimit),
            lines.integer(2, -kLimit, kLimit), lines.integer(3, -kLimit, kLimit)};
}

}  // namespace

std::shared_ptr<const font::Font> parse(std::string_view text) {
    Lines lines(text);
    if (!lines.next() || lines.keyword() != "STARTFONT") {
        throw Error(lines.number() == 0 ? 1 : lines.number(),
                    "not a BDF font: it does not start with STARTFONT");
    }
    std::optional<Box> bounds;
    std::optional<long> ascent, descent, default_char, advance;
    std::string registry, encoding;
    bool has_registry = false;
    std::size_t registry_line = 0;

    // The header, up to the first glyph.
    while (true) {
        if (!lines.next()) throw Error(lines.number(), "the file ends before CHARS");
        const std::string_view keyword = lines.keyword();
        if (keyword == "FONTBOUNDINGBOX") {
            bounds = read_box(lines);
        } else if (keyword == "DWIDTH") {
            advance = lines.integer(0, -kLimit, kLimit);
        } else if (keyword == "STARTPROPERTIES") {
            while (true) {
                if (!lines.next()) throw Error(lines.number(), "the file ends in its properties");
                const std::string_view name = lines.keyword();
                if (name == "ENDPROPERTIES") break;
                if (name == "FONT_ASCENT") {
                    lines.expect(1);
                    ascent = lines.integer(0, -kLimit, kLimit);
                } else if (name == "FONT_DESCENT") {
                    lines.expect(1);
                    descent = lines.integer(0, -kLimit, kLimit);
                } else if (name == "DEFAULT_CHAR") {
                    lines.expect(1);
                    default_char = lines.integer(0, -1, 0x7FFFFFFF);
                } else if (name == "CHARSET_REGISTRY") {
                    registry = upper(property_value(lines.rest()));
                    has_registry = true;
                    registry_line = lines.number();
                } else if (name == "CHARSET_ENCODING") {
                    encoding = upper(property_value(lines.rest()));
                }
            }
        } else if (keyword == "CHARS") {
            lines.expect(1);
            lines.integer(0, 0, 0x7FFFFFFF);
            break;
        } else if (keyword == "STARTCHAR" || keyword == "ENDFONT") {
            lines.fail(std::string(keyword) + " before CHARS");
        }
    }
    const std::size_t chars_line = lines.number();
    if (!bounds) throw Error(chars_line, "no FONTBOUNDINGBOX before CHARS");

    std::uint32_t highest = 0x10FFFF;
    if (!has_registry || registry == "ISO10646") {
    } else if ((registry == "ISO8859" && encoding == "1") || registry == "ISO8859-1") {
        highest = 255;
    } else {
        throw Error(registry_line, "the charset " + registry + (encoding.empty() ? "" : "-") +
                                       encoding +
                                       " is not Unicode (ISO10646) or Latin-1 (ISO8859-1)");
    }
    const long font_ascent = ascent ? *ascent : bounds->height + bounds->y;
    const long font_descent = descent ? *descent : -bounds->y;
    if (font_ascent + font_descent < 0) {
        throw Error(chars_line, "the font's ascent and descent add up to less than 0");
    }
    auto font = std::make_shared<font::Font>(
        static_cast<int>(font_ascent), static_cast<int>(font_descent),
        static_cast<int>(font_ascent + font_descent), static_cast<int>(bounds->width));

    // The glyphs.
    while (true) {
        if (!lines.next()) throw Error(lines.number(), "the file ends before ENDFONT");
        if (lines.keyword() == "ENDFONT") break;
        if (lines.keyword() != "STARTCHAR") lines.fail("expected STARTCHAR or ENDFONT");
        const std::string name(lines.rest());
        std::optional<long> code, glyph_advance = advance;
        std::optional<Box> box;
        while (true) {
            if (!lines.next()) throw Error(lines.number(), "the file ends in glyph " + name);
            const std::string_view keyword = lines.keyword();
            if (keyword == "ENCODING") {
                if (lines.count() < 1 || lines.count() > 2) lines.expect(1);
                code = lines.integer(0, -1, 0x7FFFFFFF);
                if (*code != -1 && *code > static_cast<long>(highest)) {
                    lines.fail("ENCODING " + std::to_string(*code) + " is beyond the charset's " +
                               std::to_string(highest));
                }
            } else if (keyword == "DWIDTH") {
                if (lines.count() != 2) lines.expect(2);
                glyph_advance = lines.integer(0, -kLimit, kLimit);
                lines.integer(1, -kLimit, kLimit);
            } else if (keyword == "BBX") {
                box = read_box(lines);
            } else if (keyword == "BITMAP") {
                break;
            } else if (keyword == "ENDCHAR" || keyword == "STARTCHAR" || keyword == "ENDFONT") {
                lines.fail("glyph " + name + " has no BITMAP");
            }
        }
        if (!code) lines.fail("glyph " + name + " has no ENCODING");
        if (!box) lines.fail("glyph " + name + " has no BBX");
        if (!glyph_advance) lines.fail("glyph " + name + " has no DWIDTH");

        font::Glyph glyph;
        glyph.advance = static_cast<std::int32_t>(*glyph_advance);
        glyph.width = static_cast<std::int32_t>(box->width);
        glyph.height = static_cast<std::int32_t>(box->height);
        glyph.left = static_cast<std::int32_t>(box->x);
        glyph.top = static_cast<std::int32_t>(font_ascent - (box->y + box->height));
        const int words = font::Font::words(glyph);
        std::vector<std::uint64_t> rows(static_cast<std::size_t>(words * glyph.height));
        const std::size_t digits = static_cast<std::size_t>((glyph.width + 7) / 8 * 2);
        for (int r = 0; r < glyph.height; ++r) {
            if (!lines.next()) throw Error(lines.number(), "the file ends in glyph " + name);
            const std::string_view hex = lines.keyword();
            if (lines.count() != 0 || hex.size() < digits) {
                lines.fail("glyph " + name + " expects " + std::to_string(glyph.height) +
                           " rows of " + std::to_string(digits) + " hex digits");
            }
            for (std::size_t i = 0; i < hex.size(); ++i) {
                const int value = hex_digit(hex[i]);
                if (value < 0) lines.fail("'" + std::string(hex) + "' is not hexadecimal");
                // Digit i holds columns 4i..4i+3, the first one in its top bit.
                for (int bit = 0; bit < 4; ++bit) {
                    const std::size_t column = i * 4 + static_cast<std::size_t>(bit);
                    if (column < static_cast<std::size_t>(glyph.width) &&
                        (value >> (3 - bit)) & 1) {
                        rows[static_cast<std::size_t>(r * words) + column / 64] |= std::uint64_t{1}
                                                                                   << (column % 64);
                    }
                }
            }
        }
        if (!lines.next()) throw Error(lines.number(), "the file ends in glyph " + name);
        if (lines.keyword() != "ENDCHAR") {
            lines.fail("glyph " + name + " has more than its " + std::to_string(glyph.height) +
                       " rows, or no ENDCHAR");
        }
        if (*code >= 0) font->add(static_cast<std::uint32_t>(*code), glyph, rows.data());
    }
    if (default_char && *default_char >= 0 &&
        font->has(static_cast<std::uint32_t>(*default_char))) {
        font->set_fallback(static_cast<std::uint32_t>(*default_char));
    }
    return font;
}

}  // namespace jxfb::bdf
