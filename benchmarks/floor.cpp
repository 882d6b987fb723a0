// The floor under Framebuffer.flip(): the engine's own presentation in plain C++, with no Python,
// no binding and no NumPy, so that the benchmark can tell what SDL and the drawing itself cost
// from what the module adds.
//
//   jxfb_floor flip WIDTH HEIGHT SCALE SECONDS SAMPLES
//       Opens the window as the engine does (jxfb::Display: a locked streaming texture where SDL's
//       renderer is a GPU one, the window surface where it is SDL's software renderer) and loops
//       as a user's frame loop does: replace the whole picture, drain events, present.
//       Prints {"renderer": ..., "driver": ..., "fps": [one rate per sample]}.
//
//   jxfb_floor fused WIDTH HEIGHT SCALE SECONDS SAMPLES
//       Times the window-surface pass alone (palette lookup and magnification into a 32-bit
//       picture) against a memcpy that writes the same bytes.
//       Prints {"fused_bytes_per_s": [...], "memcpy_bytes_per_s": [...]}.
//
//   jxfb_floor expand WIDTH HEIGHT SECONDS SAMPLES
//       Times every way this processor has of expanding a picture through the palette, side by
//       side, one sample of each in turn. Prints {"chosen": the way expand() uses,
//       "pixels_per_s": {way: [...]}}.
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

#include "expand.h"
#include "present.h"

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
    std::string renderer_name;
    std::vector<double> fps;
    try {
        jxfb::Display display("JXFramebuffer", width, height, scale);
        SDL_Renderer *renderer = SDL_GetRenderer(SDL_GetWindowFromID(display.window_id()));
        renderer_name = renderer ? SDL_GetRendererName(renderer) : "window surface";

        const std::size_t count = std::size_t(width) * std::size_t(height);
        const auto pictures = make_pictures(count);
        const auto palette = make_palette();
        std::vector<std::uint8_t> indices(count);
        long frame = 0;
        auto one_frame = [&] {
            std::memcpy(indices.data(), pictures[frame++ & 1].data(), count);
            SDL_Event event;
            while (SDL_PollEvent(&event)) {
            }
            display.present(indices.data(), palette.data());
        };
        for (int i = 0; i < 10; ++i) one_frame();
        for (int s = 0; s < samples; ++s) fps.push_back(rate(seconds, one_frame));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "jxfb_floor: %s\n", error.what());
        return 1;
    }
    std::printf("{\"renderer\": \"%s\", \"driver\": \"%s\", ", renderer_name.c_str(),
                SDL_GetCurrentVideoDriver());
    print_list("fps", fps, true);
    std::printf("}\n");
    SDL_Quit();
    return 0;
}

int fused(int width, int height, int scale, double seconds, int samples) {
    const std::size_t count = std::size_t(width) * std::size_t(height);
    const auto pictures = make_pictures(count);
    const auto palette = make_palette();
    const int out_w = width * scale, out_h = height * scale;
    const std::size_t bytes = std::size_t(out_w) * std::size_t(out_h) * 4;
    std::vector<std::uint32_t> target(bytes / 4), source(bytes / 4, 0xFF102030u), row;
    const jxfb::Target where{target.data(), out_w * 4, out_w, out_h};
    const jxfb::Layout layout = jxfb::fit_picture(width, height, out_w, out_h);
    // Keeps the compiler from dropping work whose result is never read.
    volatile std::uint32_t sink = 0;

    auto run_fused = [&] {
        jxfb::draw_magnified(pictures[0].data(), width, height, palette.data(), where, layout,
                             0xFF000000u, row);
        sink = sink + target[target.size() / 2];
    };
    auto run_memcpy = [&] {
        std::memcpy(target.data(), source.data(), bytes);
        sink = sink + target[target.size() / 2];
    };
    rate(seconds / 4, run_fused);
    rate(seconds / 4, run_memcpy);
    // Alternating samples, so that a busy moment on the machine hits both alike.
    std::vector<double> fused_bytes, memcpy_bytes;
    for (int s = 0; s < samples; ++s) {
        fused_bytes.push_back(rate(seconds, run_fused) * double(bytes));
        memcpy_bytes.push_back(rate(seconds, run_memcpy) * double(bytes));
    }
    std::printf("{");
    print_list("fused_bytes_per_s", fused_bytes, false);
    print_list("memcpy_bytes_per_s", memcpy_bytes, true);
    std::printf("}\n");
    return 0;
}

int expand(int width, int height, double seconds, int samples) {
    const std::size_t count = std::size_t(width) * std::size_t(height);
    const auto pictures = make_pictures(count);
    const auto palette = make_palette();
    std::vector<std::uint32_t> out(count);
    const std::vector<jxfb::ExpandMethod> methods = jxfb::expand_methods();
    std::vector<std::vector<double>> rates(methods.size());
    for (int s = -1; s < samples; ++s) {  // the first round warms up
        for (std::size_t m = 0; m < methods.size(); ++m) {
            const double r = rate(s < 0 ? seconds / 4 : seconds, [&] {
                methods[m].function(pictures[0].data(), palette.data(), out.data(), count);
            });
            if (s >= 0) rates[m].push_back(r * double(count));
        }
    }
    std::printf("{\"chosen\": \"%s\", \"pixels_per_s\": {", jxfb::expand_method().name);
    for (std::size_t m = 0; m < methods.size(); ++m) {
        if (m) std::printf(", ");
        print_list(methods[m].name, rates[m], true);
    }
    std::printf("}}\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "flip" && argc == 7) {
        return flip(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]),
                    std::atoi(argv[6]));
    }
    if (mode == "fused" && argc == 7) {
        return fused(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]),
                     std::atoi(argv[6]));
    }
    if (mode == "expand" && argc == 6) {
        return expand(std::atoi(argv[2]), std::atoi(argv[3]), std::atof(argv[4]),
                      std::atoi(argv[5]));
    }
    std::fprintf(stderr,
                 "usage: jxfb_floor flip WIDTH HEIGHT SCALE SECONDS SAMPLES\n"
                 "       jxfb_floor fused WIDTH HEIGHT SCALE SECONDS SAMPLES\n"
                 "       jxfb_floor expand WIDTH HEIGHT SECONDS SAMPLES\n");
    return 2;
}
