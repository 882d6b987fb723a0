// Showing the picture: the window and the way each flip gets the picture into it.
//
// Two ways, chosen when the window opens. Where SDL's renderer is a GPU one (OpenGL, Vulkan, ...),
// the picture is expanded straight into a locked streaming texture, which the GPU magnifies. Where
// SDL's choice is its software renderer (the dummy driver, a machine without GL), the renderer
// would only add passes: the picture is expanded and magnified in one pass straight into the
// window surface instead. Both show the same crisp blocks; a translucent palette entry shows
// blended over black either way.
#pragma once

#include <SDL3/SDL.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "expand.h"
#include "layout.h"

namespace jxfb {

// The largest window side, in window units and in pixels: what common renderers take as a
// texture side, and more than any display shows. A window the user or another program makes
// larger (a resizable one) is asked back to it, and shows nothing new meanwhile: its picture
// would cost gigabytes and most of a second a frame.
constexpr int kMaxWindowSide = 16384;

// A 32-bit target picture: `pitch` bytes from one row to the next.
struct Target {
    void *pixels;
    int pitch;
    int width;
    int height;
};

// The one pass of the window-surface way: each index of the width x height picture looked up in
// `colours` and written as a layout.scale square block at the layout's place in `target`,
// clipped to it; `row` is scratch space for one magnified row when the picture is cropped.
// Everything of the target outside the picture is filled with `border`.
void draw_magnified(const std::uint8_t *indices, int width, int height,
                    const std::uint32_t *colours, const Target &target, const Layout &layout,
                    std::uint32_t border, std::vector<std::uint32_t> &row);

// Shows or hides the mouse cursor (SDL has one setting for all windows); false if SDL refused
// (SDL_GetError() says why).
bool show_cursor(bool shown);

// Formats the window-surface way can write: 32 bits a pixel, 8 bits a colour channel.
bool writable_format(SDL_PixelFormat format);

// The colours that the 256 palette entries (0xAARRGGBB) show as, in an SDL pixel format with 8
// bits a channel: blended over black, alpha (if the format has it) opaque. False if the format is
// not writable.
bool output_colours(const std::uint32_t *palette, SDL_PixelFormat format, std::uint32_t *out);

class Display {
public:
    // Opens a window of (width * scale) x (height * scale). Throws std::runtime_error with SDL's
    // text if SDL refuses; everything made so far is released again.
    Display(const char *title, int width, int height, int scale);
    // Destroys the window, unless the display server is gone (display_loss.h): then SDL is not
    // called and the handles are let go.
    ~Display();
    Display(const Display &) = delete;
    Display &operator=(const Display &) = delete;

    // Shows the picture through the palette. Failures show nothing new and are not reported.
    void present(const std::uint8_t *pixels, const std::uint32_t *palette);

    SDL_WindowID window_id() const { return window_id_; }
    // The window's size now, in window units and in pixels.
    WindowSize size() const;
    // The window became `size`: beyond kMaxWindowSide, it is asked back within it.
    void keep_within_limit(const WindowSize &size);
    // Takes the window off the screen; it is not shown again.
    void hide();
    void set_title(const std::string &title);
    // Asks for fullscreen (or the window back) and waits a moment for the display to do it: a
    // window manager acts within milliseconds, and without one nothing happens (SDL gives up
    // after 100 ms). `pointer_seen`: whether the pointer was ever seen over the window.
    void set_fullscreen(bool fullscreen, bool pointer_seen);
    bool fullscreen() const;  // what the display did
    void set_resizable(bool resizable);
    // Text input events for this window (off until asked for: an input method may take keys).
    void start_text_input();
    // Whether the pointer is over this window, as far as SDL knows.
    bool has_mouse_focus() const { return SDL_GetMouseFocus() == window_.get(); }
    // Where the pointer went on leaving the window, given (x, y), its last position inside.
    void pointer_outside(float &x, float &y) const;

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

    void use_renderer();  // (re)creates the renderer and its texture, or throws
    bool use_window_surface();
    const std::uint32_t *colours_for(const std::uint32_t *palette, SDL_PixelFormat format);
    void present_texture(const std::uint8_t *pixels, const std::uint32_t *palette);
    void present_surface(const std::uint8_t *pixels, const std::uint32_t *palette);

    int width_;
    int height_;
    // Released in reverse order: texture, renderer, window.
    std::unique_ptr<SDL_Window, WindowDeleter> window_;
    std::unique_ptr<SDL_Renderer, RendererDeleter> renderer_;  // null on the window-surface way
    std::unique_ptr<SDL_Texture, TextureDeleter> texture_;
    SDL_WindowID window_id_ = 0;

    // The palette the colours were last worked out for, in which format: most frames leave the
    // palette as it was, and then the table stands.
    std::array<std::uint32_t, 256> palette_seen_{};
    std::array<std::uint32_t, 256> colours_{};
    SDL_PixelFormat colours_format_ = SDL_PIXELFORMAT_UNKNOWN;
    std::vector<std::uint32_t> row_;  // scratch for a cropped picture's magnified row
};

}  // namespace jxfb
