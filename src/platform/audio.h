// Sound on SDL3's audio streams: one stream that plays queued samples gaplessly in order, and a
// stream per sound effect ("voice"), all bound to one logical device, which SDL mixes. Plain C++
// with no knowledge of Python; the binding (src/module/register_audio.cpp) converts the caller's
// arrays into the plain sample blocks taken here.
//
// Every member may be called from any thread: SDL's streams and devices lock themselves, and the
// state kept here is behind a mutex.
//
// A sound server that stops answering (a frozen PulseAudio) makes SDL wait on it when a device
// opens or closes, and when its audio starts or quits: for half a minute, or for ever. Those calls
// run on a thread of their own here, waited for at most a few seconds (and only until Ctrl-C: see
// set_interrupt_check); one that does not return by then is left to finish alone, owning all it
// touches. What still works afterwards: every other Audio member (SDL's device thread waits on the
// server without holding the locks they take), new framebuffers, and the end of the process; a
// new Audio waits for the server like the first one did.
//
// A server that goes away (killed, restarted) or a device unplugged: SDL follows its default
// device when another one takes its place. When none does, the next call on the Audio gives its
// device back and raises "sound device lost"; a new Audio starts SDL's audio afresh.
#pragma once

#include <SDL3/SDL.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sdl_session.h"

namespace jxfb {

enum class SampleType { Int16, Float32, Float64 };

// Thrown by a wait for the sound server that the interrupt check ended: the caller's own error
// (KeyboardInterrupt) is pending. Whatever was waited for goes on alone, as after a time-out.
class Interrupted : public std::exception {
public:
    const char *what() const noexcept override { return "interrupted"; }
};

// How the waits above learn that the caller was interrupted: `check` is asked every 20 ms from
// the waiting thread, and returning true ends the wait with Interrupted. Without one, waits end
// only by finishing or timing out. The binding gives a check of Python's signals.
void set_interrupt_check(bool (*check)());

// A caller's samples, read in place: `frames` frames of `channels` samples each, the sample of
// channel c in frame i at data + i * frame_stride + c * channel_stride (bytes; any sign, any
// alignment). Floats are clipped to -1.0..1.0 and NaN read as 0; int16 is scaled by 1/32768.
// `channels` (1 or 2) and `rate` (frames a second) are the samples' own, 0 for the Audio's:
// SDL's stream converts them (one channel plays on both, two are mixed as (L + R) / 2).
struct SampleBlock {
    const void *data = nullptr;
    SampleType type = SampleType::Float32;
    std::size_t frames = 0;
    std::ptrdiff_t frame_stride = 0;
    std::ptrdiff_t channel_stride = 0;
    int channels = 0;
    int rate = 0;
};

// Writes the block's samples (frames [first, first + count)) as float32 into `out`, `channels`
// interleaved: the block's own, or 1 from a block of 2, mixed as (L + R) / 2.
void convert_samples(const SampleBlock &block, int channels, std::size_t first, std::size_t count,
                     float *out);

// A sound file read whole: float32 samples, `channels` interleaved, `rate` frames a second.
struct LoadedSound {
    std::vector<float> samples;
    int channels = 0;
    int rate = 0;
};

// Reads a WAV file (PCM of 8, 16, 24 or 32 bits, float, and the rest SDL's loader takes) through
// SDL. Throws std::runtime_error with SDL's text when it cannot.
LoadedSound load_wav(const char *path);

class Audio;

// One sound effect mixed over the stream: its own SDL stream bound to the device, destroyed when
// it is stopped, when it has played out (found by Audio's sweep or by asking `playing`), or when
// its Audio closes.
class Voice {
public:
    Voice() = default;  // a voice that has nothing to play
    ~Voice();
    Voice(const Voice &) = delete;
    Voice &operator=(const Voice &) = delete;

    bool playing();
    void stop();

