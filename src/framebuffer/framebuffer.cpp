#include "framebuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

constexpr std::uint32_t kOpaqueBlack = 0xFF000000u;

constexpr std::uint32_t kDefaultPalette[] = {
    0xFF000000u,  // black
    0xFFFFFFFFu,  // white
    0xFFFF0000u,  // red
    0xFF00FF00u,  // green
    0xFF0000FFu,  // blue
    0xFFFFFF00u,  // yellow
    0xFFFF00FFu,  // magenta
    0xFF00FFFFu,  // cyan
};

// Every framebuffer whose display is up. SDL is process-wide, so the events that one framebuffer
// drains may belong to another, and only the last one torn down may shut SDL down.
std::vector<JXFramebuffer *> &live_framebuffers() {
    static std::vector<JXFramebuffer *> live;
    return live;
}

[[noreturn]] void throw_sdl_error() {
    throw std::runtime_error(SDL_GetError());
}

// A streaming texture for the whole picture, or nullptr (SDL_GetError() says why).
SDL_Texture *make_texture(SDL_Renderer *renderer, SDL_PixelFormat format, int width, int height) {
    SDL_Texture *texture =
        SDL_CreateTexture(renderer, format, SDL_TEXTUREACCESS_STREAMING, width, height);
    // SDL's default is linear filtering, which blends neighbouring pixels at every edge of the
    // magnified picture; each pixel must show as a solid scale x scale block.
    if (texture && !SDL_SetTextureScaleMode(texture, SDL_SCALEMODE_NEAREST)) {
        SDL_DestroyTexture(texture);
        return nullptr;
    }
    return texture;
}

bool fits_int32(std::int64_t v) {
    return v >= std::numeric_limits<std::int32_t>::min() &&
           v <= std::numeric_limits<std::int32_t>::max();
}

}  // namespace

JXFramebuffer::JXFramebuffer(int width, int height, int scale, int fps)
    : width_(width), height_(height), scale_(scale), fps_(fps) {
    // All size arithmetic in 64 bits, checked before anything is allocated or SDL is touched:
    // a 32-bit product could wrap to a small positive count and leave a buffer that later writes
    // run past.
    const std::int64_t count = std::int64_t{width} * height;
    if (count < 0 || !fits_int32(count)) {
        throw std::length_error("cannot create std::vector larger than max_size()");
    }
    const std::int64_t window_w = std::int64_t{width} * scale;
    const std::int64_t window_h = std::int64_t{height} * scale;
    if (!fits_int32(window_w) || !fits_int32(window_h)) {
        throw std::length_error("window size " + std::to_string(window_w) + " x " +
                                std::to_string(window_h) + " does not fit in 32 bits");
    }

    pixels_.assign(static_cast<std::size_t>(count), 0);
    // SDL_UpdateTexture copies the expanded picture into the texture row by row with memcpy.
    // Large blocks from malloc, the texture's memory among them, start a few bytes into a 4 KiB
    // page; a copy between two addresses at almost the same offset within a page runs into the
    // processor's 4 KiB aliasing (here glibc's rep movsb took twice as long for a 1920x1080
    // picture). Starting the picture half a page in keeps it clear of that.
    argb_storage_.assign(static_cast<std::size_t>(count) + kAlignSlackWords, kOpaqueBlack);
    argb_pixels_ = jxfb_half_page_in(argb_storage_.data());
    palette_entries_.assign(256, kOpaqueBlack);

    bool holds_video = false;
    try {
        if (!SDL_Init(SDL_INIT_VIDEO)) throw_sdl_error();
        holds_video = true;
        SDL_Window *window = nullptr;
        SDL_Renderer *renderer = nullptr;
        if (!SDL_CreateWindowAndRenderer("JXFramebuffer", static_cast<int>(window_w),
                                         static_cast<int>(window_h), 0, &window, &renderer)) {
            throw_sdl_error();
        }
        window_.reset(window);
        renderer_.reset(renderer);
        window_id_ = SDL_GetWindowID(window);

        // The default palette is opaque: see texture_for_palette().
        texture_.reset(make_texture(renderer, SDL_PIXELFORMAT_XRGB8888, width, height));
        if (!texture_) throw_sdl_error();

        live_framebuffers().push_back(this);
    } catch (...) {
        // Undo what this construction acquired: its handles and its hold on SDL. Even a failed
        // SDL_Init leaves SDL partly set up (its copy of the environment, for one), which would
        // keep a later attempt from seeing a corrected SDL_VIDEO_DRIVER or DISPLAY.
        texture_.reset();
        translucent_texture_.reset();
        renderer_.reset();
        window_.reset();
        if (live_framebuffers().empty()) {
            SDL_Quit();
        } else if (holds_video) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
        }
        throw;
    }

    std::copy(std::begin(kDefaultPalette), std::end(kDefaultPalette), palette_entries_.begin());
    running_ = true;
    // fps <= 0 means unpaced; 0 would otherwise divide by zero.
    frame_period_ns_ = fps > 0 ? 1'000'000'000ull / static_cast<std::uint64_t>(fps) : 0;
    last_frame_ns_ = SDL_GetTicksNS();
}

