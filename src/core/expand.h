// Palette expansion, the inner loop of every frame: each index looked up in a 256-entry table of
// 32-bit colours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jxfb {

// Writes the colour of each of `count` indices to `out`. The fastest way this processor offers
// is chosen once, the first time; every way gives the same result.
void expand(const std::uint8_t *indices, const std::uint32_t *colours, std::uint32_t *out,
            std::size_t count);

using ExpandFunction = void (*)(const std::uint8_t *indices, const std::uint32_t *colours,
                                std::uint32_t *out, std::size_t count);

struct ExpandMethod {
    const char *name;  // "portable", "avx2-gather", "neon-table"
    ExpandFunction function;
};

// Every way this processor can run, the plain C++ one first.
std::vector<ExpandMethod> expand_methods();

// The way expand() uses.
const ExpandMethod &expand_method();

}  // namespace jxfb
