#include "clock.h"

#include <SDL3/SDL.h>

#include <algorithm>
#include <ctime>

#if defined(__linux__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
#define JXFB_ABSOLUTE_SLEEP 1
#endif

namespace jxfb {

namespace {

// How long one stretch of a sleep may last before the interrupt is asked again. A signal that
// reaches this thread ends the stretch at once (the sleep returns EINTR); one delivered to another
// thread is noticed at the end of the stretch. Every stretch is a wake-up, and on a virtual
// machine each costs several microseconds of CPU: at 60 fps this is one or two a frame.
constexpr std::uint64_t kSliceNs = 10'000'000;

#ifdef JXFB_ABSOLUTE_SLEEP
// One sleep to an absolute time on the monotonic clock: the kernel wakes the thread at the
// deadline itself (give or take its timer slack), with no spinning and no drift from computing a
// relative duration first. A signal handler ends it early (EINTR).
void sleep_to(std::uint64_t deadline) {
    timespec until{static_cast<time_t>(deadline / 1'000'000'000u),
                   static_cast<long>(deadline % 1'000'000'000u)};
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
}
#endif

}  // namespace

std::uint64_t now_ns() {
#ifdef JXFB_ABSOLUTE_SLEEP
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec);
#else
    return SDL_GetTicksNS();
#endif
}

bool sleep_until(std::uint64_t deadline, const Interrupt &interrupt) {
    for (std::uint64_t now = now_ns(); now < deadline; now = now_ns()) {
        const std::uint64_t stop =
            interrupt.requested ? std::min(deadline, now + kSliceNs) : deadline;
#ifdef JXFB_ABSOLUTE_SLEEP
        sleep_to(stop);
#else
        SDL_DelayPrecise(stop - now);
#endif
        if (interrupt.requested && interrupt.requested(interrupt.context)) return false;
    }
    return true;
}

bool FramePacer::end_frame(const Interrupt &interrupt) {
    bool completed = true;
    if (frame_period_ns_ > 0) {
        completed = sleep_until(last_frame_ns_ + frame_period_ns_, interrupt);
    }
    last_frame_ns_ = now_ns();
    return completed;
}

}  // namespace jxfb
