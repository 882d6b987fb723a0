#include "event_hub.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "display_loss.h"
#include "gamepad.h"
#include "sdl_session.h"
#include "virtual_pad.h"

namespace jxfb {

namespace {

WindowSize window_size_of(SDL_WindowID id) {
    WindowSize size;
    SDL_Window *window = SDL_GetWindowFromID(id);
    if (window != nullptr) {
        SDL_GetWindowSize(window, &size.w, &size.h);
        SDL_GetWindowSizeInPixels(window, &size.pixel_w, &size.pixel_h);
    }
    return size;
}

bool contains_control(const std::vector<Control> &set, Control c) {
    return std::find(set.begin(), set.end(), c) != set.end();
}

void remove_control(std::vector<Control> &set, Control c) {
    set.erase(std::remove(set.begin(), set.end(), c), set.end());
}

}  // namespace

bool translate(const SDL_Event &sdl, Event &out) {
    using K = Event::Kind;
    out = Event();
    out.timestamp = sdl.common.timestamp;
    const auto window = [&out](K kind, SDL_WindowID id) {
        out.kind = kind;
        out.window = id;
        return true;
    };
    switch (sdl.type) {
        case SDL_EVENT_QUIT:
            out.kind = K::kQuit;
            return true;
        case SDL_EVENT_WINDOW_CLOSE_REQUESTED:
            return window(K::kCloseRequested, sdl.window.windowID);
        case SDL_EVENT_WINDOW_DESTROYED:
            return window(K::kWindowGone, sdl.window.windowID);
        case SDL_EVENT_WINDOW_FOCUS_LOST:
            return window(K::kFocusLost, sdl.window.windowID);
        case SDL_EVENT_KEY_DOWN:
        case SDL_EVENT_KEY_UP:
            out.key = sdl.key.key;
            out.scancode = sdl.key.scancode;
            out.raw = sdl.key.raw;
            out.down = sdl.key.down;
            out.repeat = sdl.key.repeat;
            return window(K::kKey, sdl.key.windowID);
        case SDL_EVENT_TEXT_INPUT:
            if (sdl.text.text != nullptr) out.text = sdl.text.text;
            return window(K::kText, sdl.text.windowID);
        case SDL_EVENT_MOUSE_BUTTON_DOWN:
        case SDL_EVENT_MOUSE_BUTTON_UP:
            out.button = sdl.button.button;
            out.down = sdl.button.down;
            out.x = sdl.button.x;
            out.y = sdl.button.y;
            return window(K::kMouseButton, sdl.button.windowID);
        case SDL_EVENT_MOUSE_MOTION:
            out.x = sdl.motion.x;
            out.y = sdl.motion.y;
            return window(K::kMouseMotion, sdl.motion.windowID);
        case SDL_EVENT_MOUSE_WHEEL: {
            // "Natural" scrolling: SDL says which way is which.
            const float sign = sdl.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -1.0f : 1.0f;
            out.dx = sign * sdl.wheel.x;
            out.dy = sign * sdl.wheel.y;
            out.x = sdl.wheel.mouse_x;
            out.y = sdl.wheel.mouse_y;
            return window(K::kMouseWheel, sdl.wheel.windowID);
        }
        case SDL_EVENT_WINDOW_MOUSE_ENTER:
            return window(K::kMouseEnter, sdl.window.windowID);
        case SDL_EVENT_WINDOW_MOUSE_LEAVE:
            return window(K::kMouseLeave, sdl.window.windowID);
        case SDL_EVENT_WINDOW_ENTER_FULLSCREEN:
        case SDL_EVENT_WINDOW_LEAVE_FULLSCREEN:
            out.down = sdl.type == SDL_EVENT_WINDOW_ENTER_FULLSCREEN;
            return window(K::kFullscreen, sdl.window.windowID);
        case SDL_EVENT_WINDOW_RESIZED:
        case SDL_EVENT_WINDOW_PIXEL_SIZE_CHANGED:
            // Either size may change without the other (a move to a denser display): both are
            // read, as they are now.
            out.size = window_size_of(sdl.window.windowID);
            return window(K::kResized, sdl.window.windowID);
        case SDL_EVENT_GAMEPAD_ADDED:
        case SDL_EVENT_GAMEPAD_REMOVED:
            out.kind = sdl.type == SDL_EVENT_GAMEPAD_ADDED ? K::kPadAdded : K::kPadRemoved;
            out.pad = sdl.gdevice.which;
            return true;
        case SDL_EVENT_GAMEPAD_BUTTON_DOWN:
        case SDL_EVENT_GAMEPAD_BUTTON_UP:
            out.kind = K::kPadButton;
            out.pad = sdl.gbutton.which;
            out.button = sdl.gbutton.button;
            out.down = sdl.gbutton.down;
            return true;
        default:
            return false;
    }
}

// --- WindowInput
// ----------------------------------------------------------------------------------

bool WindowInput::held(Control c) {
    std::lock_guard<std::mutex> lock(mutex_);
    looked(hub().drains());
    return state_.held(c);
}

bool WindowInput::pressed(Control c, bool repeat) {
    std::lock_guard<std::mutex> lock(mutex_);
    looked(hub().drains());
    return state_.pressed(c, repeat);
}

bool WindowInput::released(Control c) {
    std::lock_guard<std::mutex> lock(mutex_);
    looked(hub().drains());
    return state_.released(c);
}

std::string WindowInput::typed(bool edits) {
    std::lock_guard<std::mutex> lock(mutex_);
    looked(hub().drains());
    return state_.typed(edits);
}

std::pair<float, float> WindowInput::wheel() {
    std::lock_guard<std::mutex> lock(mutex_);
    looked(hub().drains());
    return state_.wheel();
}

std::pair<int, int> WindowInput::mouse() {
    std::lock_guard<std::mutex> lock(mutex_);
    looked(hub().drains());
    if (!state_.mouse_seen()) return {-1, -1};
    return picture_pixel(picture_w_, picture_h_, size_, state_.mouse_x(), state_.mouse_y());
}

bool WindowInput::mouse_seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.mouse_seen();
}

