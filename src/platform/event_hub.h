// The event hub: the one place where SDL's events are drained and handed to the windows they
// belong to. SDL's event queue is process-wide, so a drain made for one window (its running() or
// flip()) brings the events of every window; the hub owns the list of live windows, the keyboard's
// hand-off between them, and each window's input (WindowInput), and it is the only code that
// reads SDL's event queue.
//
// Events. Every SDL event of interest is first turned into an Event, a small type of our own, and
// only then dispatched: a new kind of input, another backend, or a test kit that presses keys
// without a screen (EventHub::inject) all go through the same dispatch.
//
// Frames. Drains are numbered, and everything a drain brings to a window's frame (presses,
// releases, text, scrolling) carries that number. A window's frame ends at its flip(), which lets
// go of exactly what that window's queries could see before flip() began: what was drained up to
// the window's latest query, or up to its own latest drain, whichever is later. What another
// window's call drains after that belongs to the window's next frame, so that in a loop of
// `a.flip(); b.flip()` a press in b drained by a.flip() is seen by b's next frame, not wiped by
// b.flip(). With one window this is the plain rule: what a frame's drains bring, its flip() ends.
//
// Threads. Drains, attach and injection's dispatch run on the video thread (sdl_session.h). The
// queries of a WindowInput, detach and inject may be made on any thread: a window's input is
// guarded by a lock of its own, and the pointer is mapped from window sizes cached on the video
// thread (from SDL's size events), so no query calls SDL.
#pragma once

#include <SDL3/SDL.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "input.h"
#include "layout.h"

namespace jxfb {

// One event as the hub dispatches it. `kind` says which fields mean something; the rest keep
// their defaults. `window` is 0 for the events that belong to no window (kQuit and the gamepads').
struct Event {
    enum class Kind : std::uint8_t {
        kQuit,            // the program is asked to end: every window's loop ends
        kCloseRequested,  // window: its close button, the window manager, Alt+F4
        kWindowGone,      // window: destroyed by someone else (another X client); ends as a close
        kFocusLost,       // window: the keyboard went elsewhere; the keys held there are let go
        kKey,             // window: key, scancode, raw, down, repeat
        kText,            // window: text, UTF-8 (control characters are dropped: they are keys)
        kMouseButton,     // window: button (SDL_BUTTON_*), down, x, y
        kMouseMotion,     // window: x, y
        kMouseWheel,      // window: dx, dy in notches (x to the right, y away from the user), x, y
        kMouseEnter,      // window: the pointer came over it
        kMouseLeave,      // window: the pointer left it
        kFullscreen,      // window: down says whether it is fullscreen now
        kResized,         // window: size (window units and output pixels)
        kPadAdded,        // pad: a gamepad was plugged in
        kPadRemoved,      // pad: unplugged
        kPadButton,       // pad, button (SDL_GamepadButton), down
    };

    Kind kind = Kind::kQuit;
    SDL_WindowID window = 0;
    std::uint64_t timestamp = 0;  // nanoseconds, SDL_GetTicksNS()'s clock; 0 for "now"

    // kKey: the key by what it types and by where it is; raw is the keyboard's own code (0 for a
    // release SDL made up itself when the focus left the window); repeat for auto-repeat.
    SDL_Keycode key = SDLK_UNKNOWN;
    SDL_Scancode scancode = SDL_SCANCODE_UNKNOWN;
    std::uint16_t raw = 0;
    bool down = false;    // kKey, kMouseButton, kPadButton: went down; kFullscreen: entered
    bool repeat = false;  // kKey

    std::uint8_t button = 0;  // kMouseButton, kPadButton
    // The pointer in window units: kMouseButton, kMouseMotion, kMouseWheel; NaN for a button or
    // wheel event where the pointer is then (what an injected click without a place means).
    float x = 0.0f;
    float y = 0.0f;
    float dx = 0.0f;  // kMouseWheel
    float dy = 0.0f;
    WindowSize size;         // kResized
    SDL_JoystickID pad = 0;  // kPadAdded, kPadRemoved, kPadButton
    std::string text;        // kText
};

// Turns an SDL event into an Event; false for an event the hub has no use for. On the video
// thread: a size event is completed with the window's sizes in both units, read from SDL.
bool translate(const SDL_Event &sdl, Event &out);

// The input of one window: held keys and buttons, the frame's presses, releases, text and
// scrolling, the pointer, and the window's size as last drained. Every query counts as a look at
// the frame (see the header's "Frames"); any thread may ask.
class WindowInput {
public:
    WindowInput(int picture_w, int picture_h) : picture_w_(picture_w), picture_h_(picture_h) {}

