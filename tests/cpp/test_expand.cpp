// Every way of expanding the palette that this processor runs gives what a plain lookup gives: for
// every count around the loops' steps, every alignment of the output, and a picture of a few
// megabytes. Built and run by tests/test_engine_cpp.py.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "expand.h"

int main() {
    std::uint32_t colours[256];
    for (std::uint32_t i = 0; i < 256; ++i) colours[i] = i * 0x9E3779B9u;
    const std::size_t big = 1920 * 1080 + 37;  // a large picture, odd
    std::vector<std::uint8_t> indices(big + 64);
    std::uint32_t state = 1;
    for (auto &index : indices) {
        state = state * 1664525u + 1013904223u;
        index = static_cast<std::uint8_t>(state >> 24);
    }
    std::vector<std::size_t> counts;
    for (std::size_t n = 0; n <= 70; ++n) counts.push_back(n);
    counts.push_back(big);
    counts.push_back(big - 37 - 16);

    int failures = 0;
    for (const jxfb::ExpandMethod &method : jxfb::expand_methods()) {
        for (std::size_t count : counts) {
            for (std::size_t shift = 0; shift < 9; ++shift) {
                // One spare word each side, to see that nothing outside the picture is written.
                std::vector<std::uint32_t> out(count + shift + 2, 0xDEADBEEFu);
                method.function(indices.data() + shift, colours, out.data() + shift + 1, count);
                bool ok = out[shift] == 0xDEADBEEFu && out[shift + count + 1] == 0xDEADBEEFu;
                for (std::size_t i = 0; ok && i < count; ++i) {
                    ok = out[shift + 1 + i] == colours[indices[shift + i]];
                }
                if (!ok) {
                    std::printf("%s: wrong for %zu pixels at offset %zu\n", method.name, count,
                                shift);
                    ++failures;
                }
            }
        }
        std::printf("%s: checked\n", method.name);
    }
    std::printf("expand() uses %s\n", jxfb::expand_method().name);
    return failures == 0 ? 0 : 1;
}
