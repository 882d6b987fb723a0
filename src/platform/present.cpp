#include "present.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "display_loss.h"

namespace jxfb {

namespace {

[[noreturn]] void throw_sdl_error() {
    throw std::runtime_error(SDL_GetError());
}

// A streaming texture for the whole picture, or nullptr (SDL_GetError() says why).
SDL_Texture *make_texture(SDL_Renderer *renderer, int width, int height) {
    // The colours go in opaque (translucent entries already blended over black), so the texture
    // has no alpha channel and the GPU copies it without blending.
    SDL_Texture *texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_XRGB8888,
                                             SDL_TEXTUREACCESS_STREAMING, width, height);
    // SDL's default is linear filtering, which blends neighbouring pixels at every edge of the
    // magnified picture; each pixel must show as a solid block.
    if (texture && !SDL_SetTextureScaleMode(texture, SDL_SCALEMODE_NEAREST)) {
        SDL_DestroyTexture(texture);
        return nullptr;
    }
    return texture;
}

// Whether `renderer` draws with the processor: SDL's software renderer, or OpenGL that is itself a
// software rasteriser (what a machine without a GPU driver, a virtual machine or Xvfb offers).
// A renderer asked for by name (SDL_RENDER_DRIVER) is taken at its word.
bool draws_in_software(SDL_Renderer *renderer) {
    const char *name = SDL_GetRendererName(renderer);
    if (name == nullptr) return false;
    if (std::strcmp(name, SDL_SOFTWARE_RENDERER) == 0) return true;
    const char *asked = SDL_GetHint(SDL_HINT_RENDER_DRIVER);
    if (asked != nullptr && *asked != '\0') return false;
    if (std::strcmp(name, "opengl") != 0 && std::strcmp(name, "opengles2") != 0) return false;
    // The renderer's context is current on this thread once it is made.
    using GetString = const unsigned char *(*)(unsigned int);
    const auto get_string = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    if (get_string == nullptr || SDL_GL_GetCurrentContext() == nullptr) return false;
    constexpr unsigned int kGlRenderer = 0x1F01;
    const char *gl = reinterpret_cast<const char *>(get_string(kGlRenderer));
    if (gl == nullptr) return false;
    for (const char *rasteriser : {"llvmpipe", "softpipe", "Software Rasterizer", "SWR",
                                   "GDI Generic", "Apple Software Renderer"}) {
        if (std::strstr(gl, rasteriser) != nullptr) return true;
    }
    return false;
}

// One picture row magnified `m` times across: each index's colour written m times.
void magnify_row(const std::uint8_t *indices, const std::uint32_t *colours,
                 std::uint32_t *__restrict out, int width, int m) {
    int i = 0;
    switch (m) {
        case 1:
            expand(indices, colours, out, static_cast<std::size_t>(width));
            return;
        case 2:
            for (; i + 4 <= width; i += 4, out += 8) {
                const std::uint32_t c0 = colours[indices[i]], c1 = colours[indices[i + 1]],
                                    c2 = colours[indices[i + 2]], c3 = colours[indices[i + 3]];
                out[0] = out[1] = c0;
                out[2] = out[3] = c1;
                out[4] = out[5] = c2;
                out[6] = out[7] = c3;
            }
            break;
        case 3:
            for (; i + 4 <= width; i += 4, out += 12) {
                const std::uint32_t c0 = colours[indices[i]], c1 = colours[indices[i + 1]],
                                    c2 = colours[indices[i + 2]], c3 = colours[indices[i + 3]];
                out[0] = out[1] = out[2] = c0;
                out[3] = out[4] = out[5] = c1;
                out[6] = out[7] = out[8] = c2;
                out[9] = out[10] = out[11] = c3;
            }
            break;
        default:
            break;
    }
    for (; i < width; ++i, out += m) std::fill_n(out, m, colours[indices[i]]);
}

}  // namespace

