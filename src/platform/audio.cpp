#include "audio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#if defined(__linux__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
#define JXFB_SOUND_SERVERS 1  // PipeWire and PulseAudio, found by their sockets
#endif

namespace jxfb {

namespace {

// Samples are converted and handed to SDL this many frames at a time, so that a long sound needs
// no second copy of itself on the way in.
constexpr std::size_t kChunkFrames = 4096;

[[noreturn]] void throw_sdl_error() {
    throw std::runtime_error(SDL_GetError());
}

template <typename T>
T load(const unsigned char *at) {
    T value;
    std::memcpy(&value, at, sizeof value);  // the caller's buffer need not be aligned
    return value;
}

float clipped(double x) {
    if (std::isnan(x)) return 0.0f;
    return static_cast<float>(std::clamp(x, -1.0, 1.0));
}

float sample_at(const unsigned char *at, SampleType type) {
    switch (type) {
        case SampleType::Int16:
            return static_cast<float>(load<std::int16_t>(at)) * (1.0f / 32768.0f);
        case SampleType::Float32:
            return clipped(load<float>(at));
        case SampleType::Float64:
            return clipped(load<double>(at));
    }
    return 0.0f;
}

// --- Waiting for the sound server ----------------------------------------------------------------

// How long opening and closing may wait for the sound server. Opening (SDL's audio starting, the
// device opening) takes some 10 to 50 ms with a server that answers.
constexpr double kOpenSeconds = 3.0;
constexpr double kCloseSeconds = 1.0;

std::atomic<bool (*)()> interrupt_check{nullptr};

struct Task {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr error;
};

// Runs `work` on a thread of its own and waits for it at most `seconds`, and, if `interruptible`,
// only until the interrupt check says so (asked every 20 ms: throws Interrupted). True if it
// finished (what it threw is thrown here); false if it was left to finish alone: `work` must then
// own everything it touches. A thread that finished in time is joined, so that none is still on
// its way out when the caller goes on (the process may be about to exit: a thread ending then
// races the exit's own work).
bool run_bounded(std::function<void()> work, double seconds, bool interruptible) {
    auto task = std::make_shared<Task>();
    std::thread worker([task, work = std::move(work)] {
        std::exception_ptr error;
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        // SDL keeps its error text per thread; a thread SDL did not start frees it only this way.
        SDL_CleanupTLS();
        std::lock_guard<std::mutex> lock(task->mutex);
        task->error = error;
        task->done = true;
        task->finished.notify_all();
    });
    // Joined once it has finished; left to finish alone if the wait ends first.
    struct Ending {
        std::thread &worker;
        Task &task;
        ~Ending() {
            bool done;
            {
                std::lock_guard<std::mutex> lock(task.mutex);
                done = task.done;
            }
            if (done) {
                worker.join();
            } else {
                worker.detach();
            }
        }
    } ending{worker, *task};
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(seconds));
    std::unique_lock<std::mutex> lock(task->mutex);
    while (!task->done) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        task->finished.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(20)));
        bool (*check)() = interrupt_check.load();
        if (!task->done && interruptible && check) {
            lock.unlock();
            const bool stop = check();
            lock.lock();
            if (stop && !task->done) throw Interrupted();
        }
    }
    lock.unlock();
    if (task->error) std::rethrow_exception(task->error);
    return true;
}

// --- Choosing the driver -------------------------------------------------------------------------

