#include "layout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace jxfb {

Layout fit_picture(int width, int height, int out_w, int out_h) {
    Layout layout;
    if (width > 0 && height > 0)
        layout.scale = std::max(1, std::min(out_w / width, out_h / height));
    const std::int64_t shown_w = std::int64_t{width} * layout.scale;
    const std::int64_t shown_h = std::int64_t{height} * layout.scale;
    layout.x = static_cast<int>((out_w - shown_w) / 2);
    layout.y = static_cast<int>((out_h - shown_h) / 2);
    layout.covers = shown_w == out_w && shown_h == out_h;
    return layout;
}

std::pair<int, int> picture_pixel(int width, int height, const WindowSize &window, float wx,
                                  float wy) {
    // Window coordinates to output pixels (they differ on a high-density display).
    const double sx = window.w > 0 ? double(window.pixel_w) / window.w : 1.0;
    const double sy = window.h > 0 ? double(window.pixel_h) / window.h : 1.0;
    const Layout layout = fit_picture(width, height, window.pixel_w, window.pixel_h);
    const auto map = [&layout](double at, int origin) {
        const double pixel = std::floor((at - origin) / layout.scale);
        if (std::isnan(pixel)) return -1;
        return static_cast<int>(std::clamp(pixel, -2147483648.0, 2147483647.0));
    };
    return {map(wx * sx, layout.x), map(wy * sy, layout.y)};
}

}  // namespace jxfb
