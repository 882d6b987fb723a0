#include "sdl_session.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#if defined(__linux__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
#define JXFB_UNIX_DESKTOP 1  // X11 and Wayland, named by DISPLAY and WAYLAND_DISPLAY
#endif
#if !defined(_WIN32)
#define JXFB_SIGACTION 1
#endif

namespace jxfb::session {

namespace {

struct State {
    std::mutex mutex;     // guards everything below that is not atomic
    int counts[32] = {};  // holds per subsystem, indexed by the SDL_INIT_* flag's bit
    int total = 0;
    std::atomic<bool> video_up{false};
    std::atomic<std::thread::id> video_thread{};
    std::string video_thread_name;
    std::vector<std::unique_ptr<VideoResource>> deferred;
    std::atomic<bool> has_deferred{false};
    std::atomic<bool> video_lost{false};
    std::atomic<std::string (*)()> namer{nullptr};
    std::atomic<int> starting{0};  // subsystems being initialised, under the lock
};

// Never destroyed: what it holds must not be released by the process's exit handlers, after the
// interpreter and perhaps SDL's libraries are gone.
State &state() {
    static State *const s = new State;
    return *s;
}

int bit_of(SDL_InitFlags subsystem) {
    int bit = 0;
    while (bit < 31 && (subsystem >> bit) != 1u) ++bit;
    return bit;
}

std::string thread_name() {
    std::string (*namer)() = state().namer.load();
    return namer ? namer() : std::string();
}

std::string quoted_thread(const std::string &name) {
    return name.empty() ? std::string("unnamed") : "'" + name + "'";
}

bool named(const char *variable) {
    const char *value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// Unless the environment names a driver, SDL probes every display server it knows, and on a
// machine without Wayland, libwayland prints an error about XDG_RUNTIME_DIR on each probe. Only
// the servers the environment names are tried; with none named there is nothing to show a window
// on, and the message says what to set (SDL's own is "No available video device"). A driver
// named is left to SDL, under either of the names SDL reads: SDL_VIDEO_DRIVER, or SDL2's
// SDL_VIDEODRIVER, which countless CI set-ups still set (SDL_VIDEO_DRIVER wins when both are).
void choose_video_driver() {
    SDL_ResetHint(SDL_HINT_VIDEO_DRIVER);
#ifdef JXFB_UNIX_DESKTOP
    if (named("SDL_VIDEO_DRIVER") || named("SDL_VIDEODRIVER")) return;
    const bool x11 = named("DISPLAY");
    const bool wayland = named("WAYLAND_DISPLAY") || named("WAYLAND_SOCKET");
    if (x11 && !wayland) SDL_SetHint(SDL_HINT_VIDEO_DRIVER, "x11");
    if (wayland && !x11) SDL_SetHint(SDL_HINT_VIDEO_DRIVER, "wayland");
    if (!x11 && !wayland) {
        throw std::runtime_error(
            "No display to show a window on: neither DISPLAY (X11) nor WAYLAND_DISPLAY (Wayland) "
            "is set. Set the one your desktop uses, or SDL_VIDEO_DRIVER=dummy to run without a "
            "screen.");
    }
#endif
}

void run_deferred() {
    std::vector<std::unique_ptr<VideoResource>> due;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        due.swap(state().deferred);
        state().has_deferred = false;
    }
    due.clear();  // each one's destructor calls SDL (and may release a hold): outside the lock
}

}  // namespace

Hold::Hold(SDL_InitFlags subsystem) {
    State &s = state();
    const bool video = subsystem == SDL_INIT_VIDEO;
    std::string name;
    if (video) {
        check_video_thread("Framebuffer()");  // also releases what waits for this thread
        name = thread_name();                 // Python code: never under the lock
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    const int bit = bit_of(subsystem);
    if (video) {
        if (s.video_lost) {
            throw std::runtime_error(
                "The connection to the display server was lost: no window can be opened in this "
                "process any more.");
        }
        if (s.video_up && s.video_thread.load() != std::this_thread::get_id()) {
            throw WrongThread(
                "Framebuffer() only works on the thread that opened the "
                "framebuffers' windows (" +
                quoted_thread(s.video_thread_name) + ")");  // lost a race with another thread
        }
    }
    try {
        if (video && s.counts[bit] == 0) choose_video_driver();
        // Before the first subsystem brings up SDL's events: no signal handlers of SDL's (see the
        // header). Set each time, since SDL_Quit forgets every hint.
        SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
        ++s.starting;
        const bool started = SDL_InitSubSystem(subsystem);
        --s.starting;
        if (!started) throw std::runtime_error(SDL_GetError());
    } catch (...) {
        // Even a failed initialisation, or a hint set, leaves SDL partly set up (its copy of the
        // environment, for one), which would keep a later attempt from seeing a corrected one.
        if (s.total == 0) SDL_Quit();
        throw;
    }
    ++s.counts[bit];
    ++s.total;
    if (video && s.counts[bit] == 1) {
        s.video_thread = std::this_thread::get_id();
        s.video_thread_name = std::move(name);
        s.video_up = true;
    }
    subsystem_ = subsystem;
}

Hold &Hold::operator=(Hold &&other) noexcept {
    if (this != &other) {
        release();
        subsystem_ = other.subsystem_;
        other.subsystem_ = 0;
    }
    return *this;
}

void Hold::release() {
    if (subsystem_ == 0) return;
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const bool video = subsystem_ == SDL_INIT_VIDEO;
    const int bit = bit_of(subsystem_);
    --s.counts[bit];
    --s.total;
    // After the display server went away, SDL's video is left as it is: quitting it would call
    // into a dead connection (Xlib ends the process, Wayland waits forever).
    const bool lost = s.video_lost;
    if (!(video && lost)) SDL_QuitSubSystem(subsystem_);
    if (video && s.counts[bit] == 0) {
        s.video_up = false;
        s.video_thread = std::thread::id();
        s.video_thread_name.clear();
    }
    if (s.total == 0 && !lost) SDL_Quit();
    subsystem_ = 0;
}

void check_video_thread(const char *member) {
    State &s = state();
    if (!s.video_up) return;
    if (s.video_thread.load() == std::this_thread::get_id()) {
        if (s.has_deferred) run_deferred();
        return;
    }
    const std::string caller = thread_name();
    std::string owner;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.video_up) return;  // went down meanwhile
        owner = s.video_thread_name;
    }
    throw WrongThread(std::string(member) +
                      " only works on the thread that opened the "
                      "framebuffers' windows (" +
                      quoted_thread(owner) + "), not on " + quoted_thread(caller));
}

