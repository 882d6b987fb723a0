#include "framebuffer.h"

#include <algorithm>
#include <mutex>
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

// Keys held across a change of focus between windows, whichever framebuffer drains: SDL's
// keyboard is process-wide too. Forgotten when the last window goes.
jxfb::FocusHandoff &focus_handoff() {
    static jxfb::FocusHandoff handoff;
    return handoff;
}

[[noreturn]] void throw_sdl_error() {
    throw std::runtime_error(SDL_GetError());
}

// Gamepads are read by the framebuffers' drains: when the last window goes, so does SDL's gamepad
// subsystem, on the video thread.
void last_window_gone() {
    std::lock_guard<std::recursive_mutex> lock(live_mutex());
    if (!live_framebuffers().empty()) return;  // a new one came meanwhile
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
    pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    palette_entries_.assign(256, kOpaqueBlack);
    scene_ = jxfb::draw::Scene(canvas());

    // If either throws, the members made so far release what they took.
    video_ = jxfb::session::Hold(SDL_INIT_VIDEO);
    display_ = std::make_unique<jxfb::Display>(title_.c_str(), width, height, scale);
    window_id_ = display_->window_id();
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
        if (live.empty()) focus_handoff() = jxfb::FocusHandoff();
    }
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
    std::lock_guard<std::recursive_mutex> lock(live_mutex());
    const std::vector<JXFramebuffer *> live = live_framebuffers();
    for (JXFramebuffer *fb : live) fb->release_display();
}

void JXFramebuffer::pump_events() {
    std::lock_guard<std::recursive_mutex> lock(live_mutex());
    auto &live = live_framebuffers();
    auto owner = [&live](SDL_WindowID id) -> JXFramebuffer * {
        for (JXFramebuffer *fb : live) {
            if (fb->window_id_ == id) return fb;
        }
        return nullptr;
    };
    jxfb::FocusHandoff &handoff = focus_handoff();
    handoff.drain();
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
                if ((fb = owner(event.window.windowID))) {
                    std::vector<jxfb::Control> held;
                    fb->input_.release_keys(held);
                    handoff.focus_lost(event.window.timestamp, held);
                }
                break;
            case SDL_EVENT_KEY_DOWN:
            case SDL_EVENT_KEY_UP: {
                const bool continued = handoff.continues(event.key);
                if ((fb = owner(event.key.windowID))) {
                    fb->input_.key(event.key.key, event.key.scancode, event.key.down,
                                   event.key.repeat, continued);
                }
                break;
            }
            case SDL_EVENT_TEXT_INPUT:
                if ((fb = owner(event.text.windowID))) fb->input_.text(event.text.text);
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
            case SDL_EVENT_MOUSE_WHEEL:
                if ((fb = owner(event.wheel.windowID))) {
                    const float sign =
                        event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f;
                    fb->input_.wheel(sign * event.wheel.x, sign * event.wheel.y);
                    fb->input_.move(event.wheel.mouse_x, event.wheel.mouse_y);
                }
                break;
            case SDL_EVENT_WINDOW_ENTER_FULLSCREEN:
            case SDL_EVENT_WINDOW_LEAVE_FULLSCREEN:
                // The window manager may take a window out of fullscreen, or put it back.
                if ((fb = owner(event.window.windowID))) {
                    fb->fullscreen_ = event.type == SDL_EVENT_WINDOW_ENTER_FULLSCREEN;
                }
                break;
            case SDL_EVENT_WINDOW_MOUSE_LEAVE:
                // SDL's last motion stopped at the window's edge; the pointer is past it now.
                if ((fb = owner(event.window.windowID)) && fb->input_.mouse_seen()) {
                    float x = fb->input_.mouse_x(), y = fb->input_.mouse_y();
                    fb->display_->pointer_outside(x, y);
                    fb->input_.move(x, y);
                }
                break;
            case SDL_EVENT_WINDOW_MOUSE_ENTER:
                // One cursor setting serves every window: the one the pointer is over decides.
                if ((fb = owner(event.window.windowID))) jxfb::show_cursor(fb->cursor_);
                break;
            case SDL_EVENT_GAMEPAD_ADDED:
                jxfb::gamepads().added(event.gdevice.which);
                break;
            case SDL_EVENT_GAMEPAD_REMOVED:
                jxfb::gamepads().removed(event.gdevice.which);
                break;
            case SDL_EVENT_GAMEPAD_BUTTON_DOWN: {
                // A gamepad is no window's: every framebuffer sees its presses.
                const int slot = jxfb::gamepads().slot_of(event.gbutton.which);
                if (slot >= 0) {
                    for (JXFramebuffer *each : live) {
                        each->input_.pad_pressed(jxfb::pad_button(slot, event.gbutton.button));
                    }
                }
                break;
            }
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
        throw std::invalid_argument(
            "unknown key name '" + name +
            "' (SDL's key names, such as 'A', 'Space', 'Left', 'Return', 'F1', 'Left Shift'; "
            "'physical ' and an SDL scancode name, such as 'physical W'; 'mouse left', "
            "'mouse middle', 'mouse right', 'mouse x1', 'mouse x2'; 'pad a', 'pad2 start', "
            "'pad dpup', ... with SDL's gamepad button names)");
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
    return input_.held(control);
}

bool JXFramebuffer::pressed(const std::string &name, bool repeat) {
    const jxfb::Control control = control_named(name);
    // Asking about a gamepad starts them: its presses are seen from the next drain on.
    if (jxfb::is_pad_button(control)) gamepads_ready("pressed()");
    return input_.pressed(control, repeat);
}

const std::string &JXFramebuffer::typed() {
    if (reachable("typed()") && !text_input_) {
        display_->start_text_input();
        text_input_ = true;
    }
    return input_.typed();
}

float JXFramebuffer::axis(const std::string &name) {
    int slot = 0;
    SDL_GamepadAxis axis = SDL_GAMEPAD_AXIS_INVALID;
    if (!jxfb::axis_from_name(name, slot, axis)) {
        throw std::invalid_argument(
            "unknown axis name '" + name +
            "' ('pad leftx', 'pad lefty', 'pad rightx', 'pad righty', 'pad lefttrigger', "
            "'pad righttrigger', or the same with 'pad2' to 'pad8')");
    }
    return gamepads_ready("axis()") ? jxfb::gamepads().axis(slot, axis) : 0.0f;
}

std::vector<std::string> JXFramebuffer::gamepads() {
    return gamepads_ready("gamepads()") ? jxfb::gamepads().names() : std::vector<std::string>{};
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
    if (!reachable("Setting fullscreen")) {
        fullscreen_ = fullscreen;
        return;
    }
    display_->set_fullscreen(fullscreen, input_.mouse_seen());
    fullscreen_ = display_->fullscreen();
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
