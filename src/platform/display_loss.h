// Noticing that the display server behind SDL's video has gone away (the X server ended, the
// Wayland compositor quit), before SDL's next call on the dead connection ends the process
// (Xlib's fatal I/O error path calls exit) or hangs it (SDL waiting for a compositor that is no
// longer there). A loss found is reported to the session (session::mark_video_lost), which leaves
// SDL's video alone from then on.
//
// X11: Xlib's I/O error handler and, for SDL's connection, its exit handler (libX11 1.7 and
// later) are taken over, so that Xlib returns from the error instead of exiting, and so is its
// protocol error handler, for the errors that a window destroyed by another client causes; libX11
// is reached the way SDL reaches it, loaded at run time. Wayland: the connection's socket is asked
// whether it hung up, and libwayland whether the connection has failed. Other drivers lose nothing.
#pragma once

#include <SDL3/SDL.h>

namespace jxfb::display_loss {

// Starts watching the display connection behind `window`, if it is not watched yet (once for all
// the windows of one video session). Call on the video thread.
void watch(SDL_Window *window);

// Whether the connection is gone; the first time it finds so, marks the session's video lost.
// Cheap enough for every frame. Call on the video thread.
bool lost();

// Whether another client destroyed the watched window `id` (X11: `xdotool windowclose`). Its
// requests then fail with BadWindow, which Xlib's default handler answers by ending the process;
// while the connection is watched, such errors about our own windows are swallowed instead and
// the window is marked destroyed, so that its loop can end as a close request does. Any thread.
bool destroyed(SDL_WindowID id);

// Stops watching the window `id`, once SDL has destroyed it (SDL's video may be going down
// normally; never after a loss). Errors still on their way about it are awaited first.
void unwatch(SDL_WindowID id);

}  // namespace jxfb::display_loss
