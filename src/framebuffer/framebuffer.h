// JXFramebuffer: an 8-bit indexed-colour picture with a 256-entry ARGB palette, shown magnified in
// an SDL3 window with a paced frame loop. Plain C++ with no knowledge of Python; the binding in
// src/module/ wraps it.
#pragma once

#include <SDL3/SDL.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "draw.h"

// Palette expansion: writes the ARGB colour of each of `count` indices to `argb`. Every flip runs
// it over the whole picture; it stands alone so that the benchmarks can time exactly this code.
void jxfb_expand(const std::uint8_t *indices, const std::uint32_t *palette, std::uint32_t *argb,
                 std::size_t count);

// Where the ARGB staging picture starts inside a buffer of kAlignSlackWords more words than it
// needs: half a 4 KiB page in (see the constructor for why).
constexpr std::size_t kAlignSlackWords = 4096 / sizeof(std::uint32_t);
std::uint32_t *jxfb_half_page_in(std::uint32_t *buffer);

class JXFramebuffer {
public:
    // Opens a window of (width * scale) x (height * scale) showing a width x height picture, all
    // index 0 (black). fps <= 0 leaves the loop unpaced.
    // Throws std::length_error for sizes that do not fit in 32 bits (nothing of SDL touched yet)
    // and std::runtime_error with SDL's text when SDL refuses; either way nothing is left behind.
    JXFramebuffer(int width, int height, int scale, int fps);
    ~JXFramebuffer();

    JXFramebuffer(const JXFramebuffer &) = delete;
    JXFramebuffer &operator=(const JXFramebuffer &) = delete;
    JXFramebuffer(JXFramebuffer &&) = delete;
    JXFramebuffer &operator=(JXFramebuffer &&) = delete;

    // Drains SDL's event queue and tells whether the window is still open.
    bool running();
    // Drains events; while running, shows the picture and sleeps out the rest of the frame period.
    void flip();
    // Releases the window, renderer and texture; the pixel and palette memory stays valid.
    void quit();

    void pset(int x, int y, std::uint8_t c) {
        if (inside(x, y)) pixels_[offset(x, y)] = c;
    }
    std::uint8_t pget(int x, int y) const { return inside(x, y) ? pixels_[offset(x, y)] : 0; }
    void clear(std::uint8_t color);

    // The drawing kit (draw.h), clipped to the picture.
    jxfb::draw::Canvas canvas() { return {pixels_.data(), width_, height_}; }
    void line(int x0, int y0, int x1, int y1, std::uint8_t c) {
        jxfb::draw::line(canvas(), x0, y0, x1, y1, c);
    }
    void rect(int x, int y, int w, int h, std::uint8_t c, bool fill) {
        jxfb::draw::rect(canvas(), x, y, w, h, c, fill);
    }
    void circle(int x, int y, int r, std::uint8_t c, bool fill) {
        jxfb::draw::circle(canvas(), x, y, r, c, fill);
    }
    void blit(int x, int y, const jxfb::draw::Image &image, int key) {
        jxfb::draw::blit(canvas(), x, y, image, key);
    }
    template <typename Unit>
    std::int64_t text(int x, int y, const Unit *chars, std::size_t count, std::uint8_t c) {
        return jxfb::draw::text(canvas(), x, y, chars, count, c);
    }

    int width() const { return width_; }
    int height() const { return height_; }

    // The storage behind the array views: sized once at construction, it never moves.
    std::uint8_t *pixel_data() { return pixels_.data(); }
    std::uint32_t *palette_data() { return palette_entries_.data(); }

private:
    struct WindowDeleter {
        void operator()(SDL_Window *w) const { SDL_DestroyWindow(w); }
    };
    struct RendererDeleter {
        void operator()(SDL_Renderer *r) const { SDL_DestroyRenderer(r); }
    };
    struct TextureDeleter {
        void operator()(SDL_Texture *t) const { SDL_DestroyTexture(t); }
    };

    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    std::size_t offset(int x, int y) const { return static_cast<std::uint32_t>(y * width_ + x); }

    void open_display();
    void release_display();
    void pump_events();
    bool palette_opaque() const;
    SDL_Texture *texture_for_palette();

    int width_;
    int height_;
    int scale_;
    int fps_;
    bool running_ = false;
    std::unique_ptr<SDL_Window, WindowDeleter> window_;
    std::unique_ptr<SDL_Renderer, RendererDeleter> renderer_;
    std::unique_ptr<SDL_Texture, TextureDeleter> texture_;              // XRGB, opaque palettes
    std::unique_ptr<SDL_Texture, TextureDeleter> translucent_texture_;  // ARGB, made when needed
    std::vector<std::uint8_t> pixels_;
    std::vector<std::uint32_t> argb_storage_;  // holds argb_pixels_, with slack to place it
    std::uint32_t *argb_pixels_ = nullptr;     // the expanded picture that goes to the texture
    std::vector<std::uint32_t> palette_entries_;
    std::uint64_t frame_period_ns_ = 0;
    std::uint64_t last_frame_ns_ = 0;
    SDL_WindowID window_id_ = 0;  // to route a close request for this window to this object
};