JXFramebuffer::~JXFramebuffer() {
    release_display();
}

void JXFramebuffer::quit() {
    release_display();
    running_ = false;
}

void JXFramebuffer::release_display() {
    texture_.reset();
    translucent_texture_.reset();
    renderer_.reset();
    window_.reset();

    auto &live = live_framebuffers();
    const auto self = std::find(live.begin(), live.end(), this);
    if (self == live.end()) return;  // released already
    live.erase(self);
    // After the user closed the window SDL stays initialised; otherwise the last framebuffer out
    // shuts it down, and a later framebuffer starts it again.
    if (running_ && live.empty()) SDL_Quit();
}

void JXFramebuffer::pump_events() {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_EVENT_QUIT) {
            running_ = false;
            for (JXFramebuffer *fb : live_framebuffers()) fb->running_ = false;
        } else if (event.type == SDL_EVENT_WINDOW_CLOSE_REQUESTED) {
            // With several windows open, closing one sends no quit event: end that loop only.
            for (JXFramebuffer *fb : live_framebuffers()) {
                if (fb->window_id_ == event.window.windowID) fb->running_ = false;
            }
        }
    }
}

bool JXFramebuffer::running() {
    pump_events();
    return running_;
}

void jxfb_expand(const std::uint8_t *indices, const std::uint32_t *palette, std::uint32_t *argb,
                 std::size_t count) {
    // Eight pixels a round, all eight looked up before any is stored. The plain one-pixel loop runs
    // at about half this speed: it pays a compare and a taken branch per pixel, and the compiler
    // may not move a lookup above the previous store (for all it knows, `argb` overlaps
    // `palette`), so nothing overlaps. Byte loads keep it independent of byte order.
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const std::uint8_t *in = indices + i;
        const std::uint32_t c0 = palette[in[0]], c1 = palette[in[1]], c2 = palette[in[2]],
                            c3 = palette[in[3]], c4 = palette[in[4]], c5 = palette[in[5]],
                            c6 = palette[in[6]], c7 = palette[in[7]];
        std::uint32_t *out = argb + i;
        out[0] = c0;
        out[1] = c1;
        out[2] = c2;
        out[3] = c3;
        out[4] = c4;
        out[5] = c5;
        out[6] = c6;
        out[7] = c7;
    }
    for (; i < count; ++i) argb[i] = palette[indices[i]];
}

std::uint32_t *jxfb_half_page_in(std::uint32_t *buffer) {
    constexpr std::uintptr_t page = 4096, half = page / 2;
    const auto address = reinterpret_cast<std::uintptr_t>(buffer);
    // The next address at `half` past a page boundary: at most one page (the slack) past `buffer`.
    const std::uintptr_t skip = (half - address % page + page) % page;
    return buffer + skip / sizeof(std::uint32_t);
}

bool JXFramebuffer::palette_opaque() const {
    std::uint32_t all = 0xFFFFFFFFu;
    for (std::uint32_t colour : palette_entries_) all &= colour;
    return (all >> 24) == 0xFFu;
}

SDL_Texture *JXFramebuffer::texture_for_palette() {
    // A texture with an alpha channel is blended over the cleared (black) window, and SDL's
    // software renderer does that pixel by pixel at about five times the cost of a copy; even
    // unblended, its scaled copy converts every pixel from ARGB to the window's XRGB. While every
    // palette entry is opaque, blending changes no pixel, so the picture goes to an XRGB texture,
    // which is copied as it is. Once an entry is translucent it goes to an ARGB texture, made the
    // first time it is needed, and shows blended over black.
    if (palette_opaque()) return texture_.get();
    if (!translucent_texture_) {
        SDL_Texture *texture =
            make_texture(renderer_.get(), SDL_PIXELFORMAT_ARGB8888, width_, height_);
        if (texture && !SDL_SetTextureBlendMode(texture, SDL_BLENDMODE_BLEND)) {
            SDL_DestroyTexture(texture);
            texture = nullptr;
        }
        // Should SDL refuse a second texture, the picture still shows, alpha ignored.
        if (!texture) return texture_.get();
        translucent_texture_.reset(texture);
    }
    return translucent_texture_.get();
}

void JXFramebuffer::flip() {
    pump_events();
    if (!running_) return;

    jxfb_expand(pixels_.data(), palette_entries_.data(), argb_pixels_, pixels_.size());
    SDL_Renderer *renderer = renderer_.get();
    SDL_Texture *texture = texture_for_palette();
    SDL_UpdateTexture(texture, nullptr, argb_pixels_, width_ * 4);
    SDL_RenderClear(renderer);
    SDL_RenderTexture(renderer, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer);

    // Each frame gets a full period from the end of the previous flip; a late frame is not made
    // up later.
    const std::uint64_t elapsed = SDL_GetTicksNS() - last_frame_ns_;
    if (elapsed < frame_period_ns_) SDL_DelayPrecise(frame_period_ns_ - elapsed);
    last_frame_ns_ = SDL_GetTicksNS();
}

void JXFramebuffer::clear(std::uint8_t color) {
    if (!pixels_.empty()) std::memset(pixels_.data(), color, pixels_.size());
}
