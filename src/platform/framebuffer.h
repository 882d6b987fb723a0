// JXFramebuffer: an 8-bit indexed-colour picture with a 256-entry ARGB palette, shown magnified in
// an SDL3 window with a paced frame loop, and the keyboard, mouse and gamepads of that window.
// Plain C++ with no knowledge of Python; the binding in src/module/ wraps it.
//
// It owns the picture, the palette and the window's settings, and composes the rest: its hold on
// SDL's video (sdl_session.h), the window and the way frames reach it (present.h), frame pacing
// (clock.h). Its input comes from the event hub (event_hub.h), which drains SDL's events for every
// window and keeps each window's input; the input members here ask the hub's WindowInput, and the
// gamepads (gamepad.h).
//
// Threads. The members that reach SDL (the constructor, running, flip, quit, typed, the title,
// fullscreen, resizable and cursor setters, and the gamepad queries) throw session::WrongThread
// on any thread but the one that opened the live framebuffers' windows. The picture, the
// palette, the drawing kit, the other input queries (mouse() included: it calls no SDL function)
// and the getters may be used from any thread, as long as calls do not overlap; the one exception
// is flip()'s frame delay, which touches nothing but the framebuffer's pacer, so that the caller
// may let other threads run during it. A framebuffer destroyed on another thread leaves its window
// to be released on the video thread (session::release_on_video_thread).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "clock.h"
#include "draw.h"
#include "event_hub.h"
#include "input.h"
#include "present.h"
#include "sdl_session.h"

class JXFramebuffer final : private jxfb::EventHub::Window {
public:
    // Opens a window of (width * scale) x (height * scale) showing a width x height picture, all
    // index 0 (black). fps <= 0 leaves the loop unpaced.
    // Throws std::invalid_argument for sizes it refuses (a side or scale below 1, a window side
    // beyond kMaxWindowSide; nothing of SDL touched yet), session::WrongThread on the wrong
    // thread, and std::runtime_error with SDL's text when SDL refuses; either way nothing is left
    // behind.
    JXFramebuffer(int width, int height, int scale, int fps);
    ~JXFramebuffer();  // any thread: the window then waits for the video thread

    JXFramebuffer(const JXFramebuffer &) = delete;
    JXFramebuffer &operator=(const JXFramebuffer &) = delete;
    JXFramebuffer(JXFramebuffer &&) = delete;
    JXFramebuffer &operator=(JXFramebuffer &&) = delete;

    // The largest window side accepted, in pixels (present.h).
    static constexpr int kMaxWindowSide = jxfb::kMaxWindowSide;
    // The longest title accepted, in characters (Unicode code points): at four bytes of UTF-8
    // each, one message of the Wayland protocol still carries it (about 4,080 bytes); X11 takes
    // megabytes.
    static constexpr std::size_t kMaxTitleLength = 1000;

    // Drains SDL's event queue and tells whether the window's loop still runs: false once the
    // window was closed, a quit event or SIGTERM arrived, the display server went away, or quit().
    bool running();
    // Ends the frame: drains events; while running, shows the picture. Then, running or not,
    // sleeps out the rest of the frame period (see Interrupt for how it deals with its caller).
    // Throws std::runtime_error if another thread is in flip() on this framebuffer.
    void flip(const jxfb::Interrupt &interrupt = {});
    // Releases the window; the pixel and palette memory stays valid.
    void quit();

    // Something for flip() to call after each frame it shows, before the frame delay (a
    // recording copies the frame there); empty, flip calls nothing. What it throws, flip passes
    // on, without the frame delay.
    void set_frame_hook(std::function<void()> hook) { frame_hook_ = std::move(hook); }
    bool has_frame_hook() const { return static_cast<bool>(frame_hook_); }

    // The drawing kit (draw.h) on the picture, clipped to it: the picture itself (a const
    // framebuffer's is only read), and the scene that keeps the camera, clip and pattern that
    // the drawing calls go through.
    jxfb::draw::Canvas canvas() const {
        return {const_cast<std::uint8_t *>(pixels_.data()), width_, height_};
    }
    jxfb::draw::Scene &scene() { return scene_; }
    const jxfb::draw::Scene &scene() const { return scene_; }
    void pset(int x, int y, std::uint8_t c) { jxfb::draw::pset(scene_.view(), x, y, c); }
    std::uint8_t pget(int x, int y) const { return jxfb::draw::pget(scene_.camera(), x, y); }
    void clear(std::uint8_t color) { jxfb::draw::clear(scene_.picture(), color); }
    void line(int x0, int y0, int x1, int y1, std::uint8_t c) {
        jxfb::draw::line(scene_.view(), x0, y0, x1, y1, c);
    }
    void rect(int x, int y, int w, int h, std::uint8_t c, bool fill) {
        jxfb::draw::rect(scene_.view(), x, y, w, h, c, fill);
    }
    void circle(int x, int y, int r, std::uint8_t c, bool fill) {
        jxfb::draw::circle(scene_.view(), x, y, r, c, fill);
    }
    void blit(int x, int y, const jxfb::draw::Image &image, int key) {
        jxfb::draw::blit(scene_.view(), x, y, image, key);
    }
    template <typename Unit>
    std::int64_t text(int x, int y, const Unit *chars, std::size_t count, std::uint8_t c) {
        return jxfb::draw::text(scene_.view(), x, y, chars, count, c);
    }