bool named(const char *variable) {
    const char *value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// SDL_AUDIO_DRIVER (SDL reads it itself) or SDL2's SDL_AUDIODRIVER names the driver, the first
// winning when both are set. Otherwise SDL would try every sound server it knows, and PipeWire's
// and ALSA's libraries print errors when they find nothing to play on: only the servers that can
// answer are tried (their variables, or their sockets in XDG_RUNTIME_DIR), then ALSA where the
// machine has sound cards (/dev/snd); with none of them, the message says what to set.
void choose_audio_driver() {
    // Set over whatever SDL read from the environment: its copy of it may be older than ours.
    const auto choose = [](const char *drivers) {
        SDL_SetHintWithPriority(SDL_HINT_AUDIO_DRIVER, drivers, SDL_HINT_OVERRIDE);
    };
    SDL_ResetHint(SDL_HINT_AUDIO_DRIVER);
    for (const char *variable : {"SDL_AUDIO_DRIVER", "SDL_AUDIODRIVER"}) {
        if (named(variable)) return choose(std::getenv(variable));
    }
#ifdef JXFB_SOUND_SERVERS
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    const auto socket_in_runtime = [runtime](const char *name) {
        SDL_PathInfo info;
        return runtime != nullptr && *runtime != '\0' &&
               SDL_GetPathInfo((std::string(runtime) + "/" + name).c_str(), &info) &&
               info.type == SDL_PATHTYPE_OTHER;  // a socket
    };
    std::string drivers;
    if (named("PIPEWIRE_REMOTE") || socket_in_runtime("pipewire-0")) drivers += ",pipewire";
    if (named("PULSE_SERVER") || socket_in_runtime("pulse/native")) drivers += ",pulseaudio";
    SDL_PathInfo cards;
    if (SDL_GetPathInfo("/dev/snd", &cards) && cards.type == SDL_PATHTYPE_DIRECTORY) {
        drivers += ",alsa";
    }
    if (drivers.empty()) {
        throw std::runtime_error(
            "No sound server or sound card was found: neither PULSE_SERVER nor PIPEWIRE_REMOTE "
            "is set, XDG_RUNTIME_DIR holds no PulseAudio or PipeWire socket, and there is no "
            "/dev/snd. Set SDL_AUDIO_DRIVER to the driver to use, or SDL_AUDIO_DRIVER=dummy to "
            "play into nothing.");
    }
    choose(drivers.c_str() + 1);
#endif
}

// SDL reports a device gone through an event it posts while events are pumped. A window's loop
// pumps them (the event hub drains them); without a window, the calls on an Audio do, at most
// every 50 ms.
void pump_audio_events() {
    static std::atomic<Uint64> last{0};
    const Uint64 now = SDL_GetTicksNS();
    if (now - last.load() < 50'000'000 || session::video_up()) return;
    last = now;
    SDL_PumpEvents();
}

// Every Audio not yet closed, so that a new one can give back the devices that went.
std::mutex registry_mutex;
std::vector<Audio *> registry;

}  // namespace

void set_interrupt_check(bool (*check)()) {
    interrupt_check = check;
}

void convert_samples(const SampleBlock &block, int channels, std::size_t first, std::size_t count,
                     float *out) {
    const auto *base = static_cast<const unsigned char *>(block.data);
    const bool mix_down = block.channels == 2 && channels == 1;
    for (std::size_t i = first; i < first + count; ++i) {
        const unsigned char *frame = base + static_cast<std::ptrdiff_t>(i) * block.frame_stride;
        if (mix_down) {
            *out++ = (sample_at(frame, block.type) +
                      sample_at(frame + block.channel_stride, block.type)) *
                     0.5f;
            continue;
        }
        for (int c = 0; c < channels; ++c) {
            *out++ = sample_at(frame + c * block.channel_stride, block.type);
        }
    }
}

namespace {

// Converts and puts the block into `stream` kChunkFrames frames at a time, through `scratch`.
bool put_chunks(SDL_AudioStream *stream, const SampleBlock &samples, int channels,
                std::vector<float> &scratch) {
    scratch.resize(std::min(samples.frames, kChunkFrames) * static_cast<std::size_t>(channels));
    for (std::size_t first = 0; first < samples.frames; first += kChunkFrames) {
        const std::size_t count = std::min(kChunkFrames, samples.frames - first);
        convert_samples(samples, channels, first, count, scratch.data());
        const auto bytes = static_cast<int>(count * channels * sizeof(float));
        if (!SDL_PutAudioStreamData(stream, scratch.data(), bytes)) return false;
    }
    return true;
}

}  // namespace

