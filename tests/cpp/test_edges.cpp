// The kit's two ways of stepping a shape's edges agree. Row by row, EdgeRows (a quotient and a
// remainder) and FixedEdgeRows (32.32 fixed point, which shapes of the usual sizes take, and which
// the Python tests check against the reference) give the same line pixels, crossings and crossings
// on a centre, for edges of every slope in both directions, from several first rows. And the
// fractions walk_fixed() steps give the Bresenham steps of line() for lines up to the longest it
// draws. Built and run by tests/test_engine_cpp.py.
#include <cstdio>

#include "draw.cpp"  // the kit itself: its helpers are file-local

namespace {

using jxfb::draw::EdgeRows;
using jxfb::draw::FixedEdgeRows;
using jxfb::draw::Fraction;
using i64 = std::int64_t;

int failures = 0;

void edge(i64 x0, i64 y0, i64 x1, i64 y1, i64 first) {
    EdgeRows slow(x0, y0, x1, y1, first);
    FixedEdgeRows fast;
    if (!FixedEdgeRows::of(x0, y0, x1, y1, first, fast)) {
        if (failures++ < 5) std::printf("test_edges: no fixed point for a small edge\n");
        return;
    }
    for (i64 row = first; row <= std::max(y0, y1); ++row) {
        std::uint64_t inside[2] = {0, 0}, on[2] = {0, 0};
        if (row < std::max(y0, y1)) {  // the edge crosses the row's centres
            slow.cross(inside[0], on[0]);
            fast.cross(inside[1], on[1]);
        }
        if (slow.line() != fast.line() || inside[0] != inside[1] || on[0] != on[1]) {
            if (failures++ < 5) {
                std::printf("test_edges: (%lld, %lld) to (%lld, %lld), row %lld differs\n",
                            static_cast<long long>(x0), static_cast<long long>(y0),
                            static_cast<long long>(x1), static_cast<long long>(y1),
                            static_cast<long long>(row));
            }
        }
        slow.next();
        fast.next();
    }
}

void fraction(i64 major, i64 minor, i64 first) {
    const i64 k_first = (2 * minor * first + major - 1) / (2 * major);
    Fraction f = Fraction::of(major, minor, first, k_first);
    for (i64 i = first; i <= major; ++i, f.acc += f.inc) {
        const i64 k = (2 * minor * i + major - 1) / (2 * major);
        if (static_cast<i64>(f.acc >> f.shift) != k - k_first && failures++ < 5) {
            std::printf("test_edges: line %lld by %lld, step %lld\n", static_cast<long long>(major),
                        static_cast<long long>(minor), static_cast<long long>(i));
        }
    }
}

}  // namespace

int main() {
    // Edges within a narrow triangle's 64 columns, up to 70 rows tall, drawn either way.
    for (i64 x0 : {0, 17, 63}) {
        for (i64 x1 = 0; x1 < 64; ++x1) {
            for (i64 dy = 0; dy <= 70; ++dy) {
                for (i64 first : {i64{0}, i64{1}, dy / 3}) {
                    if (first > dy) continue;
                    edge(x0, 5, x1, 5 + dy, 5 + first);
                    edge(x1, 5 + dy, x0, 5, 5 + first);
                }
            }
        }
    }
    for (i64 major = 1; major <= 3000; ++major) {
        for (i64 minor : {i64{0}, i64{1}, major / 3, major - 1, major}) fraction(major, minor, 0);
    }
    // The longest lines the fractions take, at their largest numerators, from mid-line too.
    const i64 longest = Fraction::kMajor - 1;
    for (i64 minor : {longest, longest - 2, longest / 2 + 1}) {
        fraction(longest, minor, 0);
        fraction(longest, minor, longest / 3);
    }
    fraction(32764, 32762, 0);
    if (failures != 0) return 1;
    std::printf("test_edges: checked\n");
    return 0;
}
