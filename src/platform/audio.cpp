#include "audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

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

}  // namespace

void convert_samples(const SampleBlock &block, int channels, std::size_t first, std::size_t count,
                     float *out) {
    const auto *base = static_cast<const unsigned char *>(block.data);
    for (std::size_t i = first; i < first + count; ++i) {
        const unsigned char *frame = base + static_cast<std::ptrdiff_t>(i) * block.frame_stride;
        for (int c = 0; c < channels; ++c) {
            *out++ = sample_at(frame + c * block.channel_stride, block.type);
        }
    }
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
    if (stream_ && !loop_ && SDL_GetAudioStreamQueued(stream_) <= 0) release_locked();
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
    // SDL's audio is held through the session (sdl_session.h), which quits it, and SDL, when
    // the last holder lets go, and keeps SDL's signal handlers out.
    try {
        hold_ = session::Hold(SDL_INIT_AUDIO);
    } catch (const std::runtime_error &error) {
        throw std::runtime_error(std::string(error.what()) +
                                 " (no sound driver could start; on a machine without sound, set "
                                 "SDL_AUDIO_DRIVER=dummy to play into nothing)");
    }
    const SDL_AudioSpec spec{SDL_AUDIO_F32, channels, rate};
    try {
        device_ = SDL_OpenAudioDevice(SDL_AUDIO_DEVICE_DEFAULT_PLAYBACK, &spec);
        if (!device_) {
            const std::string reason = SDL_GetError();
            throw std::runtime_error(
                reason + " (no sound device could open with the '" + SDL_GetCurrentAudioDriver() +
                "' driver; on a machine without sound, set SDL_AUDIO_DRIVER=dummy to play into "
                "nothing)");
        }
        stream_ = SDL_CreateAudioStream(&spec, &spec);
        if (!stream_ || !SDL_BindAudioStream(device_, stream_)) throw_sdl_error();
    } catch (...) {
        if (stream_) SDL_DestroyAudioStream(stream_);
        if (device_) SDL_CloseAudioDevice(device_);
        hold_.release();
        throw;
    }
}

Audio::~Audio() {
    close();
}

void Audio::close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!device_) return;
    for (auto &voice : voices_) {
        std::lock_guard<std::mutex> voice_lock(voice->mutex_);
        voice->release_locked();
    }
    voices_.clear();
    SDL_DestroyAudioStream(stream_);
    stream_ = nullptr;
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    hold_.release();
    scratch_ = {};
}

void Audio::check_open() const {
    if (!device_) {
        throw std::runtime_error("this Audio is closed: its device was given back by close()");
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

void Audio::put(SDL_AudioStream *stream, const SampleBlock &samples) {
    scratch_.resize(std::min(samples.frames, kChunkFrames) * static_cast<std::size_t>(channels_));
    for (std::size_t first = 0; first < samples.frames; first += kChunkFrames) {
        const std::size_t count = std::min(kChunkFrames, samples.frames - first);
        convert_samples(samples, channels_, first, count, scratch_.data());
        const auto bytes = static_cast<int>(count * channels_ * sizeof(float));
        if (!SDL_PutAudioStreamData(stream, scratch_.data(), bytes)) throw_sdl_error();
    }
}

void Audio::queue(const SampleBlock &samples) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
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

    const SDL_AudioSpec spec{SDL_AUDIO_F32, channels_, rate_};
    SDL_AudioStream *stream = SDL_CreateAudioStream(&spec, &spec);
    if (!stream) throw_sdl_error();
    voice->stream_ = stream;  // owned by the voice from here on, released with it on a throw
    voice->loop_ = loop;
    if (!SDL_SetAudioStreamGain(stream, volume)) throw_sdl_error();
    if (loop) {
        voice->samples_.resize(samples.frames * static_cast<std::size_t>(channels_));
        convert_samples(samples, channels_, 0, samples.frames, voice->samples_.data());
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

int Audio::channels() {
    std::lock_guard<std::mutex> lock(mutex_);
    check_open();
    return channels_;
}

}  // namespace jxfb
