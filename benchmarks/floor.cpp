// The floor under Framebuffer.flip(): the same SDL3 calls in plain C++, with no Python, no binding
// and no NumPy, so that the benchmark can tell what SDL itself costs from what the module adds.
//
//   jxfb_floor flip WIDTH HEIGHT SCALE SECONDS SAMPLES
//       Opens the window, renderer and texture as the engine does and loops as a user's frame loop
//       does: replace the whole picture, then what flip() does (drain events, expand through the
//       palette, SDL_UpdateTexture, SDL_RenderClear, SDL_RenderTexture, SDL_RenderPresent).
//       Prints {"renderer": ..., "driver": ..., "fps": [one rate per sample]}.
//
//   jxfb_floor expand WIDTH HEIGHT SECONDS SAMPLES
//       Times the engine's palette expansion alone against a memcpy that writes the same ARGB
//       picture. Prints {"expand_px_per_s": [...], "memcpy_bytes_per_s": [...]}.
//
// Every sample runs for SECONDS after a short warm-up; the caller takes medians.
#include <SDL3/SDL.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framebuffer.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Repeats `work` until `seconds` have passed and returns the repetitions per second.
template <typename Work>
double rate(double seconds, Work work) {
    const auto start = Clock::now();
    long reps = 0;
    double elapsed = 0;
    do {
        work();
        ++reps;
    } while ((elapsed = seconds_since(start)) < seconds);
    return reps / elapsed;
}

// Two pictures of pseudo-random indices: each frame replaces the whole picture with the other one,
// as the Python programs do with theirs.
std::vector<std::vector<std::uint8_t>> make_pictures(std::size_t count) {
    std::vector<std::vector<std::uint8_t>> pictures(2, std::vector<std::uint8_t>(count));
    std::uint32_t state = 12345;
    for (auto &picture : pictures) {
        for (auto &index : picture) {
            state = state * 1664525u + 1013904223u;
            index = static_cast<std::uint8_t>(state >> 24);
        }
    }
    return pictures;
}

std::vector<std::uint32_t> make_palette() {
    std::vector<std::uint32_t> palette(256);
    for (std::uint32_t i = 0; i < 256; ++i) palette[i] = 0xFF000000u | (i * 0x010307u & 0xFFFFFFu);
    return palette;
}

void print_list(const char *name, const std::vector<double> &values, bool last) {
    std::printf("\"%s\": [", name);
    for (std::size_t i = 0; i < values.size(); ++i) std::printf(i ? ", %.6g" : "%.6g", values[i]);
    std::printf(last ? "]" : "], ");
}

int flip(int width, int height, int scale, double seconds, int samples) {
    if (!SDL_Init(SDL_INIT_VIDEO)) {
        std::fprintf(stderr, "jxfb_floor: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Window *window = nullptr;
    SDL_Renderer *renderer = nullptr;
    if (!SDL_CreateWindowAndRenderer("JXFramebuffer", width * scale, height * scale, 0, &window,
                                     &renderer)) {
        std::fprintf(stderr, "jxfb_floor: %s\n", SDL_GetError());
        return 1;
    }
    // The engine's texture for an opaque palette, as this one is.
    SDL_Texture *texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_XRGB8888,
                                             SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!texture) {
        std::fprintf(stderr, "jxfb_floor: %s\n", SDL_GetError());
        return 1;
    }
    SDL_SetTextureScaleMode(texture, SDL_SCALEMODE_NEAREST);

    const std::size_t count = std::size_t(width) * std::size_t(height);
    const auto pictures = make_pictures(count);
    const auto palette = make_palette();
    std::vector<std::uint8_t> indices(count);
    // Placed as the engine places its own (see the JXFramebuffer constructor).
    std::vector<std::uint32_t> argb_storage(count + kAlignSlackWords);
    std::uint32_t *argb = jxfb_half_page_in(argb_storage.data());
    long frame = 0;
    auto one_frame = [&] {
        std::memcpy(indices.data(), pictures[frame++ & 1].data(), count);
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
        }
        jxfb_expand(indices.data(), palette.data(), argb, count);
        SDL_UpdateTexture(texture, nullptr, argb, width * 4);
        SDL_RenderClear(renderer);
        SDL_RenderTexture(renderer, texture, nullptr, nullptr);
        SDL_RenderPresent(renderer);
    };

    for (int i = 0; i < 10; ++i) one_frame();
    std::vector<double> fps;
    for (int s = 0; s < samples; ++s) fps.push_back(rate(seconds, one_frame));

    std::printf("{\"renderer\": \"%s\", \"driver\": \"%s\", ", SDL_GetRendererName(renderer),
                SDL_GetCurrentVideoDriver());
    print_list("fps", fps, true);
    std::printf("}\n");
    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}

int expand(int width, int height, double seconds, int samples) {
    const std::size_t count = std::size_t(width) * std::size_t(height);
    const auto pictures = make_pictures(count);
    const auto palette = make_palette();
    // The destination half a page in, as the engine's, and the memcpy source where malloc puts
    // it, a few bytes into a page: no 4 KiB aliasing slows the memcpy, a true floor.
    std::vector<std::uint32_t> argb_storage(count + kAlignSlackWords);
    std::uint32_t *argb = jxfb_half_page_in(argb_storage.data());
    std::vector<std::uint32_t> source(count, 0xFF102030u);
    // Keeps the compiler from dropping work whose result is never read.
    volatile std::uint32_t sink = 0;

    auto run_expand = [&] {
        jxfb_expand(pictures[0].data(), palette.data(), argb, count);
        sink = sink + argb[count / 2];
    };
    auto run_memcpy = [&] {
        std::memcpy(argb, source.data(), count * 4);
        sink = sink + argb[count / 2];
    };
    rate(seconds / 4, run_expand);
    rate(seconds / 4, run_memcpy);
    // Alternating samples, so that a busy moment on the machine hits both alike.
    std::vector<double> expand_px, memcpy_bytes;
    for (int s = 0; s < samples; ++s) {
        expand_px.push_back(rate(seconds, run_expand) * double(count));
        memcpy_bytes.push_back(rate(seconds, run_memcpy) * double(count) * 4);
    }
    std::printf("{");
    print_list("expand_px_per_s", expand_px, false);
    print_list("memcpy_bytes_per_s", memcpy_bytes, true);
    std::printf("}\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "flip" && argc == 7) {
        return flip(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]),
                    std::atoi(argv[6]));
    }
    if (mode == "expand" && argc == 6) {
        return expand(std::atoi(argv[2]), std::atoi(argv[3]), std::atof(argv[4]),
                      std::atoi(argv[5]));
    }
    std::fprintf(stderr,
                 "usage: jxfb_floor flip WIDTH HEIGHT SCALE SECONDS SAMPLES\n"
                 "       jxfb_floor expand WIDTH HEIGHT SECONDS SAMPLES\n");
    return 2;
}
