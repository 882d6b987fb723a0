// Frame pacing: a monotonic clock and a sleep to an absolute deadline that can be cut short.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace jxfb {

// What a sleep asks of its caller; any of it may be null. The Python binding lets other threads
// run during the sleep and checks for a pending Ctrl-C (which needs the interpreter lock) between
// its stretches, so the engine needs no knowledge of Python.
struct Interrupt {
    // Asked whenever a stretch of the sleep ends before the deadline (a signal woke the thread, or
    // the stretch ran its slice): true stops the sleep.
    bool (*requested)(void *context) = nullptr;
    // Called with true just before a frame delay sleeps and with false just after it: `requested`
    // is only ever asked in between.
    void (*sleeping)(void *context, bool begins) = nullptr;
    void *context = nullptr;
};

// Nanoseconds on a monotonic clock with an arbitrary origin.
std::uint64_t now_ns();

// Sleeps until now_ns() reaches `deadline`. Returns false if `interrupt` asked to stop first.
bool sleep_until(std::uint64_t deadline, const Interrupt &interrupt);

// Paces a frame loop: each frame lasts at least one period, counted from the end of the previous
// one (a late frame is not made up by shorter ones after it).
class FramePacer {
public:
    // fps <= 0 leaves the loop unpaced.
    explicit FramePacer(int fps)
        : frame_period_ns_(fps > 0 ? 1'000'000'000ull / static_cast<std::uint64_t>(fps) : 0),
          last_frame_ns_(now_ns()) {}

    // Sleeps out what is left of the period, then starts the next one. Returns false if the sleep
    // was interrupted (the next period starts all the same). Touches nothing but the pacer.
    bool end_frame(const Interrupt &interrupt);

private:
    std::uint64_t frame_period_ns_;
    std::uint64_t last_frame_ns_;  // when the previous frame ended
    // How much earlier than the deadline the sleep is set to end: the kernel wakes a sleeper some
    // time after its deadline (its timer slack, and on a virtual machine the host's own latency,
    // together 0.1 to 0.2 ms here), and that lateness would add to every frame. Learned from
    // frame to frame.
    std::uint64_t wake_early_ns_ = 0;
};

// Counts a loop's frames and measures their rate from the times they began. Any thread may ask
// while another counts.
class FrameMeter {
public:
    // A frame began at `at` (now_ns()'s clock).
    void count(std::uint64_t at);
    // How many were counted.
    std::uint64_t frames() const;
    // (n - 1) / (t_last - t_first) over the n frames that began during the last second, in
    // frames a second; 0.0 for fewer than two. A loop of more than kKept frames a second is
    // measured over its latest kKept.
    double rate() const;

    static constexpr std::size_t kKept = 1024;

private:
    mutable std::mutex mutex_;
    std::array<std::uint64_t, kKept> times_{};  // a ring: frame i's time at i % kKept
    std::uint64_t frames_ = 0;
};

}  // namespace jxfb