    // A voice fed as it plays (a streamed file): `feed` appends samples (as the Audio's
    // SampleBlock rules say, of the format given to Audio::stream), `finish` says nothing more
    // comes. Until then it is playing even when it has nothing queued. `buffered` is the seconds
    // queued and not yet played, in the samples' own rate.
    bool feed(const SampleBlock &samples);  // false once stopped
    void finish();
    double buffered();

private:
    friend class Audio;
    bool finished_locked();  // true if it has played out or was stopped; releases it then
    void release_locked();
    static void SDLCALL refill(void *self, SDL_AudioStream *stream, int needed, int total);

    std::mutex mutex_;
    SDL_AudioStream *stream_ = nullptr;  // null once stopped, played out or closed
    bool loop_ = false;
    bool fed_ = false;  // fed as it plays, until finish()
    int channels_ = 0;  // of what it is given
    int rate_ = 0;
    std::vector<float> scratch_;  // fed samples on their way in
    std::vector<float> samples_;  // a looping voice's sound, put again each time it runs out
    std::size_t position_ = 0;    // the next float of samples_ to put
};

class Audio {
public:
    static constexpr int kMinRate = 8000;
    static constexpr int kMaxRate = 192000;

    // Opens the default playback device for float samples at `rate` frames a second in `channels`
    // channels (SDL converts to whatever the device takes). Throws std::invalid_argument for a
    // rate or channel count outside the ranges above (before SDL is touched), std::runtime_error
    // with SDL's text when there is no driver or device; either way nothing is left behind.
    Audio(int rate, int channels);
    ~Audio();
    Audio(const Audio &) = delete;
    Audio &operator=(const Audio &) = delete;

    // Appends to the stream, after everything queued before: it plays without a gap as long as
    // the queue does not run dry.
    void queue(const SampleBlock &samples);
    // Seconds of queued sound that the device has not taken yet.
    double queued();
    // Drops what is queued and not yet played.
    void clear();
    // Starts a sound effect mixed over the stream from now on, played once or over and over,
    // scaled by `volume` (0 or more).
    std::shared_ptr<Voice> play(const SampleBlock &samples, bool loop, float volume);
    // Starts a voice with nothing in it yet, fed by Voice::feed with samples of `channels` at
    // `rate`.
    std::shared_ptr<Voice> stream(int channels, int rate, float volume);
    // What feeding a streamed voice went wrong with, raised by the next call (once).
    void fail(const std::string &message);
    static constexpr int kMinSampleRate = 1000;
    static constexpr int kMaxSampleRate = 384000;

    float volume();
    void set_volume(float volume);  // 0 or more; 1 is as queued
    bool paused();
    void set_paused(bool paused);
    int rate();
    int channels();
    // How many voices are bound to the device (those played out are given back at the next play).
    std::size_t bound_voices();

    // Stops every voice, closes the device and lets SDL's audio go. Calling it again does nothing;
    // every other member throws std::runtime_error from then on. Waits for the sound server at
    // most about a second (then leaves the rest to a thread of its own); with `interruptible`,
    // only until the interrupt check says so (then throws Interrupted, closed all the same).
    void close(bool interruptible = false);

private:
    void check_open();
    void release_locked(bool interruptible);
    static bool SDLCALL watch(void *self, SDL_Event *event);
    static void reap_lost();
    bool no_device_left();
    void check_volume(float volume) const;
    void put(SDL_AudioStream *stream, const SampleBlock &samples);
    SDL_AudioSpec format_of(const SampleBlock &samples) const;
    void sweep_voices();

    std::mutex mutex_;
    int rate_;
    int channels_;
    session::Hold hold_;                 // SDL's audio, held while open
    SDL_AudioDeviceID device_ = 0;       // 0 once closed
    SDL_AudioStream *stream_ = nullptr;  // the queue
    std::vector<std::shared_ptr<Voice>> voices_;
    std::vector<float> scratch_;    // converted samples on their way into a stream
    SDL_AudioSpec queue_format_{};  // what the queue is given now
    std::string failure_;           // see fail()
    std::mutex removed_mutex_;
    std::vector<SDL_AudioDeviceID> removed_;  // devices SDL said went: see no_device_left
    std::atomic<bool> any_removed_{false};
    bool lost_ = false;  // given back after the device went: calls say so
};

}  // namespace jxfb