LoadedSound load_wav(const char *path) {
    SDL_AudioSpec spec;
    Uint8 *data = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV(path, &spec, &data, &length)) throw_sdl_error();
    LoadedSound sound;
    sound.channels = spec.channels;
    sound.rate = spec.freq;
    const std::size_t count = length / SDL_AUDIO_BYTESIZE(spec.format);
    // The usual encodings directly (SDL's loader hands them over in this machine's order)...
    const auto convert = [&](auto type, float scale, float offset) {
        using T = decltype(type);
        sound.samples.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            sound.samples[i] = static_cast<float>(load<T>(data + i * sizeof(T))) * scale + offset;
        }
    };
    switch (spec.format) {
        case SDL_AUDIO_U8:
            convert(std::uint8_t{}, 1.0f / 128.0f, -1.0f);
            break;
        case SDL_AUDIO_S16:
            convert(std::int16_t{}, 1.0f / 32768.0f, 0.0f);
            break;
        case SDL_AUDIO_S32:
            convert(std::int32_t{}, 1.0f / 2147483648.0f, 0.0f);
            break;
        case SDL_AUDIO_F32:
            convert(float{}, 1.0f, 0.0f);
            break;
        default: {  // ... and the rest through SDL's converter
            const SDL_AudioSpec floats{SDL_AUDIO_F32, spec.channels, spec.freq};
            Uint8 *converted = nullptr;
            int converted_length = 0;
            const bool ok = SDL_ConvertAudioSamples(&spec, data, static_cast<int>(length), &floats,
                                                    &converted, &converted_length);
            if (!ok) {
                SDL_free(data);
                throw_sdl_error();
            }
            sound.samples.resize(static_cast<std::size_t>(converted_length) / sizeof(float));
            std::memcpy(sound.samples.data(), converted, sound.samples.size() * sizeof(float));
            SDL_free(converted);
        }
    }
    SDL_free(data);
    return sound;
}

// --- Voice ---------------------------------------------------------------------------------------

Voice::~Voice() {
    std::lock_guard<std::mutex> lock(mutex_);
    release_locked();
}

void Voice::release_locked() {
    // Unbinding (inside) waits for the device's thread to finish mixing this stream, so `refill`
    // never runs after this.
    if (stream_) SDL_DestroyAudioStream(stream_);
    stream_ = nullptr;
}

bool Voice::finished_locked() {
    if (stream_ && !loop_ && !fed_ && SDL_GetAudioStreamQueued(stream_) <= 0) release_locked();
    return stream_ == nullptr;
}

bool Voice::playing() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !finished_locked();
}

void Voice::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    release_locked();
}

bool Voice::feed(const SampleBlock &samples) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stream_ || !fed_) return false;
    if (!put_chunks(stream_, samples, channels_, scratch_)) throw_sdl_error();
    return true;
}

void Voice::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stream_ || !fed_) return;
    fed_ = false;
    scratch_ = {};
    // All of it is to be played: nothing is held back for a resampler to look ahead.
    if (!SDL_FlushAudioStream(stream_)) throw_sdl_error();
}

double Voice::buffered() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stream_ || rate_ <= 0) return 0.0;
    const int queued = SDL_GetAudioStreamQueued(stream_);
    return queued > 0 ? static_cast<double>(queued) / (sizeof(float) * channels_) / rate_ : 0.0;
}

// Runs on SDL's audio thread, with the stream locked, whenever the device wants more of a looping
// voice than is queued: puts exactly what is needed, from where the last put ended, wrapping
// round. It touches only samples_ and position_, which nothing else changes once the voice plays
// (so it takes no lock: Voice::stop holds mutex_ while it waits for this to return).
void SDLCALL Voice::refill(void *self, SDL_AudioStream *stream, int needed, int) {
    auto &voice = *static_cast<Voice *>(self);
    const std::size_t total = voice.samples_.size();
    auto wanted = static_cast<std::size_t>(std::max(needed, 0)) / sizeof(float);
    while (wanted > 0) {
        const std::size_t count = std::min(wanted, total - voice.position_);
        if (!SDL_PutAudioStreamData(stream, voice.samples_.data() + voice.position_,
                                    static_cast<int>(count * sizeof(float)))) {
            return;  // out of memory: the voice falls silent until the next request
        }
        voice.position_ = (voice.position_ + count) % total;
        wanted -= count;
    }
}

// --- Audio ---------------------------------------------------------------------------------------

