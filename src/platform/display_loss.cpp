#include "display_loss.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "sdl_session.h"

#if defined(__linux__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
#include <poll.h>
#define JXFB_WATCH_DISPLAY 1  // X11 and Wayland
#endif

namespace jxfb::display_loss {

#ifdef JXFB_WATCH_DISPLAY

namespace {

// Xlib's and libwayland's entry points used here, declared by hand: both libraries are loaded at
// run time (as SDL loads them), so the engine needs neither their headers nor to link them. A
// Display and a wl_display are only passed around.
using IOErrorHandler = int (*)(void *display);
using IOErrorExitHandler = void (*)(void *display, void *user_data);
using SetIOErrorHandler = IOErrorHandler (*)(IOErrorHandler handler);
using SetIOErrorExitHandler = void (*)(void *display, IOErrorExitHandler handler, void *data);
using WaylandInt = int (*)(void *display);
// Xlib's XErrorEvent, as far as it is read here.
struct XErrorEvent {
    int type;
    void *display;
    unsigned long resourceid;
    unsigned long serial;
    unsigned char error_code;
    unsigned char request_code;
    unsigned char minor_code;
};
using ErrorHandler = int (*)(void *display, XErrorEvent *error);
using SetErrorHandler = ErrorHandler (*)(ErrorHandler handler);
using XSync = int (*)(void *display, int discard);
constexpr unsigned char kBadWindow = 3;
constexpr unsigned char kBadDrawable = 9;

struct Watch {
    enum Kind { kNone, kX11, kWayland } kind = kNone;
    int windows = 0;  // watched windows of this video session
    SDL_SharedObject *library = nullptr;
    void *connection = nullptr;  // the Display or wl_display
    SetIOErrorHandler set_io_error_handler = nullptr;
    SetIOErrorExitHandler set_io_error_exit_handler = nullptr;
    WaylandInt wl_display_get_error = nullptr;
    WaylandInt wl_display_get_fd = nullptr;
    SetErrorHandler set_error_handler = nullptr;
    XSync x_sync = nullptr;
};
Watch watched;  // only ever touched on the video thread

// What Xlib's handlers see; they run on the video thread inside an Xlib call.
std::atomic<void *> x11_display{nullptr};
std::atomic<IOErrorHandler> x11_previous{nullptr};
std::atomic<bool> x11_failed{false};

// Our windows on the X connection, and whether another client destroyed each. Xlib calls the
// protocol error handler on the video thread, inside a call that holds the connection's lock;
// destroyed() may be asked on any thread.
struct XWindow {
    SDL_WindowID id;
    unsigned long xid;
    bool destroyed;
};
std::mutex x11_windows_mutex;
std::vector<XWindow> x11_windows;
std::atomic<ErrorHandler> x11_previous_error{nullptr};

// A BadWindow or BadDrawable naming one of our windows means someone else destroyed it: marked,
// and swallowed, as is every later error about it (SDL goes on calling on it until it is
// released). Every other error goes to the handler that was there before (SDL's, or Xlib's
// default: the message and exit).
int on_error(void *display, XErrorEvent *error) {
    if (display == x11_display.load()) {
        std::lock_guard<std::mutex> lock(x11_windows_mutex);
        for (XWindow &window : x11_windows) {
            if (window.xid != error->resourceid) continue;
            if (error->error_code == kBadWindow || error->error_code == kBadDrawable) {
                window.destroyed = true;
            }
            if (window.destroyed) return 0;
        }
    }
    const ErrorHandler previous = x11_previous_error.load();
    return previous ? previous(display, error) : 0;
}

// Xlib's fatal I/O error handler is one for the whole process: other connections' errors go to
// the handler that was there before (by default, the message and exit).
int on_io_error(void *display) {
    if (display != nullptr && display == x11_display.load()) {
        x11_failed = true;
        return 0;
    }
    const IOErrorHandler previous = x11_previous.load();
    return previous ? previous(display) : 0;
}

// Returning from here, instead of exiting, leaves the connection marked broken: Xlib returns from
// every later call on it at once.
void on_io_error_exit(void *, void *) {
    x11_failed = true;
}

template <typename Function>
Function function(SDL_SharedObject *library, const char *name) {
    return reinterpret_cast<Function>(SDL_LoadFunction(library, name));
}

void watch_x11(SDL_PropertiesID properties) {
    void *display =
        SDL_GetPointerProperty(properties, SDL_PROP_WINDOW_X11_DISPLAY_POINTER, nullptr);
    if (display == nullptr) return;
    SDL_SharedObject *library = SDL_LoadObject("libX11.so.6");  // SDL's, loaded already
    if (library == nullptr) return;
    const auto set_handler = function<SetIOErrorHandler>(library, "XSetIOErrorHandler");
    // libX11 1.7 and later; before it, a lost X server still ends the process.
    const auto set_exit = function<SetIOErrorExitHandler>(library, "XSetIOErrorExitHandler");
    const auto set_error = function<SetErrorHandler>(library, "XSetErrorHandler");
    const auto x_sync = function<XSync>(library, "XSync");
    if (set_handler == nullptr || set_exit == nullptr || set_error == nullptr ||
        x_sync == nullptr) {
        SDL_UnloadObject(library);
        return;
    }
    x11_failed = false;
    x11_display = display;
    const IOErrorHandler previous = set_handler(&on_io_error);
    x11_previous = previous == &on_io_error ? nullptr : previous;
    set_exit(display, &on_io_error_exit, nullptr);
    const ErrorHandler previous_error = set_error(&on_error);
    x11_previous_error = previous_error == &on_error ? nullptr : previous_error;
    watched = {Watch::kX11, 0,       library, display,   set_handler,
               set_exit,    nullptr, nullptr, set_error, x_sync};
}

void watch_wayland(SDL_PropertiesID properties) {
    void *display =
        SDL_GetPointerProperty(properties, SDL_PROP_WINDOW_WAYLAND_DISPLAY_POINTER, nullptr);
    if (display == nullptr) return;
    SDL_SharedObject *library = SDL_LoadObject("libwayland-client.so.0");  // SDL's, loaded already
    if (library == nullptr) return;
    const auto get_error = function<WaylandInt>(library, "wl_display_get_error");
    const auto get_fd = function<WaylandInt>(library, "wl_display_get_fd");
    if (get_error == nullptr || get_fd == nullptr) {
        SDL_UnloadObject(library);
        return;
    }
    watched = {Watch::kWayland, 0,         library, display, nullptr,
               nullptr,         get_error, get_fd,  nullptr, nullptr};
}

bool found_lost() {
    switch (watched.kind) {
        case Watch::kX11:
            return x11_failed.load();
        case Watch::kWayland: {
            if (watched.wl_display_get_error(watched.connection) != 0) return true;
            // The compositor gone: its end of the socket closed. libwayland only notices when it
            // next reads, and SDL may first wait for an answer that never comes.
            pollfd socket{watched.wl_display_get_fd(watched.connection), POLLIN, 0};
            return poll(&socket, 1, 0) == 1 && (socket.revents & (POLLHUP | POLLERR)) != 0;
        }
        case Watch::kNone:
            break;
    }
    return false;
}

}  // namespace

void watch(SDL_Window *window) {
    if (watched.kind == Watch::kNone && !session::video_lost()) {
        const char *driver = SDL_GetCurrentVideoDriver();
        const SDL_PropertiesID properties = SDL_GetWindowProperties(window);
        if (driver != nullptr && std::strcmp(driver, "x11") == 0) watch_x11(properties);
        if (driver != nullptr && std::strcmp(driver, "wayland") == 0) watch_wayland(properties);
        SDL_ClearError();  // a symbol that was looked for and not found is no error of the caller's
    }
    if (watched.kind == Watch::kNone) return;
    ++watched.windows;
    if (watched.kind == Watch::kX11) {
        const SDL_PropertiesID properties = SDL_GetWindowProperties(window);
        const auto xid = static_cast<unsigned long>(
            SDL_GetNumberProperty(properties, SDL_PROP_WINDOW_X11_WINDOW_NUMBER, 0));
        std::lock_guard<std::mutex> lock(x11_windows_mutex);
        x11_windows.push_back(XWindow{SDL_GetWindowID(window), xid, false});
    }
}

bool destroyed(SDL_WindowID id) {
    std::lock_guard<std::mutex> lock(x11_windows_mutex);
    for (const XWindow &window : x11_windows) {
        if (window.id == id) return window.destroyed;
    }
    return false;
}

bool lost() {
    if (session::video_lost()) return true;
    if (!found_lost()) return false;
    session::mark_video_lost();
    return true;
}

void unwatch(SDL_WindowID id) {
    if (watched.kind == Watch::kNone) return;
    if (watched.kind == Watch::kX11) {
        // Xlib reports errors when their replies come: one round trip, and those about this
        // window (SDL destroying a window that is gone already) have reached on_error.
        watched.x_sync(watched.connection, 0);
        std::lock_guard<std::mutex> lock(x11_windows_mutex);
        x11_windows.erase(std::remove_if(x11_windows.begin(), x11_windows.end(),
                                         [id](const XWindow &w) { return w.id == id; }),
                          x11_windows.end());
    }
    if (--watched.windows > 0) return;
    if (watched.kind == Watch::kX11) {
        // Xlib's handlers as they were (a handler installed after ours stays).
        const IOErrorHandler ours = watched.set_io_error_handler(x11_previous.load());
        if (ours != &on_io_error) watched.set_io_error_handler(ours);
        watched.set_io_error_exit_handler(watched.connection, nullptr, nullptr);
        const ErrorHandler ours_error = watched.set_error_handler(x11_previous_error.load());
        if (ours_error != &on_error) watched.set_error_handler(ours_error);
        x11_display = nullptr;
    }
    SDL_UnloadObject(watched.library);
    watched = Watch{};
}

#else  // no display server of these kinds: nothing to lose

void watch(SDL_Window *) {}
bool lost() {
    return session::video_lost();
}
bool destroyed(SDL_WindowID) {
    return false;
}
void unwatch(SDL_WindowID) {}

#endif

}  // namespace jxfb::display_loss
