// The process's one owner of SDL: which subsystems are up and who holds them, the thread that
// SDL's video belongs to, and what SIGTERM does. Everything in the engine that initialises SDL
// goes through here: framebuffers hold video, an audio device holds audio, gamepads hold the
// gamepad subsystem. Plain C++; the binding adds only a way to name threads.
//
// Subsystems. A `session::Hold` is one user's hold on one subsystem. The first hold on a
// subsystem initialises it (SDL_InitSubSystem), the last one released quits it
// (SDL_QuitSubSystem), and once nothing at all is held SDL shuts down (SDL_Quit), so that its
// hints, its copy of the environment and the rest of its state start afresh for the next user (a
// corrected SDL_VIDEO_DRIVER or DISPLAY is seen). Holds of different subsystems are independent:
// audio keeps playing while the last window goes, and the reverse.
//
// The video thread. SDL's video (windows, their events, renderers) belongs to the thread that
// brought it up: SDL treats that thread as its main thread, and X11 with OpenGL, or Wayland, crash
// when another thread makes or destroys windows under it. Every member that reaches SDL's video
// calls check_video_thread() first, which refuses other threads with WrongThread while video is up.
// Something that must be released on the video thread but whose owner goes on another one (a
// framebuffer's last reference dropped by a worker) is handed to release_on_video_thread(): the
// video thread releases it at its next checked call, or release_at_exit() at interpreter exit.
//
// A lost display. When the display server goes away (the X server ends, the Wayland compositor
// quits), calling SDL's video again would end the process or hang it: display_loss.h notices,
// and mark_video_lost() makes the session leave SDL's video alone from then on (it is never shut
// down, and no new window can be opened) while other subsystems carry on.
//
// Signals. SDL is told never to install its own SIGINT and SIGTERM handlers: they would turn a
// SIGTERM into an event for as long as any subsystem is up, audio and gamepads included, where no
// window loop reads it. SIGINT stays Python's (Ctrl-C). SIGTERM's rule is the framebuffers': while
// a window's loop runs (loop_started() to loop_ended()), a SIGTERM asks the loops to end
// (take_termination_request() tells them); while none runs, or when a second SIGTERM arrives
// before the first was answered, SIGTERM has its default action and ends the process. A SIGTERM
// handler the program installed itself is never replaced.
//
// Thread safety: every function here may be called from any thread.
#pragma once

#include <SDL3/SDL.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace jxfb::session {

// One hold on one SDL subsystem (a single SDL_INIT_* flag). Movable, not copyable.
class Hold {
public:
    Hold() = default;  // holds nothing
    // Initialises the subsystem if nothing holds it yet. Throws WrongThread for video held by
    // another thread, std::runtime_error with SDL's text (or, for video, with what to set when no
    // display is named in the environment) if SDL refuses; nothing is held then.
    explicit Hold(SDL_InitFlags subsystem);
    ~Hold() { release(); }
    Hold(Hold &&other) noexcept : subsystem_(other.subsystem_) { other.subsystem_ = 0; }
    Hold &operator=(Hold &&other) noexcept;
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;

    // Gives the hold up now (quitting the subsystem, and SDL, if it was the last); safe to repeat.
    void release();
    bool held() const { return subsystem_ != 0; }

private:
    SDL_InitFlags subsystem_ = 0;
};

// --- The video thread ---------------------------------------------------------------------------

// A call from a thread that may not reach SDL's video now.
class WrongThread : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws WrongThread, naming the thread that may call, if SDL's video is up and this is not its
// thread; the message begins with `member` ("flip()", "Setting title"). On the video thread it
// first releases whatever was handed to release_on_video_thread().
void check_video_thread(const char *member);

// Whether this thread may reach SDL's video: video is down, or this is its thread.
bool on_video_thread();

// Whether SDL's video is up (a window's loop then drains SDL's events).
bool video_up();

// Something whose destruction calls SDL's video.
struct VideoResource {
    virtual ~VideoResource() = default;
};

// Destroys `resource` now if this is the video thread (or video is down), else keeps it for the
// video thread's next checked call.
void release_on_video_thread(std::unique_ptr<VideoResource> resource);

// At interpreter exit: releases what waits for the video thread if this is it; otherwise lets it
// go without calling SDL (the process is ending, and its thread may be gone).
void release_at_exit();

// How threads are named in WrongThread's message; the binding gives Python's thread names. Called
// on the calling thread, never with the session's lock held. Without one, threads go unnamed.
void set_thread_namer(std::string (*namer)());

// --- A lost display -----------------------------------------------------------------------------

// The display server behind SDL's video is gone: from now on video is never quit or shut down
// (that would end the process or hang it), and a new hold on video is refused.
void mark_video_lost();
bool video_lost();

// --- SIGTERM ------------------------------------------------------------------------------------

// A window's loop begins and ends (each loop_started() is matched by one loop_ended()).
void loop_started();
void loop_ended();

// Whether a SIGTERM asked the running loops to end since the last call; clears the request.
bool take_termination_request();

}  // namespace jxfb::session