Audio::Audio(int rate, int channels) : rate_(rate), channels_(channels) {
    if (rate < kMinRate || rate > kMaxRate) {
        throw std::invalid_argument("rate must be " + std::to_string(kMinRate) + " to " +
                                    std::to_string(kMaxRate) + " frames a second, not " +
                                    std::to_string(rate));
    }
    if (channels != 1 && channels != 2) {
        throw std::invalid_argument("channels must be 1 (mono) or 2 (stereo), not " +
                                    std::to_string(channels));
    }
    pump_audio_events();
    reap_lost();
    // What the opening thread makes, handed over when it finishes in time, undone by that thread
    // itself when it finishes after the wait was given up.
    struct Opening {
        std::mutex mutex;
        bool finished = false;
        bool abandoned = false;
        std::string error;
        session::Hold hold;
        SDL_AudioDeviceID device = 0;
        SDL_AudioStream *stream = nullptr;
        void undo() {
            if (stream) SDL_DestroyAudioStream(stream);
            if (device) SDL_CloseAudioDevice(device);
            stream = nullptr;
            device = 0;
            hold.release();
        }
    };
    auto opening = std::make_shared<Opening>();
    const SDL_AudioSpec spec{SDL_AUDIO_F32, channels, rate};
    const auto open = [opening, spec] {
        Opening &o = *opening;
        try {
            // SDL's audio is held through the session (sdl_session.h), which quits it, and SDL,
            // when the last holder lets go, and keeps SDL's signal handlers out.
            choose_audio_driver();
            try {
                o.hold = session::Hold(SDL_INIT_AUDIO);
            } catch (const std::runtime_error &error) {
                throw std::runtime_error(std::string(error.what()) +
                                         " (no sound driver could start; on a machine without "
                                         "sound, set SDL_AUDIO_DRIVER=dummy to play into nothing)");
            }
            o.device = SDL_OpenAudioDevice(SDL_AUDIO_DEVICE_DEFAULT_PLAYBACK, &spec);
            if (!o.device) {
                const std::string reason = SDL_GetError();
                throw std::runtime_error(
                    reason + " (no sound device could open with the '" +
                    SDL_GetCurrentAudioDriver() +
                    "' driver; on a machine without sound, set SDL_AUDIO_DRIVER=dummy to play "
                    "into nothing)");
            }
            o.stream = SDL_CreateAudioStream(&spec, &spec);
            if (!o.stream || !SDL_BindAudioStream(o.device, o.stream)) throw_sdl_error();
        } catch (const std::exception &error) {
            o.error = error.what();
            o.undo();
        }
        std::lock_guard<std::mutex> lock(o.mutex);
        o.finished = true;
        if (o.abandoned) o.undo();
    };
    bool finished = false;
    try {
        finished = run_bounded(open, kOpenSeconds, true);
    } catch (const Interrupted &) {
        std::lock_guard<std::mutex> lock(opening->mutex);
        if (opening->finished) opening->undo();
        opening->abandoned = true;
        throw;
    }
    if (!finished) {
        std::lock_guard<std::mutex> lock(opening->mutex);
        if (!opening->finished) {
            opening->abandoned = true;
            throw std::runtime_error(
                "the sound server did not answer within " +
                std::to_string(static_cast<int>(kOpenSeconds)) +
                " s (it may be stopped or overloaded); on a machine without sound, set "
                "SDL_AUDIO_DRIVER=dummy to play into nothing");
        }
    }
    if (!opening->error.empty()) throw std::runtime_error(opening->error);
    hold_ = std::move(opening->hold);
    device_ = opening->device;
    stream_ = opening->stream;
    if (!SDL_AddEventWatch(&Audio::watch, this)) {
        const std::string reason = SDL_GetError();
        release_locked(false);
        throw std::runtime_error(reason);
    }
    std::lock_guard<std::mutex> lock(registry_mutex);
    registry.push_back(this);
}

Audio::~Audio() {
    try {
        close();
    } catch (...) {  // no thread could be started to close it: left to the process's end
    }
}

void Audio::close(bool interruptible) {
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        registry.erase(std::remove(registry.begin(), registry.end(), this), registry.end());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    release_locked(interruptible);
}