bool on_video_thread() {
    const State &s = state();
    return !s.video_up || s.video_thread.load() == std::this_thread::get_id();
}

bool video_up() {
    return state().video_up;
}

void release_on_video_thread(std::unique_ptr<VideoResource> resource) {
    if (on_video_thread()) {
        resource.reset();
        return;
    }
    std::lock_guard<std::mutex> lock(state().mutex);
    state().deferred.push_back(std::move(resource));
    state().has_deferred = true;
}

void release_at_exit() {
    // A subsystem still starting on another thread holds the lock (SDL's audio waiting for a
    // sound server that does not answer, given up on by its caller): the process ends without
    // waiting for it.
    if (state().starting > 0) return;
    if (on_video_thread()) {
        run_deferred();
        return;
    }
    std::lock_guard<std::mutex> lock(state().mutex);
    for (auto &resource : state().deferred) (void)resource.release();
    state().deferred.clear();
    state().has_deferred = false;
}

void set_thread_namer(std::string (*namer)()) {
    state().namer = namer;
}

void mark_video_lost() {
    state().video_lost = true;
}

bool video_lost() {
    return state().video_lost;
}

// --- SIGTERM ------------------------------------------------------------------------------------

namespace {

std::atomic<int> running_loops{0};
std::atomic<bool> termination_requested{false};

#ifdef JXFB_SIGACTION
std::mutex handler_mutex;  // installing and removing
bool handler_installed = false;

void on_sigterm(int number) {
    // Async-signal-safe: lock-free atomics, sigaction and raise only.
    if (running_loops.load() > 0 && !termination_requested.exchange(true)) return;
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(number, &fallback, nullptr);
    raise(number);  // delivered with the default action once this handler returns
}

void install_handler() {
    std::lock_guard<std::mutex> lock(handler_mutex);
    if (handler_installed) return;
    struct sigaction current{};
    sigaction(SIGTERM, nullptr, &current);
    // Only where nothing else handles SIGTERM: a handler of the program's own stays.
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
    struct sigaction ours{};
    ours.sa_handler = &on_sigterm;
    sigemptyset(&ours.sa_mask);
    ours.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &ours, nullptr);
    handler_installed = true;
}

void remove_handler() {
    std::lock_guard<std::mutex> lock(handler_mutex);
    if (!handler_installed) return;
    handler_installed = false;
    struct sigaction current{};
    sigaction(SIGTERM, nullptr, &current);
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != &on_sigterm) return;
    struct sigaction fallback{};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGTERM, &fallback, nullptr);
}
#else
void install_handler() {}
void remove_handler() {}
#endif

}  // namespace

void loop_started() {
    if (running_loops.fetch_add(1) == 0) {
        termination_requested = false;
        install_handler();
    }
}

void loop_ended() {
    if (running_loops.fetch_sub(1) == 1) remove_handler();
}

bool take_termination_request() {
    return termination_requested.load(std::memory_order_relaxed) &&
           termination_requested.exchange(false);
}

}  // namespace jxfb::session
