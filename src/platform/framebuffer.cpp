#include "framebuffer.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

#include "display_loss.h"

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
// drains may belong to another. Guarded, since a framebuffer may be destroyed on any thread.
std::vector<JXFramebuffer *> &live_framebuffers() {
    static std::vector<JXFramebuffer *> live;
    return live;
}
std::recursive_mutex &live_mutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// What a framebuffer destroyed on another thread leaves for the video thread: the window, then
// the hold on video.
struct Leftover final : jxfb::session::VideoResource {
    jxfb::session::Hold video;
    std::unique_ptr<jxfb::Display> display;
};

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

    // If either throws, the members made so far release what they took.
    video_ = jxfb::session::Hold(SDL_INIT_VIDEO);
    display_ = std::make_unique<jxfb::Display>(title_.c_str(), width, height, scale);
    {
        std::lock_guard<std::recursive_mutex> lock(live_mutex());
        live_framebuffers().push_back(this);
    }

    std::copy(std::begin(kDefaultPalette), std::end(kDefaultPalette), palette_entries_.begin());
    running_ = true;
    jxfb::session::loop_started();
    pacer_ = jxfb::FramePacer(fps);  // the first frame is counted from here
}

JXFramebuffer::~JXFramebuffer() {
    release_display();
}

void JXFramebuffer::quit() {
    reachable("quit()");
    release_display();
}

bool JXFramebuffer::reachable(const char *member, bool probe) {
    if (!display_) return false;
    jxfb::session::check_video_thread(member);
    if (probe && jxfb::display_loss::lost()) lose_every_display();
    return display_ != nullptr;
}

void JXFramebuffer::end_loop(bool hide) {
    if (!running_) return;
    running_ = false;
    jxfb::session::loop_ended();
    // The loop is over: the window goes from the screen at once, its resources with quit().
    if (hide && display_) display_->hide();
}

void JXFramebuffer::release_display() {
    end_loop(false);
    if (!display_) return;
    last_mouse_ = mouse();
    input_.release_all();
    {
        std::lock_guard<std::recursive_mutex> lock(live_mutex());
        auto &live = live_framebuffers();
        live.erase(std::remove(live.begin(), live.end(), this), live.end());
    }
    if (jxfb::session::on_video_thread()) {
        // The last hold on video out shuts SDL down (unless something else holds SDL), however
        // the loop ended; a later framebuffer starts it again.
        display_.reset();
        video_.release();
    } else {
        // Dropped on another thread: SDL is called on the video thread only.
        auto leftover = std::make_unique<Leftover>();
        leftover->video = std::move(video_);
        leftover->display = std::move(display_);
        jxfb::session::release_on_video_thread(std::move(leftover));
    }
}

void JXFramebuffer::lose_every_display() {
    // The display server is gone: every window with it. Each display lets its handles go
    // without calling SDL (present.h), and the session leaves SDL's video as it is.
    std::lock_guard<std::recursive_mutex> lock(live_mutex());
    const std::vector<JXFramebuffer *> live = live_framebuffers();
    for (JXFramebuffer *fb : live) fb->release_display();
}

void JXFramebuffer::pump_events() {
    std::lock_guard<std::recursive_mutex> lock(live_mutex());
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
                for (JXFramebuffer *each : live) each->end_loop(true);
                break;
            case SDL_EVENT_WINDOW_CLOSE_REQUESTED:
                // With several windows open, closing one sends no quit event: end that loop only.
                if ((fb = owner(event.window.windowID))) fb->end_loop(true);
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
    // A SIGTERM ends every loop, as SDL's quit event would.
    if (jxfb::session::take_termination_request()) {
        for (JXFramebuffer *each : live) each->end_loop(true);
    }
    if (jxfb::display_loss::lost()) lose_every_display();
}

bool JXFramebuffer::running() {
    if (reachable("running()", false)) pump_events();
    return running_;
}

void JXFramebuffer::flip(const jxfb::Interrupt &interrupt) {
    const bool shown = reachable("flip()", false);
    // Only the pacer is left to a flip that reaches no window: two threads must not share it.
    if (in_flip_.exchange(true)) {
        throw std::runtime_error("flip() is already running on another thread");
    }
    struct Leave {
        std::atomic<bool> &flag;
        ~Leave() { flag = false; }
    } leave{in_flip_};
    // A press drained from here on belongs to the next frame.
    input_.new_frame();
    if (shown) {
        pump_events();
        if (running_ && display_) display_->present(pixels_.data(), palette_entries_.data());
    }
    // Paced whether or not the loop still runs: a loop that never asks running() must not spin.
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
    // Characters, not bytes: every byte of UTF-8 but the continuation bytes starts one.
    const auto length = static_cast<std::size_t>(
        std::count_if(title.begin(), title.end(), [](char ch) { return (ch & 0xC0) != 0x80; }));
    if (length > kMaxTitleLength) {
        throw std::invalid_argument("title is " + std::to_string(length) +
                                    " characters long; at most " + std::to_string(kMaxTitleLength) +
                                    " are taken");
    }
    if (reachable("Setting title")) display_->set_title(title);
    title_ = title;
}

void JXFramebuffer::set_fullscreen(bool fullscreen) {
    if (reachable("Setting fullscreen")) display_->set_fullscreen(fullscreen);
    fullscreen_ = fullscreen;
}