    int width() const { return width_; }
    int height() const { return height_; }
    // The number of flip() calls so far, and the rate at which the latest second's came (see
    // FrameMeter). Any thread.
    std::uint64_t frames() const { return meter_.frames(); }
    double frame_rate() const { return meter_.rate(); }

    // The storage behind the array views: sized once at construction, it never moves.
    std::uint8_t *pixel_data() { return pixels_.data(); }
    std::uint32_t *palette_data() { return palette_entries_.data(); }

    // Input as of the latest drain of events (see input.h for the names; an unknown one throws
    // std::invalid_argument). "This frame" is what the hub keeps for the window's frame
    // (event_hub.h): every press, text and scroll shows in exactly one frame.
    bool key(const std::string &name);  // held down
    // Went down during this frame; with `repeat`, the keyboard's auto-repeat counts too.
    bool pressed(const std::string &name, bool repeat = false);
    // Went up during this frame.
    bool released(const std::string &name);
    // The text typed into the window during this frame, UTF-8; with `edits`, the editing keys'
    // presses among it (InputState::typed). Text input starts with the first call; nothing
    // typed before it is kept.
    std::string typed(bool edits = false);
    // The window's size in output pixels, as of the latest drain (or a fullscreen switch); after
    // quit(), the last one.
    std::pair<int, int> window_size();
    // The scrolling of this frame in notches: x to the right, y away from the user.
    std::pair<float, float> wheel() { return input_->wheel(); }
    // A gamepad axis ("pad leftx", ...): sticks -1.0 to 1.0, triggers 0.0 to 1.0, 0.0 for no pad.
    float axis(const std::string &name);
    // The connected gamepads' names by slot ("" for an empty slot below the last one in use).
    std::vector<std::string> gamepads();
    // The picture pixel under the pointer (outside the picture when the pointer is), from the
    // window's size as last drained: no SDL call, any thread.
    std::pair<int, int> mouse() { return input_->mouse(); }
    // The window's input, as the hub keeps it.
    jxfb::WindowInput &input() { return *input_; }
    // The window's SDL id: what an injected event (EventHub::inject) names.
    SDL_WindowID window_id() const { return window_id_; }

    const std::string &title() const { return title_; }
    // Throws std::invalid_argument for a NUL inside or more than kMaxTitleLength characters.
    void set_title(const std::string &title);
    // What the display did, as of the latest drain of events or set_fullscreen().
    bool fullscreen() const { return fullscreen_; }
    void set_fullscreen(bool fullscreen);
    bool resizable() const { return resizable_; }
    void set_resizable(bool resizable);
    bool cursor() const { return cursor_; }
    void set_cursor(bool shown);

private:
    // Whether `member` may and should reach the window: throws WrongThread on the wrong thread;
    // false once the window is released, or found lost when `probe` asks first (a drain of events
    // looks afterwards itself: SDL's own drain returns on a lost connection).
    bool reachable(const char *member, bool probe = true);
    void end_loop(bool hide);
    void release_display();
    // What the hub asks of the window (EventHub::Window), during a drain on the video thread.
    void end_loop() override { end_loop(true); }
    void display_lost() override { release_display(); }
    void fullscreen_changed(bool on) override { fullscreen_ = on; }
    void resized(const jxfb::WindowSize &size) override;
    void pointer_left(float &x, float &y) override;
    void pointer_entered() override;
    // Whether gamepads can be read (the display is up); starts SDL's gamepad subsystem if not yet.
    bool gamepads_ready(const char *member);
    static void lose_every_display();

    int width_;
    int height_;
    bool running_ = false;                    // the loop runs: counted by the session
    jxfb::session::Hold video_;               // held while the window is up
    std::unique_ptr<jxfb::Display> display_;  // null once released; goes before video_
    SDL_WindowID window_id_ = 0;              // the display's, as the hub knows it
    std::atomic<bool> in_flip_{false};
    std::vector<std::uint8_t> pixels_;
    std::vector<std::uint32_t> palette_entries_;
    jxfb::draw::Scene scene_;  // over pixels_, which never moves
    jxfb::FramePacer pacer_;
    jxfb::FrameMeter meter_;
    std::shared_ptr<jxfb::WindowInput> input_;  // the hub's while the window is live
    std::string title_ = "JXFramebuffer";
    bool fullscreen_ = false;
    bool resizable_ = false;
    bool cursor_ = true;
    bool text_input_ = false;  // started for this window
    std::function<void()> frame_hook_;
};