void draw_magnified(const std::uint8_t *indices, int width, int height,
                    const std::uint32_t *colours, const Target &target, const Layout &layout,
                    std::uint32_t border, std::vector<std::uint32_t> &row) {
    const int m = layout.scale;
    const std::int64_t shown_w = std::int64_t{width} * m, shown_h = std::int64_t{height} * m;
    // The part of the target that the picture covers: [x0, x1) x [y0, y1).
    const std::int64_t x0 = std::max<std::int64_t>(layout.x, 0);
    const std::int64_t x1 = std::min<std::int64_t>(layout.x + shown_w, target.width);
    const std::int64_t y0 = std::max<std::int64_t>(layout.y, 0);
    const std::int64_t y1 = std::min<std::int64_t>(layout.y + shown_h, target.height);
    const bool visible = x0 < x1 && y0 < y1;
    auto line = [&](std::int64_t y) {
        return reinterpret_cast<std::uint32_t *>(static_cast<char *>(target.pixels) +
                                                 y * target.pitch);
    };

    if (!layout.covers) {
        for (std::int64_t y = 0; y < target.height; ++y) {
            std::uint32_t *out = line(y);
            if (!visible || y < y0 || y >= y1) {
                std::fill_n(out, target.width, border);
            } else {
                std::fill(out, out + x0, border);
                std::fill(out + x1, out + target.width, border);
            }
        }
    }
    if (!visible) return;

    const bool cropped = layout.x < 0 || layout.x + shown_w > target.width;
    const std::size_t span = static_cast<std::size_t>(x1 - x0) * sizeof(std::uint32_t);
    for (std::int64_t py = (y0 - layout.y) / m; py < height; ++py) {
        const std::int64_t top = layout.y + py * m;
        if (top >= y1) break;
        const std::int64_t first = std::max(top, y0), last = std::min(top + m, y1);
        std::uint32_t *out = line(first) + x0;
        const std::uint8_t *src = indices + py * width;
        if (!cropped) {
            magnify_row(src, colours, out, width, m);
        } else {
            row.resize(static_cast<std::size_t>(shown_w));
            magnify_row(src, colours, row.data(), width, m);
            std::memcpy(out, row.data() + (x0 - layout.x), span);
        }
        // The other rows of these blocks are the same: copied, not looked up again.
        for (std::int64_t y = first + 1; y < last; ++y) std::memcpy(line(y) + x0, out, span);
    }
}

bool writable_format(SDL_PixelFormat format) {
    const SDL_PixelFormatDetails *details = SDL_GetPixelFormatDetails(format);
    return details && details->bytes_per_pixel == 4 && details->Rbits == 8 && details->Gbits == 8 &&
           details->Bbits == 8;
}

bool output_colours(const std::uint32_t *palette, SDL_PixelFormat format, std::uint32_t *out) {
    if (!writable_format(format)) return false;
    const SDL_PixelFormatDetails *details = SDL_GetPixelFormatDetails(format);
    for (int i = 0; i < 256; ++i) {
        const std::uint32_t c = palette[i], a = c >> 24;
        std::uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
        if (a != 0xFF) {
            // Over black: each channel times alpha / 255, rounded to nearest.
            r = (2 * r * a + 255) / 510;
            g = (2 * g * a + 255) / 510;
            b = (2 * b * a + 255) / 510;
        }
        out[i] =
            r << details->Rshift | g << details->Gshift | b << details->Bshift | details->Amask;
    }
    return true;
}

Display::Display(const char *title, int width, int height, int scale)
    : width_(width), height_(height) {
    SDL_Window *window = nullptr;
    SDL_Renderer *renderer = nullptr;
    if (!SDL_CreateWindowAndRenderer(title, width * scale, height * scale, 0, &window, &renderer)) {
        throw_sdl_error();
    }
    window_.reset(window);
    renderer_.reset(renderer);
    window_id_ = SDL_GetWindowID(window);
    // Tells the window manager too (a resizable window is not dragged past it).
    if (!SDL_SetWindowMaximumSize(window, kMaxWindowSide, kMaxWindowSide)) throw_sdl_error();
    texture_.reset(make_texture(renderer, width, height));
    if (!texture_) throw_sdl_error();

    if (draws_in_software(renderer)) {
        // A renderer that runs on the processor only adds passes: SDL's software renderer draws
        // into the window surface itself, in passes of its own (clear, a converting copy, a
        // scaled copy) on top of the upload, and a software OpenGL rasterises a textured square
        // and then hands the X server the result. One pass of ours into the window surface
        // does it all (at 320x200 x3 on Xvfb with llvmpipe, four times as many frames a second).
        texture_.reset();
        renderer_.reset();
        if (!use_window_surface()) use_renderer();
    } else if (!SDL_SetRenderDrawColor(renderer, 0, 0, 0, SDL_ALPHA_OPAQUE)) {
        throw_sdl_error();
    }
    display_loss::watch(window);  // last: a constructor that throws never watched
}

Display::~Display() {
    if (display_loss::lost()) {
        // Every SDL call on the window would reach the dead connection.
        (void)texture_.release();
        (void)renderer_.release();
        (void)window_.release();
        return;
    }
    texture_.reset();
    renderer_.reset();
    window_.reset();
    display_loss::unwatch(window_id_);
}