WindowSize WindowInput::size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_;
}

void WindowInput::set_size(const WindowSize &size) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_ = size;
}

void WindowInput::end_frame() {
    std::lock_guard<std::mutex> lock(mutex_);
    // A window that is gone has one frame left: the releases of what was held when it went.
    state_.forget(detached_ ? std::numeric_limits<std::uint64_t>::max() : seen_upto_);
}

// --- EventHub
// -------------------------------------------------------------------------------------

EventHub &hub() {
    // Never destroyed: a framebuffer collected at the interpreter's exit may still detach.
    static EventHub *const the_hub = new EventHub;
    return *the_hub;
}

void EventHub::attach(Window &owner, SDL_WindowID id, std::shared_ptr<WindowInput> input,
                      const WindowSize &size) {
    {
        std::lock_guard<std::mutex> lock(input->mutex_);
        input->size_ = size;
    }
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    live_.push_back(Live{&owner, id, std::move(input)});
}

void EventHub::detach(Window &owner) {
    std::shared_ptr<WindowInput> input;
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        const auto found = std::find_if(live_.begin(), live_.end(), [&owner](const Live &live) {
            return live.owner == &owner;
        });
        if (found == live_.end()) return;
        input = std::move(found->input);
        live_.erase(found);
        if (live_.empty()) {
            handoff_ = FocusHandoff();
            std::lock_guard<std::mutex> injected(injected_mutex_);
            injected_.clear();
        }
    }
    std::lock_guard<std::mutex> lock(input->mutex_);
    input->state_.release_all(drains_.load());
    input->detached_ = true;
}

bool EventHub::empty() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return live_.empty();
}

EventHub::Live *EventHub::find(SDL_WindowID id) {
    for (Live &live : live_) {
        if (live.id == id) return &live;
    }
    return nullptr;
}

void EventHub::inject(Event event) {
    std::lock_guard<std::mutex> lock(injected_mutex_);
    injected_.push_back(std::move(event));
}

void EventHub::end_every_loop() {
    const std::vector<Live> live = live_;  // an owner may detach
    for (const Live &each : live) each.owner->end_loop();
}

void EventHub::lose_every_window() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::vector<Live> live = live_;
    for (const Live &each : live) each.owner->display_lost();
}

std::uint64_t EventHub::drain(WindowInput *by) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::uint64_t number = drains_.load() + 1;
    handoff_.drain();
    std::vector<Event> injected;
    {
        std::lock_guard<std::mutex> guard(injected_mutex_);
        injected.swap(injected_);
    }
    for (Event &event : injected) {
        if (event.timestamp == 0) event.timestamp = SDL_GetTicksNS();
        dispatch(event, number);
    }
    // What a test's virtual gamepads were told comes in this drain, as a real pad's would.
    apply_virtual_pads();
    SDL_Event sdl;
    Event event;
    while (SDL_PollEvent(&sdl)) {
        if (translate(sdl, event)) dispatch(event, number);
    }
    // A window that another client destroyed sends no event of SDL's: the X connection tells.
    for (std::size_t i = 0; i < live_.size(); ++i) {
        if (!display_loss::destroyed(live_[i].id)) continue;
        event = Event();
        event.kind = Event::Kind::kWindowGone;
        event.window = live_[i].id;
        dispatch(event, number);
    }
    // A SIGTERM ends every loop, as SDL's quit event would.
    if (session::take_termination_request()) end_every_loop();
    if (display_loss::lost()) lose_every_window();
    drains_ = number;
    if (by != nullptr) {
        std::lock_guard<std::mutex> guard(by->mutex_);
        by->looked(number);
    }
    return number;
}

