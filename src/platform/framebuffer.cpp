#include "framebuffer.h"

#include <algorithm>
#include <cstring>
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

// Refuses, before anything is allocated or SDL is touched, every size that cannot make a working
// window, naming the argument and its limit. All arithmetic is in 64 bits; sides of at most
// kMaxWindowSide keep the pixel count far below 2^31, so the 32-bit offsets cannot wrap.
void check_sizes(int width, int height, int scale) {
    const auto at_least_one = [](const char *name, int value) {
        if (value < 1) {
            throw std::invalid_argument(std::string(name) + " must be at least 1, not " +
                                        std::to_string(value));
        }
    };
    at_least_one("width", width);
    at_least_one("height", height);
    at_least_one("scale", scale);
    // Beyond this, X11 kills the process (a BadValue from the X server) or aborts in libxcb, and
    // a picture big enough could take tens of gigabytes.
    const std::int64_t window_w = std::int64_t{width} * scale;
    const std::int64_t window_h = std::int64_t{height} * scale;
    if (window_w > JXFramebuffer::kMaxWindowSide || window_h > JXFramebuffer::kMaxWindowSide) {
        throw std::invalid_argument(
            "window size " + std::to_string(window_w) + " x " + std::to_string(window_h) +
            " (width and height times scale " + std::to_string(scale) + ") is larger than " +
            std::to_string(JXFramebuffer::kMaxWindowSide) + " pixels a side");
    }
}

}  // namespace

JXFramebuffer::JXFramebuffer(int width, int height, int scale, int fps)
    : width_(width), height_(height), pacer_(fps) {
    check_sizes(width, height, scale);
    pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    palette_entries_.assign(256, kOpaqueBlack);

    bool holds_video = false;
    try {
        if (!SDL_Init(SDL_INIT_VIDEO)) throw_sdl_error();
        holds_video = true;
        display_ = std::make_unique<jxfb::Display>(title_.c_str(), width, height, scale);
        live_framebuffers().push_back(this);
    } catch (...) {
        // Undo what this construction acquired: its display and its hold on SDL. Even a failed
        // SDL_Init leaves SDL partly set up (its copy of the environment, for one), which would
        // keep a later attempt from seeing a corrected SDL_VIDEO_DRIVER or DISPLAY.
        display_.reset();
        if (live_framebuffers().empty()) {
            SDL_Quit();
        } else if (holds_video) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
        }
        throw;
    }

    std::copy(std::begin(kDefaultPalette), std::end(kDefaultPalette), palette_entries_.begin());
    running_ = true;
    pacer_ = jxfb::FramePacer(fps);  // the first frame is counted from here
}

JXFramebuffer::~JXFramebuffer() {
    release_display();
}

void JXFramebuffer::quit() {
    release_display();
    running_ = false;
}

void JXFramebuffer::release_display() {
    if (display_) last_mouse_ = mouse();
    display_.reset();
    input_.release_all();

    auto &live = live_framebuffers();
    const auto self = std::find(live.begin(), live.end(), this);
    if (self == live.end()) return;  // released already
    live.erase(self);
    // The last framebuffer out shuts SDL down, however its loop ended: SDL's SIGTERM handler
    // would otherwise stay installed and swallow a later SIGTERM. A later framebuffer starts SDL
    // again.
    if (live.empty()) SDL_Quit();
}

void JXFramebuffer::pump_events() {
    auto &live = live_framebuffers();
    auto owner = [&live](SDL_WindowID id) -> JXFramebuffer * {
        for (JXFramebuffer *fb : live) {
            if (fb->display_->window_id() == id) return fb;  // every live one has its display
        }
        return nullptr;
    };
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        JXFramebuffer *fb = nullptr;
        switch (event.type) {
            case SDL_EVENT_QUIT:
                running_ = false;
                for (JXFramebuffer *each : live) each->running_ = false;
                break;
            case SDL_EVENT_WINDOW_CLOSE_REQUESTED:
                // With several windows open, closing one sends no quit event: end that loop only.
                if ((fb = owner(event.window.windowID))) fb->running_ = false;
                break;
            case SDL_EVENT_WINDOW_FOCUS_LOST:
                // Keys released elsewhere never reach this window.
                if ((fb = owner(event.window.windowID))) fb->input_.release_keys();
                break;
            case SDL_EVENT_KEY_DOWN:
            case SDL_EVENT_KEY_UP:
                if ((fb = owner(event.key.windowID))) {
                    fb->input_.key(event.key.key, event.key.down, event.key.repeat);
                }
                break;
            case SDL_EVENT_MOUSE_BUTTON_DOWN:
            case SDL_EVENT_MOUSE_BUTTON_UP:
                if ((fb = owner(event.button.windowID))) {
                    fb->input_.move(event.button.x, event.button.y);
                    fb->input_.button(event.button.button, event.button.down);
                }
                break;
            case SDL_EVENT_MOUSE_MOTION:
                if ((fb = owner(event.motion.windowID))) {
                    fb->input_.move(event.motion.x, event.motion.y);
                }
                break;
            default:
                break;
        }
    }
}

bool JXFramebuffer::running() {
    pump_events();
    return running_;
}

void JXFramebuffer::flip(const jxfb::Interrupt &interrupt) {
    // A press drained from here on belongs to the next frame.
    input_.new_frame();
    pump_events();
    if (!running_) return;
    display_->present(pixels_.data(), palette_entries_.data());
    pacer_.end_frame(interrupt);
}

void JXFramebuffer::clear(std::uint8_t color) {
    if (!pixels_.empty()) std::memset(pixels_.data(), color, pixels_.size());
}

namespace {

jxfb::Control control_named(const std::string &name) {
    jxfb::Control control;
    if (!jxfb::control_from_name(name, control)) {
        throw std::invalid_argument(
            "unknown key name '" + name +
            "' (SDL's key names, such as 'A', 'Space', 'Left', 'Return', 'F1', 'Left Shift', or "
            "'mouse left', 'mouse middle', 'mouse right')");
    }
    return control;
}

}  // namespace

bool JXFramebuffer::key(const std::string &name) const {
    return input_.held(control_named(name));
}

bool JXFramebuffer::pressed(const std::string &name) const {
    return input_.pressed(control_named(name));
}

std::pair<int, int> JXFramebuffer::mouse() const {
    if (!display_) return last_mouse_;
    std::pair<int, int> at{-1, -1};
    // Before the pointer has been seen over the window there is no position to map.
    if (!input_.mouse_seen()) return at;
    display_->picture_pixel(input_.mouse_x(), input_.mouse_y(), at.first, at.second);
    return at;
}

void JXFramebuffer::set_title(const std::string &title) {
    if (title.find('\0') != std::string::npos) {
        throw std::invalid_argument("embedded null character");
    }
    if (display_) display_->set_title(title);
    title_ = title;
}

void JXFramebuffer::set_fullscreen(bool fullscreen) {
    if (display_) display_->set_fullscreen(fullscreen);
    fullscreen_ = fullscreen;
}