bool Display::use_window_surface() {
    // Unless told otherwise (SDL_FRAMEBUFFER_ACCELERATION in the environment wins over this), SDL
    // would put the window surface on the GPU through a renderer of its own: the window system's
    // own surface (shared memory with the X server) is the one pass this way is for. Where the
    // window system has none (Wayland), there is no surface and the renderer takes over.
    SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
    SDL_Surface *surface = SDL_GetWindowSurface(window_.get());
    if (surface && writable_format(surface->format)) return true;
    SDL_DestroyWindowSurface(window_.get());
    return false;
}

void Display::use_renderer() {
    // A window that has a surface refuses a renderer.
    SDL_DestroyWindowSurface(window_.get());
    renderer_.reset(SDL_CreateRenderer(window_.get(), nullptr));
    if (!renderer_) throw_sdl_error();
    texture_.reset(make_texture(renderer_.get(), width_, height_));
    if (!texture_) throw_sdl_error();
    if (!SDL_SetRenderDrawColor(renderer_.get(), 0, 0, 0, SDL_ALPHA_OPAQUE)) throw_sdl_error();
}

const std::uint32_t *Display::colours_for(const std::uint32_t *palette, SDL_PixelFormat format) {
    if (format == colours_format_ &&
        std::memcmp(palette, palette_seen_.data(), sizeof palette_seen_) == 0) {
        return colours_.data();
    }
    std::array<std::uint32_t, 256> colours;
    if (!output_colours(palette, format, colours.data())) return nullptr;
    std::memcpy(palette_seen_.data(), palette, sizeof palette_seen_);
    colours_ = colours;
    colours_format_ = format;
    return colours_.data();
}

void Display::present(const std::uint8_t *pixels, const std::uint32_t *palette) {
    int out_w = 0, out_h = 0;
    SDL_GetWindowSizeInPixels(window_.get(), &out_w, &out_h);
    if (out_w > kMaxWindowSide || out_h > kMaxWindowSide) return;  // until it is back within
    if (renderer_) {
        present_texture(pixels, palette);
    } else {
        present_surface(pixels, palette);
    }
}

void Display::present_texture(const std::uint8_t *pixels, const std::uint32_t *palette) {
    SDL_Renderer *renderer = renderer_.get();
    SDL_Texture *texture = texture_.get();
    const std::uint32_t *colours = colours_for(palette, SDL_PIXELFORMAT_XRGB8888);
    void *locked = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture, nullptr, &locked, &pitch)) {
        const std::size_t w = static_cast<std::size_t>(width_);
        if (static_cast<std::size_t>(pitch) == w * sizeof(std::uint32_t)) {
            expand(pixels, colours, static_cast<std::uint32_t *>(locked),
                   w * static_cast<std::size_t>(height_));
        } else {
            for (int y = 0; y < height_; ++y) {
                expand(pixels + y * w, colours,
                       reinterpret_cast<std::uint32_t *>(static_cast<char *>(locked) +
                                                         std::ptrdiff_t{y} * pitch),
                       w);
            }
        }
        SDL_UnlockTexture(texture);
    }
    int out_w = 0, out_h = 0;
    if (!SDL_GetCurrentRenderOutputSize(renderer, &out_w, &out_h)) return;
    const Layout layout = fit_picture(width_, height_, out_w, out_h);
    // The picture is opaque: where it covers the whole output, clearing first would only be
    // painted over.
    if (!layout.covers) SDL_RenderClear(renderer);
    const SDL_FRect where{static_cast<float>(layout.x), static_cast<float>(layout.y),
                          static_cast<float>(std::int64_t{width_} * layout.scale),
                          static_cast<float>(std::int64_t{height_} * layout.scale)};
    SDL_RenderTexture(renderer, texture, nullptr, &where);
    SDL_RenderPresent(renderer);
}

void Display::present_surface(const std::uint8_t *pixels, const std::uint32_t *palette) {
    // Asked anew each frame: a resize (going fullscreen, say) replaces the surface.
    SDL_Surface *surface = SDL_GetWindowSurface(window_.get());
    if (!surface) return;
    const std::uint32_t *colours = colours_for(palette, surface->format);
    if (!colours) {
        // A format the pass cannot write: the renderer takes over for good.
        try {
            use_renderer();
        } catch (const std::exception &) {
            return;
        }
        present_texture(pixels, palette);
        return;
    }
    if (SDL_MUSTLOCK(surface) && !SDL_LockSurface(surface)) return;
    const Layout layout = fit_picture(width_, height_, surface->w, surface->h);
    const std::uint32_t black = SDL_GetPixelFormatDetails(surface->format)->Amask;
    draw_magnified(pixels, width_, height_, colours,
                   Target{surface->pixels, surface->pitch, surface->w, surface->h}, layout, black,
                   row_);
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(window_.get());
}