void Audio::release_locked(bool interruptible) {
    if (!device_) return;
    SDL_RemoveEventWatch(&Audio::watch, this);
    for (auto &voice : voices_) {
        std::lock_guard<std::mutex> voice_lock(voice->mutex_);
        voice->release_locked();
    }
    voices_.clear();
    // Neither waits for the sound server: SDL's device thread waits for it without their lock.
    SDL_DestroyAudioStream(stream_);
    stream_ = nullptr;
    scratch_ = {};
    const SDL_AudioDeviceID device = std::exchange(device_, 0);
    // Closing the device waits for SDL's device thread to end, which waits for the server.
    auto hold = std::make_shared<session::Hold>(std::move(hold_));
    run_bounded(
        [device, hold] {
            SDL_CloseAudioDevice(device);
            hold->release();
        },
        kCloseSeconds, interruptible);
}

// On the thread that pumps SDL's events. SDL reports the physical device that went, not the
// Audio's own logical one: removals are looked into at the next call (no_device_left).
bool SDLCALL Audio::watch(void *self, SDL_Event *event) {
    if (event->type == SDL_EVENT_AUDIO_DEVICE_REMOVED) {
        auto &audio = *static_cast<Audio *>(self);
        std::lock_guard<std::mutex> lock(audio.removed_mutex_);
        audio.removed_.push_back(event->adevice.which);
        audio.any_removed_ = true;
    }
    return true;
}

// After a device went: whether SDL has no playback device left to follow (it still lists one
// that went while a logical device uses it). Where it has one, it moved the Audio's logical
// device there itself if the default changed.
bool Audio::no_device_left() {
    if (!any_removed_) return false;
    std::lock_guard<std::mutex> lock(removed_mutex_);
    int count = 0;
    SDL_AudioDeviceID *devices = SDL_GetAudioPlaybackDevices(&count);
    bool left = false;
    for (int i = 0; i < count && !left; ++i) {
        left = std::find(removed_.begin(), removed_.end(), devices[i]) == removed_.end();
    }
    SDL_free(devices);
    return !left;
}

void Audio::reap_lost() {
    std::lock_guard<std::mutex> lock(registry_mutex);
    for (Audio *audio : registry) {
        std::lock_guard<std::mutex> audio_lock(audio->mutex_);
        if (!audio->device_ || !audio->no_device_left()) continue;
        audio->release_locked(false);
        audio->lost_ = true;
    }
}

void Audio::check_open() {
    if (lost_) throw std::runtime_error("sound device lost");
    if (!failure_.empty()) throw std::runtime_error(std::exchange(failure_, std::string()));
    if (!device_) {
        throw std::runtime_error("this Audio is closed: its device was given back by close()");
    }
    pump_audio_events();
    if (no_device_left()) {
        release_locked(false);
        lost_ = true;
        throw std::runtime_error("sound device lost");
    }
}

void Audio::check_volume(float volume) const {
    if (!(volume >= 0.0f) || std::isinf(volume)) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", static_cast<double>(volume));
        throw std::invalid_argument(std::string("volume must be a finite number, 0 or more, not ") +
                                    text);
    }
}

SDL_AudioSpec Audio::format_of(const SampleBlock &samples) const {
    const int rate = samples.rate ? samples.rate : rate_;
    if (rate < kMinSampleRate || rate > kMaxSampleRate) {
        throw std::invalid_argument("rate must be " + std::to_string(kMinSampleRate) + " to " +
                                    std::to_string(kMaxSampleRate) +
                                    " frames a second, or None for the Audio's own, not " +
                                    std::to_string(rate));
    }
    // One channel into two is SDL's (on both sides); two into one is convert_samples' (mixed).
    const int channels = samples.channels ? std::min(samples.channels, channels_) : channels_;
    return SDL_AudioSpec{SDL_AUDIO_F32, channels, rate};
}

void Audio::put(SDL_AudioStream *stream, const SampleBlock &samples) {
    if (!put_chunks(stream, samples, format_of(samples).channels, scratch_)) throw_sdl_error();
}

void Audio::queue(const SampleBlock &samples) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    const SDL_AudioSpec format = format_of(samples);
    if (format.channels != queue_format_.channels || format.freq != queue_format_.freq) {
        // What was queued before plays on in its own format.
        if (!SDL_SetAudioStreamFormat(stream_, &format, nullptr)) throw_sdl_error();
        queue_format_ = format;
    }
    put(stream_, samples);
}