void EventHub::dispatch(const Event &event, std::uint64_t drain) {
    using K = Event::Kind;
    switch (event.kind) {
        case K::kQuit:
            end_every_loop();
            return;
        case K::kPadAdded:
            gamepads().added(event.pad);
            return;
        case K::kPadRemoved:
            gamepads().removed(event.pad);
            return;
        case K::kPadButton: {
            // A gamepad is no window's: every window sees its presses.
            const int slot = gamepads().slot_of(event.pad);
            if (slot < 0) return;
            for (const Live &each : live_) {
                std::lock_guard<std::mutex> lock(each.input->mutex_);
                each.input->state_.pad_button(drain, pad_button(slot, event.button), event.down);
            }
            return;
        }
        case K::kKey: {
            // The hand-off sees every key event, whichever window it is for.
            const bool continued = handoff_.continues(event);
            Live *live = find(event.window);
            if (live == nullptr) return;
            std::lock_guard<std::mutex> lock(live->input->mutex_);
            live->input->state_.key(drain, event.key, event.scancode, event.down, event.repeat,
                                    continued);
            return;
        }
        default:
            break;
    }
    Live *live = find(event.window);
    if (live == nullptr) return;  // a window of someone else's, or one already gone
    WindowInput &input = *live->input;
    switch (event.kind) {
        case K::kCloseRequested:
        case K::kWindowGone:
            // With several windows open, closing one sends no quit event: that loop ends only.
            live->owner->end_loop();
            break;
        case K::kFocusLost: {
            // Keys released elsewhere never reach this window.
            std::vector<Control> held;
            {
                std::lock_guard<std::mutex> lock(input.mutex_);
                input.state_.release_keys(drain, held);
            }
            handoff_.focus_lost(event.timestamp, held);
            break;
        }
        case K::kText: {
            std::lock_guard<std::mutex> lock(input.mutex_);
            input.state_.text(drain, event.text);
            break;
        }
        case K::kMouseButton: {
            std::lock_guard<std::mutex> lock(input.mutex_);
            if (!std::isnan(event.x)) input.state_.move(event.x, event.y);
            input.state_.button(drain, event.button, event.down);
            break;
        }
        case K::kMouseMotion: {
            std::lock_guard<std::mutex> lock(input.mutex_);
            input.state_.move(event.x, event.y);
            break;
        }
        case K::kMouseWheel: {
            std::lock_guard<std::mutex> lock(input.mutex_);
            input.state_.wheel(drain, event.dx, event.dy);
            if (!std::isnan(event.x)) input.state_.move(event.x, event.y);
            break;
        }
        case K::kMouseLeave: {
            // SDL's last motion stopped at the window's edge; the pointer is past it now.
            float x = 0.0f, y = 0.0f;
            {
                std::lock_guard<std::mutex> lock(input.mutex_);
                if (!input.state_.mouse_seen()) break;
                x = input.state_.mouse_x();
                y = input.state_.mouse_y();
            }
            live->owner->pointer_left(x, y);
            std::lock_guard<std::mutex> lock(input.mutex_);
            input.state_.move(x, y);
            break;
        }
        case K::kMouseEnter:
            live->owner->pointer_entered();
            break;
        case K::kFullscreen:
            // The window manager may take a window out of fullscreen, or put it back.
            live->owner->fullscreen_changed(event.down);
            break;
        case K::kResized: {
            {
                std::lock_guard<std::mutex> lock(input.mutex_);
                input.size_ = event.size;
            }
            live->owner->resized(event.size);
            break;
        }
        default:
            break;
    }
}

bool EventHub::FocusHandoff::carried_or_released(const Event &key) {
    const Control by_key = key.key, by_place = physical_key(key.scancode);
    if (!key.down) {
        if (key.raw == 0) {
            released_.push_back(by_key);
            released_.push_back(by_place);
        } else {
            // Let go on the keyboard: the hold has ended.
            remove_control(carried_, by_key);
            remove_control(carried_, by_place);
        }
        return false;
    }
    if (key.repeat) return false;
    const bool carried = contains_control(carried_, by_key) || contains_control(carried_, by_place);
    if (!carried) return false;
    remove_control(carried_, by_key);
    remove_control(carried_, by_place);
    // The hold goes on in the next window within moments (the auto-repeat delay); a press much
    // later, after the key was let go unseen in another program, is a new one.
    constexpr std::int64_t kHandoffNs = 2'000'000'000;
    // Signed: a key event carries the keyboard's own time, which may come before the moment
    // the focus-lost event was drained.
    return static_cast<std::int64_t>(key.timestamp - lost_at_) < kHandoffNs;
}

void EventHub::FocusHandoff::focus_lost(std::uint64_t timestamp, const std::vector<Control> &held) {
    carried_ = released_;
    carried_.insert(carried_.end(), held.begin(), held.end());
    released_.clear();
    lost_at_ = timestamp;
}

}  // namespace jxfb