void Display::keep_within_limit(const WindowSize &size) {
    if (std::max({size.w, size.h, size.pixel_w, size.pixel_h}) <= kMaxWindowSide) return;
    // In window units, as SDL sizes windows; on a high-density display fewer of them than pixels.
    const auto within = [](int units, int pixels) {
        const double per_unit = units > 0 && pixels > 0 ? double(pixels) / units : 1.0;
        return std::min(units, static_cast<int>(kMaxWindowSide / std::max(per_unit, 1.0)));
    };
    SDL_SetWindowSize(window_.get(), within(size.w, size.pixel_w), within(size.h, size.pixel_h));
}

WindowSize Display::size() const {
    WindowSize size;
    SDL_GetWindowSize(window_.get(), &size.w, &size.h);
    SDL_GetWindowSizeInPixels(window_.get(), &size.pixel_w, &size.pixel_h);
    return size;
}

void Display::hide() {
    // A window another client destroyed is off the screen already; SDL would wait for it to be
    // unmapped.
    if (display_loss::destroyed(window_id_)) return;
    SDL_HideWindow(window_.get());
}

void Display::set_title(const std::string &title) {
    if (!SDL_SetWindowTitle(window_.get(), title.c_str())) throw_sdl_error();
}

namespace {

// Leaves out the mouse motion events of one window while it is armed.
struct MotionFilter {
    SDL_WindowID window;
    SDL_EventFilter previous = nullptr;
    void *previous_data = nullptr;
    bool armed = false;  // setting a filter runs it over the queue: nothing queued is dropped
};

bool SDLCALL drop_motion(void *data, SDL_Event *event) {
    const auto *filter = static_cast<const MotionFilter *>(data);
    if (filter->armed && event->type == SDL_EVENT_MOUSE_MOTION &&
        event->motion.windowID == filter->window) {
        return false;
    }
    return filter->previous ? filter->previous(filter->previous_data, event) : true;
}

}  // namespace

void Display::set_fullscreen(bool fullscreen, bool pointer_seen) {
    // After the switch SDL puts the pointer back where it last saw it, reporting a motion there.
    // If it never saw the pointer over the window (the dummy driver has none at all), that place
    // is (0, 0), made up; the motion is left out.
    MotionFilter filter{window_id_};
    if (!pointer_seen) {
        SDL_GetEventFilter(&filter.previous, &filter.previous_data);
        SDL_SetEventFilter(&drop_motion, &filter);
        filter.armed = true;
    }
    const bool done = SDL_SetWindowFullscreen(window_.get(), fullscreen);
    // False when it timed out, which only means the display did not act; fullscreen() tells.
    if (done) SDL_SyncWindow(window_.get());
    if (!pointer_seen) {
        filter.armed = false;
        SDL_SetEventFilter(filter.previous, filter.previous_data);
    }
    if (!done) throw_sdl_error();
}

bool Display::fullscreen() const {
    return (SDL_GetWindowFlags(window_.get()) & SDL_WINDOW_FULLSCREEN) != 0;
}

void Display::set_resizable(bool resizable) {
    if (!SDL_SetWindowResizable(window_.get(), resizable)) throw_sdl_error();
}

void Display::start_text_input() {
    if (!SDL_StartTextInput(window_.get())) throw_sdl_error();
}

void Display::pointer_outside(float &x, float &y) const {
    int w = 0, h = 0;
    SDL_GetWindowSize(window_.get(), &w, &h);
    // SDL's last motion before the leave is clamped to the window's edge. Where the window
    // system tells where the pointer is on the desktop (X11 does), take that; where it does not,
    // SDL answers with its own last position in the window instead, and the two agree.
    float gx = 0, gy = 0, lx = 0, ly = 0;
    int wx = 0, wy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    SDL_GetMouseState(&lx, &ly);
    if ((gx != lx || gy != ly) && SDL_GetWindowPosition(window_.get(), &wx, &wy)) {
        const float px = gx - static_cast<float>(wx), py = gy - static_cast<float>(wy);
        if (px < 0 || py < 0 || px >= static_cast<float>(w) || py >= static_cast<float>(h)) {
            x = px;
            y = py;
            return;
        }
    }
    // Otherwise: just past the edge nearest to the last position, the one the pointer crossed.
    const float left = x, right = static_cast<float>(w) - 1 - x, top = y,
                bottom = static_cast<float>(h) - 1 - y;
    const float nearest = std::min({left, right, top, bottom});
    if (nearest == left) {
        x = -1.0f;
    } else if (nearest == right) {
        x = static_cast<float>(w);
    } else if (nearest == top) {
        y = -1.0f;
    } else {
        y = static_cast<float>(h);
    }
}

bool show_cursor(bool shown) {
    return shown ? SDL_ShowCursor() : SDL_HideCursor();
}

}  // namespace jxfb
