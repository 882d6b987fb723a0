// The drawing kit: pixels, lines, rectangles, circles, image copies and text over a canvas of
// palette indices laid out with any strides. No SDL and no Python: JXFramebuffer forwards to
// these, the binding's Canvas draws with them on any array, and they can be tested on any block
// of bytes.
//
// Every function clips to the canvas: what falls outside is dropped, and no argument is an error.
// A function's coordinates are the canvas's pixel coordinates plus its origin (a camera), so
// arguments may lie anywhere in the 32-bit range and the origin anywhere in the 33-bit one; all
// position arithmetic is done in 64 bits (128 where a product needs it) and clipped before any
// loop, so the work is bounded by the canvas's size, never by the arguments'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "font.h"

namespace jxfb::draw {

using font::kGlyphSize;
using font::kLineHeight;

// width x height palette indices: pixel (x, y) is the byte at pixels + y * pitch + x * step.
// Either stride may be negative or zero; `pixels` is the address of pixel (0, 0). A framebuffer's
// picture is packed: step 1 and pitch `width`. Every function takes a fast way for a step of 1
// and a general one for any other, chosen once per call.
struct Canvas {
    Canvas() = default;
    // Packed: rows `width` bytes apart, pixels side by side.
    Canvas(std::uint8_t *pixels, std::int64_t width, std::int64_t height)
        : Canvas(pixels, width, height, width, 1) {}
    Canvas(std::uint8_t *pixels, std::int64_t width, std::int64_t height, std::int64_t pitch,
           std::int64_t step)
        : pixels(pixels), width(width), height(height), pitch(pitch), step(step) {}

    std::uint8_t *pixels = nullptr;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int64_t pitch = 0;  // bytes from a row to the next
    std::int64_t step = 1;   // bytes from a pixel to the next in its row
    // The drawing coordinates of pixel (0, 0): a function's (x, y) is pixel (x - origin_x,
    // y - origin_y).
    std::int64_t origin_x = 0;
    std::int64_t origin_y = 0;
    // The shapes' 4x4 pattern in this canvas's own pixel coordinates: bit 15 - (y % 4) * 4 -
    // (x % 4) set leaves pixel (x, y) as it is. 0 leaves nothing out. Pixels, images and text
    // ignore it.
    std::uint16_t pattern = 0;

    bool contains(std::int64_t x, std::int64_t y) const {
        return x >= 0 && y >= 0 && x < width && y < height;
    }
    std::uint8_t *at(std::int64_t x, std::int64_t y) const { return pixels + y * pitch + x * step; }
};

// A picture and the state that its drawing calls share: a camera, a clip rectangle and a pattern.
// It hands out the canvases that the functions below draw on, made again whenever the state
// changes, so that a drawing call pays for none of it:
//   view()    for every drawing function: the clip rectangle's part of the picture, with the
//             camera and the clip's corner as its origin and the pattern turned to its corner;
//   camera()  for pget: the whole picture with the camera as its origin;
//   picture() for clear() and the views: the picture as it is.
// Plain state: a drawing call on another thread while it changes sees either canvas or a mix.
class Scene {
public:
    struct Clip {
        std::int64_t x, y, w, h;
    };

    Scene() = default;
    explicit Scene(const Canvas &picture) : picture_(picture) { update(); }

    const Canvas &picture() const { return picture_; }
    const Canvas &view() const { return view_; }
    const Canvas &camera() const { return camera_; }

    std::int64_t camera_x() const { return camera_x_; }
    std::int64_t camera_y() const { return camera_y_; }
    void set_camera(std::int64_t x, std::int64_t y);
    // In picture pixels, as set; none is the whole picture. Throws std::invalid_argument for a
    // negative width or height.
    const std::optional<Clip> &clip() const { return clip_; }
    void set_clip(const std::optional<Clip> &clip);
    const std::optional<std::uint16_t> &pattern() const { return pattern_; }
    void set_pattern(const std::optional<std::uint16_t> &pattern);

private:
    void update();