    bool held(Control c);
    bool pressed(Control c, bool repeat);
    bool released(Control c);
    std::string typed(bool edits = false);
    std::pair<float, float> wheel();
    // The picture pixel under the pointer, (-1, -1) before the pointer was seen over the window;
    // outside the picture when the pointer is. Calls no SDL function.
    std::pair<int, int> mouse();
    bool mouse_seen();
    // The window's size as of the latest drain (or set_size), in window units and pixels.
    WindowSize size();
    // The window's size, read from SDL on the video thread outside a drain (after a switch to
    // fullscreen, whose size events come at the next drain).
    void set_size(const WindowSize &size);

    // The window's frame ends (flip() begins): what its queries could see is let go.
    void end_frame();

private:
    friend class EventHub;
    void looked(std::uint64_t drain) {
        if (drain > seen_upto_) seen_upto_ = drain;
    }

    std::mutex mutex_;
    InputState state_;
    int picture_w_;
    int picture_h_;
    WindowSize size_;
    std::uint64_t seen_upto_ = 0;  // the latest drain a query or the window's own call saw
    bool detached_ = false;        // the window is gone: its next end_frame() ends it all
};

class EventHub {
public:
    // What the hub asks of a window's owner. Called on the video thread during a drain.
    class Window {
    public:
        // The window's loop is over: closed, a quit event, SIGTERM, or the window destroyed.
        virtual void end_loop() = 0;
        // The display server is gone: let go of the window without calling SDL (present.h).
        virtual void display_lost() = 0;
        // The display put the window into fullscreen or took it out (`on`).
        virtual void fullscreen_changed(bool on) = 0;
        // The window's size changed (the window manager, the user, a fullscreen switch).
        virtual void resized(const WindowSize &size) = 0;
        // The pointer left the window, last seen at (x, y) inside: where is it now?
        virtual void pointer_left(float &x, float &y) = 0;
        // The pointer came over the window: SDL's one cursor setting becomes this window's.
        virtual void pointer_entered() = 0;

    protected:
        ~Window() = default;
    };

    EventHub() = default;
    EventHub(const EventHub &) = delete;
    EventHub &operator=(const EventHub &) = delete;

    // The window `id` of `owner` is live: its events go to `input` from the next drain on. On the
    // video thread; `size` is the window's size now.
    void attach(Window &owner, SDL_WindowID id, std::shared_ptr<WindowInput> input,
                const WindowSize &size);
    // The window is gone: nothing more reaches its input, which lets go of every held key and
    // the frame (the pointer's last place stays). The last window out forgets the focus hand-off
    // and what was injected. Any thread.
    void detach(Window &owner);
    bool empty();

    // Drains SDL's queue, after what was injected, and dispatches it all; `by` is the input of
    // the window whose call drains (it has seen this drain), or null. Returns the drain's number.
    // On the video thread.
    std::uint64_t drain(WindowInput *by);
    // The number of the latest finished drain (0 before the first).
    std::uint64_t drains() const { return drains_.load(); }

    // Puts `event` before SDL's own events at the next drain, as if SDL had queued it: what a test
    // kit presses, types or clicks takes effect at the next running() or flip(), as real input
    // would. A window event names a live window's id (others are dropped at the drain). Any thread.
    void inject(Event event);

    // Every window's display is gone (display_loss.h): each owner lets go of its window.
    void lose_every_window();

private:
    struct Live {
        Window *owner;
        SDL_WindowID id;
        std::shared_ptr<WindowInput> input;
    };

    // Keys held when one of our windows lost the keyboard focus. A key still held goes down again
    // in the window that gets the focus next (SDL re-sends held modifiers at once, the keyboard's
    // auto-repeat the other keys a moment later): that is the same hold, not a new press there.
    class FocusHandoff {
    public:
        // A drain of events begins.
        void drain() { released_.clear(); }
        // Feeds one key event in; true for a key going down that continues such a hold.
        bool continues(const Event &key) {
            if (carried_.empty() && (key.down || key.raw != 0)) return false;  // the usual case
            return carried_or_released(key);
        }
        // `held` were held in the window at the moment (`timestamp`) it lost the focus.
        void focus_lost(std::uint64_t timestamp, const std::vector<Control> &held);

    private:
        bool carried_or_released(const Event &key);

        // SDL releases every held key itself when the focus leaves (no raw key code), in the
        // same drain as the focus-lost that follows.
        std::vector<Control> released_;
        std::vector<Control> carried_;
        std::uint64_t lost_at_ = 0;
    };

    Live *find(SDL_WindowID id);
    void dispatch(const Event &event, std::uint64_t drain);
    void end_every_loop();

    // Guards the list and the hand-off. Recursive: an owner called during a drain may detach
    // (a lost display lets every window go).
    std::recursive_mutex mutex_;
    std::vector<Live> live_;
    FocusHandoff handoff_;
    std::mutex injected_mutex_;
    std::vector<Event> injected_;
    std::atomic<std::uint64_t> drains_{0};
};

// The one hub of the process (SDL's events are process-wide).
EventHub &hub();

}  // namespace jxfb
