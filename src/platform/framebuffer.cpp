#include "framebuffer.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "display_loss.h"
#include "gamepad.h"

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

[[noreturn]] void throw_sdl_error() {
    throw std::runtime_error(SDL_GetError());
}

// Gamepads are read by the framebuffers' drains: when the last window goes, so does SDL's gamepad
// subsystem, on the video thread.
void last_window_gone() {
    if (!jxfb::hub().empty()) return;  // a new one came meanwhile
    jxfb::gamepads().stop();
}

// What a framebuffer destroyed on another thread leaves for the video thread: the window, then
// the hold on video.
struct Leftover final : jxfb::session::VideoResource {
    ~Leftover() override { last_window_gone(); }
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
    input_ = std::make_shared<jxfb::WindowInput>(width, height);
    pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    palette_entries_.assign(256, kOpaqueBlack);
    scene_ = jxfb::draw::Scene(canvas());

    // If either throws, the members made so far release what they took.
    video_ = jxfb::session::Hold(SDL_INIT_VIDEO);
    display_ = std::make_unique<jxfb::Display>(title_.c_str(), width, height, scale);
    window_id_ = display_->window_id();
    jxfb::hub().attach(*this, window_id_, input_, display_->size());

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
    jxfb::hub().detach(*this);  // calls no SDL function: any thread
    if (jxfb::session::on_video_thread()) {
        // The last hold on video out shuts SDL down (unless something else holds SDL), however
        // the loop ended; a later framebuffer starts it again.
        last_window_gone();
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
    jxfb::hub().lose_every_window();
}

void JXFramebuffer::resized(const jxfb::WindowSize &size) {
    if (display_) display_->keep_within_limit(size);
}

void JXFramebuffer::pointer_left(float &x, float &y) {
    if (display_) display_->pointer_outside(x, y);
}

void JXFramebuffer::pointer_entered() {
    // One cursor setting serves every window: the one the pointer is over decides.
    jxfb::show_cursor(cursor_);
}

bool JXFramebuffer::running() {
    if (reachable("running()", false)) jxfb::hub().drain(input_.get());
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
    meter_.count(jxfb::now_ns());
    // The frame ends: what its queries could see goes; a press drained from here on belongs to
    // the next frame.
    input_->end_frame();
    if (shown) {
        jxfb::hub().drain(input_.get());
        if (running_ && display_) {
            display_->present(pixels_.data(), palette_entries_.data());
            if (frame_hook_) {
                const std::function<void()> hook = frame_hook_;  // a copy: it may replace itself
                hook();
            }
        }
    }
    // Paced whether or not the loop still runs: a loop that never asks running() must not spin.
    pacer_.end_frame(interrupt);
}

namespace {

jxfb::Control control_named(const std::string &name) {
    jxfb::Control control;
    if (!jxfb::control_from_name(name, control)) {
        throw std::invalid_argument(jxfb::unknown_key_name(name));
    }
    return control;
}

}  // namespace

bool JXFramebuffer::gamepads_ready(const char *member) {
    if (!reachable(member)) return false;
    jxfb::gamepads().start();
    return true;
}

bool JXFramebuffer::key(const std::string &name) {
    const jxfb::Control control = control_named(name);
    if (jxfb::is_pad_button(control)) {
        return gamepads_ready("key()") &&
               jxfb::gamepads().held(jxfb::pad_slot(control), jxfb::pad_button_number(control));
    }
    return input_->held(control);
}

bool JXFramebuffer::pressed(const std::string &name, bool repeat) {
    const jxfb::Control control = control_named(name);
    // Asking about a gamepad starts them: its presses are seen from the next drain on.
    if (jxfb::is_pad_button(control)) gamepads_ready("pressed()");
    return input_->pressed(control, repeat);
}

bool JXFramebuffer::released(const std::string &name) {
    const jxfb::Control control = control_named(name);
    if (jxfb::is_pad_button(control)) gamepads_ready("released()");
    return input_->released(control);
}

std::string JXFramebuffer::typed(bool edits) {
    if (reachable("typed()") && !text_input_) {
        display_->start_text_input();
        text_input_ = true;
    }
    return input_->typed(edits);
}

std::pair<int, int> JXFramebuffer::window_size() {
    const jxfb::WindowSize size = input_->size();
    return {size.pixel_w, size.pixel_h};
}

float JXFramebuffer::axis(const std::string &name) {
    int slot = 0;
    SDL_GamepadAxis axis = SDL_GAMEPAD_AXIS_INVALID;
    if (!jxfb::axis_from_name(name, slot, axis)) {
        throw std::invalid_argument(jxfb::unknown_axis_name(name));
    }
    return gamepads_ready("axis()") ? jxfb::gamepads().axis(slot, axis) : 0.0f;
}

std::vector<std::string> JXFramebuffer::gamepads() {
    return gamepads_ready("gamepads()") ? jxfb::gamepads().names() : std::vector<std::string>{};
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
    if (!reachable("Setting fullscreen")) {
        fullscreen_ = fullscreen;
        return;
    }
    display_->set_fullscreen(fullscreen, input_->mouse_seen());
    fullscreen_ = display_->fullscreen();
    // The size events follow at the next drain; the pointer maps by the new size at once.
    input_->set_size(display_->size());
}

void JXFramebuffer::set_resizable(bool resizable) {
    if (reachable("Setting resizable")) display_->set_resizable(resizable);
    resizable_ = resizable;
}

void JXFramebuffer::set_cursor(bool shown) {
    if (shown == cursor_) return;  // a program may well set it every frame
    // The pointer's window decides what SDL's one setting is; one over no window of ours
    // takes the newest.
    if (reachable("Setting cursor") &&
        (display_->has_mouse_focus() || SDL_GetMouseFocus() == nullptr) &&
        !jxfb::show_cursor(shown)) {
        throw_sdl_error();
    }
    cursor_ = shown;
}