double Audio::queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    // What the stream can still give the device, in the device's format: unlike the input still
    // queued, this leaves out the few frames a resampler keeps back to look ahead, which would
    // otherwise never seem to play out.
    SDL_AudioSpec out;
    const int available = SDL_GetAudioStreamAvailable(stream_);
    if (available <= 0 || !SDL_GetAudioStreamFormat(stream_, nullptr, &out)) return 0.0;
    const int frame = SDL_AUDIO_FRAMESIZE(out);
    return frame > 0 && out.freq > 0 ? static_cast<double>(available / frame) / out.freq : 0.0;
}

void Audio::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    if (!SDL_ClearAudioStream(stream_)) throw_sdl_error();
}

void Audio::sweep_voices() {
    voices_.erase(std::remove_if(voices_.begin(), voices_.end(),
                                 [](const std::shared_ptr<Voice> &voice) {
                                     std::lock_guard<std::mutex> lock(voice->mutex_);
                                     return voice->finished_locked();
                                 }),
                  voices_.end());
}

std::shared_ptr<Voice> Audio::play(const SampleBlock &samples, bool loop, float volume) {
    check_volume(volume);
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    // Voices that have played out are given back here, so that a game firing sounds for hours
    // keeps only those still sounding bound to the device.
    sweep_voices();
    auto voice = std::make_shared<Voice>();
    if (samples.frames == 0) return voice;  // nothing to play, even in a loop

    const SDL_AudioSpec in = format_of(samples);
    const SDL_AudioSpec out{SDL_AUDIO_F32, channels_, rate_};
    SDL_AudioStream *stream = SDL_CreateAudioStream(&in, &out);
    if (!stream) throw_sdl_error();
    voice->stream_ = stream;  // owned by the voice from here on, released with it on a throw
    voice->loop_ = loop;
    if (!SDL_SetAudioStreamGain(stream, volume)) throw_sdl_error();
    if (loop) {
        voice->samples_.resize(samples.frames * static_cast<std::size_t>(in.channels));
        convert_samples(samples, in.channels, 0, samples.frames, voice->samples_.data());
        if (!SDL_SetAudioStreamGetCallback(stream, &Voice::refill, voice.get())) {
            throw_sdl_error();
        }
    } else {
        put(stream, samples);
        // All of it is to be played: nothing is held back for a resampler to look ahead.
        if (!SDL_FlushAudioStream(stream)) throw_sdl_error();
    }
    voices_.push_back(voice);
    if (!SDL_BindAudioStream(device_, stream)) {
        voices_.pop_back();
        throw_sdl_error();
    }
    return voice;
}

std::shared_ptr<Voice> Audio::stream(int channels, int rate, float volume) {
    check_volume(volume);
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    sweep_voices();
    SampleBlock format;
    format.channels = channels;
    format.rate = rate;
    const SDL_AudioSpec in = format_of(format);
    const SDL_AudioSpec out{SDL_AUDIO_F32, channels_, rate_};
    auto voice = std::make_shared<Voice>();
    SDL_AudioStream *stream = SDL_CreateAudioStream(&in, &out);
    if (!stream) throw_sdl_error();
    voice->stream_ = stream;
    voice->fed_ = true;
    voice->channels_ = in.channels;
    voice->rate_ = in.freq;
    if (!SDL_SetAudioStreamGain(stream, volume)) throw_sdl_error();
    voices_.push_back(voice);
    if (!SDL_BindAudioStream(device_, stream)) {
        voices_.pop_back();
        throw_sdl_error();
    }
    return voice;
}

void Audio::fail(const std::string &message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failure_.empty()) failure_ = message;
}

float Audio::volume() {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    const float gain = SDL_GetAudioDeviceGain(device_);
    if (gain < 0.0f) throw_sdl_error();
    return gain;
}

void Audio::set_volume(float volume) {
    check_volume(volume);
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    if (!SDL_SetAudioDeviceGain(device_, volume)) throw_sdl_error();
}

bool Audio::paused() {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    return SDL_AudioDevicePaused(device_);
}

void Audio::set_paused(bool paused) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    if (!(paused ? SDL_PauseAudioDevice(device_) : SDL_ResumeAudioDevice(device_))) {
        throw_sdl_error();
    }
}

int Audio::rate() {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    return rate_;
}

std::size_t Audio::bound_voices() {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    return voices_.size();
}

int Audio::channels() {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    return channels_;
}

}  // namespace jxfb
