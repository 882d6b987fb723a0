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
// reaches this thread ends the stretch at once (the sleep returns EINTR), and the main thread is
// the one the kernel gives a signal to first: the stretches only bound how late a signal handled
// by another thread is noticed. Each stretch is a wake-up, which on a virtual machine costs some
// tens of microseconds of CPU: at 20 ms a frame at 60 fps sleeps in one.
constexpr std::uint64_t kSliceNs = 20'000'000;

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
    for (std::uint64_t now = now_ns(); now < deadline;) {
        const std::uint64_t stop =
            interrupt.requested ? std::min(deadline, now + kSliceNs) : deadline;
#ifdef JXFB_ABSOLUTE_SLEEP
        sleep_to(stop);
#else
        SDL_DelayPrecise(stop - now);
#endif
        now = now_ns();
        // At the deadline nothing is asked: the caller has its own chance to see a signal, and
        // asking may cost it (the binding retakes the interpreter lock to ask).
        if (now < deadline && interrupt.requested && interrupt.requested(interrupt.context)) {
            return false;
        }
    }
    return true;
}

bool FramePacer::end_frame(const Interrupt &interrupt) {
    bool completed = true;
    const std::uint64_t deadline = last_frame_ns_ + frame_period_ns_;
    const std::uint64_t wake = deadline - std::min(wake_early_ns_, frame_period_ns_);
    const bool slept = frame_period_ns_ > 0 && now_ns() < wake;
    if (slept) {
        if (interrupt.sleeping) interrupt.sleeping(interrupt.context, true);
        completed = sleep_until(wake, interrupt);
        if (completed) {
            // Steps towards the lower quartile of how late the kernel wakes us: then a quarter of
            // the frames wake before the deadline and spin out the rest (a little CPU), the others
            // are late by the spread of the wake-ups only. A rare long delay moves the estimate by
            // one step; the cap bounds the spinning.
            constexpr std::uint64_t kUpNs = 2'000, kDownNs = 6'000, kMostNs = 400'000;
            const std::uint64_t woke = now_ns();
            if (woke - wake > wake_early_ns_) {
                wake_early_ns_ = std::min(wake_early_ns_ + kUpNs, kMostNs);
            } else {
                wake_early_ns_ -= std::min(wake_early_ns_, kDownNs);
            }
            // Woken early: wait out the last few microseconds on the clock.
            while (now_ns() < deadline) {
            }
        }
    }
    last_frame_ns_ = now_ns();
    // The caller's own work on waking (the binding waits for the interpreter lock, which a busy
    // thread may hold for a few milliseconds) is counted into the next frame, so that the frames
    // keep their rate.
    if (slept && interrupt.sleeping) interrupt.sleeping(interrupt.context, false);
    return completed;
}

void FrameMeter::count(std::uint64_t at) {
    std::lock_guard<std::mutex> lock(mutex_);
    times_[frames_ % kKept] = at;
    ++frames_;
}

std::uint64_t FrameMeter::frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

double FrameMeter::rate() const {
    constexpr std::uint64_t kSecondNs = 1'000'000'000;
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t now = now_ns();  // under the lock: no frame counted is newer
    if (frames_ < 2) return 0.0;
    const std::uint64_t last = times_[(frames_ - 1) % kKept];
    // Newest first, back to the first frame within the second.
    const std::uint64_t kept = frames_ < kKept ? frames_ : kKept;
    std::uint64_t n = 0, first = last;
    for (; n < kept; ++n) {
        const std::uint64_t at = times_[(frames_ - 1 - n) % kKept];
        if (now - at >= kSecondNs) break;
        first = at;
    }
    if (n < 2 || last == first) return 0.0;
    return static_cast<double>(n - 1) * 1e9 / static_cast<double>(last - first);
}

}  // namespace jxfb
