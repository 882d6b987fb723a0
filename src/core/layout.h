// Where the picture sits in its window: the letterbox fit of a magnified picture in an output of
// any size, and the way back from a point of the window to the picture pixel under it. Pure
// arithmetic, so that the pointer can be mapped on any thread from sizes cached beforehand.
#pragma once

#include <utility>

namespace jxfb {

// Where a width x height picture lands in an output of out_w x out_h pixels: magnified by the
// largest whole number that fits (at least 1), centred.
struct Layout {
    int scale = 1;
    int x = 0;  // the picture's top-left corner in the output; negative when it is cropped
    int y = 0;
    bool covers = true;  // the picture fills the output exactly: nothing else shows
};
Layout fit_picture(int width, int height, int out_w, int out_h);

// A window's size twice over: in its own coordinates (what pointer positions are given in) and in
// output pixels (what the picture is fitted to; more of them on a high-density display).
struct WindowSize {
    int w = 0;
    int h = 0;
    int pixel_w = 0;
    int pixel_h = 0;
};

// The picture pixel under the point (wx, wy) of the window, in window coordinates, for a
// width x height picture fitted to the window's output: floored, so that the whole of a magnified
// block maps to its pixel; outside the picture the answer lies outside 0..width-1 or
// 0..height-1, clamped to 32 bits. A window of no size maps as if one output pixel were one
// window unit.
std::pair<int, int> picture_pixel(int width, int height, const WindowSize &window, float wx,
                                  float wy);

}  // namespace jxfb