    Canvas picture_{};
    Canvas view_{};
    Canvas camera_{};
    std::int64_t camera_x_ = 0, camera_y_ = 0;
    std::optional<Clip> clip_;
    std::optional<std::uint16_t> pattern_;
};

// A 2-D source of bytes: element [row][col] is at data + row * row_stride + col * col_stride.
// Either stride may be negative or zero; `data` is the address of element [0][0].
struct Image {
    const std::uint8_t *data;
    std::int64_t width;
    std::int64_t height;
    std::int64_t row_stride;
    std::int64_t col_stride;
};

// Pixel access: outside the canvas, pset does nothing and pget gives 0.
inline void pset(const Canvas &canvas, int x, int y, std::uint8_t c) {
    const std::int64_t px = x - canvas.origin_x, py = y - canvas.origin_y;
    if (canvas.contains(px, py)) *canvas.at(px, py) = c;
}
inline std::uint8_t pget(const Canvas &canvas, int x, int y) {
    const std::int64_t px = x - canvas.origin_x, py = y - canvas.origin_y;
    return canvas.contains(px, py) ? *canvas.at(px, py) : 0;
}

// Sets every pixel to c (the origin does not matter).
void clear(const Canvas &canvas, std::uint8_t c);

// The pixels of the integer Bresenham walk from (x0, y0) to (x1, y1), both ends included: one
// pixel per step along the longer axis (x when the spans tie), the other coordinate moving
// towards the end point whenever the error term 2*minor*(i+1) - major - 2*major*moved is above 0.
// Equivalently, the i-th pixel's minor offset is floor((2*i*minor + major - 1) / (2*major)).
void line(const Canvas &canvas, int x0, int y0, int x1, int y1, std::uint8_t c);

// The w x h rectangle whose top-left pixel is (x, y), filled or as its one-pixel outline.
// w or h below 1 draws nothing.
void rect(const Canvas &canvas, int x, int y, int w, int h, std::uint8_t c, bool fill);

// Filled: every pixel (px, py) with (px - x)^2 + (py - y)^2 <= r^2 + r. Outline: the filled
// pixels with at least one of their four neighbours outside the filled set. r < 0 draws nothing.
void circle(const Canvas &canvas, int x, int y, int r, std::uint8_t c, bool fill);

// Copies `image` with its element [0][0] at (x, y), leaving out elements equal to `key` (0..255;
// -1 copies all). The source may overlap the canvas: the result is that of copying from an
// unchanged snapshot of it.
void blit(const Canvas &canvas, int x, int y, const Image &image, int key);

// How blit_transformed() turns and recolours an image. The defaults are a plain blit().
struct Transform {
    bool flip_x = false;  // the source's columns reversed, before anything else
    bool flip_y = false;  // its rows reversed
    double rotate = 0;    // degrees clockwise about the image's centre, any finite number
    double scale = 1;     // about the image's centre, above 0 and finite
    // 256 indices: a source element's index after the key test is remap[index]; null for none.
    const std::uint8_t *remap = nullptr;
};

// Draws `image` with its flips, rotation and scale about its centre, where the untransformed
// image's element [0][0] would be at (x, y). Nearest neighbour: destination pixel (px, py), with
// DX = 2px + 1 - 2x - w and DY = 2py + 1 - 2y - h (its centre's offset from the image's centre in
// half pixels), takes the source element at SX = DX*A + DY*B + w*2^16 and SY = DY*A - DX*B +
// h*2^16, where A = round(2^16 cos(rotate) / scale) and B = round(2^16 sin(rotate) / scale) (cos
// and sin exactly 0 or +-1 at multiples of 90 degrees): drawn when 0 <= SX < 2w*2^16 and 0 <= SY
// < 2h*2^16, from column floor(SX / 2^17) and row floor(SY / 2^17) of the flipped image. A scale
// below 2^-16 draws nothing. Elements equal to `key` are left out, then `remap` applies.
void blit_transformed(const Canvas &canvas, int x, int y, const Image &image, int key,
                      const Transform &transform);

// Cells of `sheet`, each `cell_w` x `cell_h` (both at least 1 and dividing the sheet's sides),
// numbered row by row from 0. tiles(): tile number map[r][c] (a row-major array of `rows` x
// `cols`) drawn at (x + c*cell_w, y + r*cell_h); sprites(): cell cells[i] at (xs[i], ys[i]), in
// order. Negative numbers draw nothing; the caller has checked that none is beyond the sheet.
// Elements equal to `key` are left out, then `remap` (or null) applies.
void tiles(const Canvas &canvas, int x, int y, const std::int64_t *map, std::int64_t rows,
           std::int64_t cols, const Image &sheet, std::int64_t cell_w, std::int64_t cell_h, int key,
           const std::uint8_t *remap);
void sprites(const Canvas &canvas, const std::int64_t *xs, const std::int64_t *ys,
             const std::int64_t *cells, std::size_t count, const Image &sheet, std::int64_t cell_w,
             std::int64_t cell_h, int key, const std::uint8_t *remap);

// The ellipse inscribed in the w x h box whose top-left pixel is (x, y): pixel (px, py) with
// (2px + 1 - 2x - w)^2 * h^2 + (2py + 1 - 2y - h)^2 * w^2 <= w^2 * h^2, filled or as its outline
// (the filled pixels with one of their four neighbours outside). w or h below 1 draws nothing.
void ellipse(const Canvas &canvas, int x, int y, int w, int h, std::uint8_t c, bool fill);

// The polygon through `count` vertices (xs[i], ys[i]), closed: every pixel whose centre lies
// inside (by the even-odd rule) or on it, together with line()'s pixels of every edge; or its
// outline (those pixels with one of their four neighbours outside). No vertex draws nothing.
void polygon(const Canvas &canvas, const std::int64_t *xs, const std::int64_t *ys,
             std::size_t count, std::uint8_t c, bool fill);

// Sets the 4-connected region of pixels that have pixel (x, y)'s index to c (the pattern's
// pixels aside). Nothing when (x, y) is off the canvas. Throws std::bad_alloc.
void flood(const Canvas &canvas, int x, int y, std::uint8_t c);

// Draws `count` code points of `font`, each font pixel a scale x scale block (scale >= 1), with
// the top of the first line's ascent at y and its pen starting at x. Each glyph's set pixels get
// index `c`, the others are left as they are; the pen moves on by the glyph's advance times scale;
// '\n' starts a new line `line_height * scale` lower at x. A code point the font lacks draws the
// font's fallback glyph, or nothing while the pen still moves by its default advance. Returns the
// widest line's advance in pixels (0 at least). One overload per width of code unit that a string
// may be stored in.
std::int64_t text(const Canvas &canvas, int x, int y, const std::uint8_t *chars, std::size_t count,
                  std::uint8_t c, const font::Font &font, int scale);
std::int64_t text(const Canvas &canvas, int x, int y, const std::uint16_t *chars, std::size_t count,
                  std::uint8_t c, const font::Font &font, int scale);
std::int64_t text(const Canvas &canvas, int x, int y, const std::uint32_t *chars, std::size_t count,
                  std::uint8_t c, const font::Font &font, int scale);

// The same in the built-in 8x8 font at scale 1 (font::font_8x8()), the common case, with a way of
// its own: each glyph row is one masked store.
std::int64_t text(const Canvas &canvas, int x, int y, const std::uint8_t *chars, std::size_t count,
                  std::uint8_t c);
std::int64_t text(const Canvas &canvas, int x, int y, const std::uint16_t *chars, std::size_t count,
                  std::uint8_t c);
std::int64_t text(const Canvas &canvas, int x, int y, const std::uint32_t *chars, std::size_t count,
                  std::uint8_t c);

// The width and height in pixels of the box that text() fills for the same code points: the
// widest line's advance, and (lines - 1) * line_height + the font's height (a string has one line
// more than it has '\n's), both times scale.
struct Extent {
    std::int64_t width;
    std::int64_t height;
};
Extent text_size(const std::uint8_t *chars, std::size_t count, const font::Font &font, int scale);
Extent text_size(const std::uint16_t *chars, std::size_t count, const font::Font &font, int scale);
Extent text_size(const std::uint32_t *chars, std::size_t count, const font::Font &font, int scale);

}  // namespace jxfb::draw
