// The engine end to end on SDL's dummy video driver, without Python: opens a framebuffer, draws
// with the kit, flips, and reads what the window shows back through its surface; feeds a key and
// the pointer through SDL's own queue; paces 60 frames at 60 fps and prints how long they took.
// The cross builds run it under qemu (aarch64) and Wine (Windows); exits non-zero on a fault.
#include <SDL3/SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "clock.h"
#include "framebuffer.h"

namespace {

int failures = 0;

void check(bool ok, const char *what) {
    if (!ok) {
        std::printf("engine_smoke: FAILED: %s\n", what);
        ++failures;
    }
}

SDL_Window *only_window() {
    int count = 0;
    SDL_Window **windows = SDL_GetWindows(&count);
    SDL_Window *window = count == 1 ? windows[0] : nullptr;
    SDL_free(windows);
    return window;
}

// Whether every picture pixel shows, at the middle of its block, its palette colour.
bool shows_picture(JXFramebuffer &fb, int scale) {
    SDL_Surface *surface = SDL_GetWindowSurface(only_window());
    if (!surface || surface->w != fb.width() * scale || surface->h != fb.height() * scale) {
        return false;
    }
    for (int y = 0; y < fb.height(); ++y) {
        for (int x = 0; x < fb.width(); ++x) {
            const std::uint32_t argb = fb.palette_data()[fb.pget(x, y)];
            Uint8 r, g, b, a;
            if (!SDL_ReadSurfacePixel(surface, x * scale + scale / 2, y * scale + scale / 2, &r, &g,
                                      &b, &a)) {
                return false;
            }
            if (r != (argb >> 16 & 0xFF) || g != (argb >> 8 & 0xFF) || b != (argb & 0xFF)) {
                std::printf("engine_smoke: pixel (%d, %d) shows %02x%02x%02x, not %06x\n", x, y, r,
                            g, b, argb & 0xFFFFFFu);
                return false;
            }
        }
    }
    return true;
}

void push(SDL_Event event) {
    check(SDL_PushEvent(&event), "SDL_PushEvent");
}

}  // namespace

int main() {
    // The engine chooses the driver from the environment (a hint would be reset).
    SDL_setenv_unsafe("SDL_VIDEO_DRIVER", "dummy", 1);
    const int scale = 3;
    try {
        JXFramebuffer fb(64, 40, scale, 60);
        check(fb.running(), "running() after opening");

        // The kit: every shape, some clipped, and text.
        fb.clear(4);
        fb.line(-5, -3, 70, 45, 1);
        fb.rect(10, 5, 20, 12, 2, true);
        fb.rect(40, 20, 30, 30, 3, false);
        fb.circle(50, 10, 8, 5, true);
        fb.circle(0, 39, 6, 6, false);
        const char hello[] = "Hi!";
        fb.text(2, 28, reinterpret_cast<const std::uint8_t *>(hello), 3, 7);
        const std::uint8_t sprite[] = {1, 0, 1, 0, 1, 0};
        fb.blit(58, 30, {sprite, 3, 2, 3, 1}, 0);
        check(fb.pget(20, 10) == 2 && fb.pget(40, 25) == 3 && fb.pget(41, 25) == 4 &&
                  fb.pget(50, 10) == 5 && fb.pget(0, 0) == 1 && fb.pget(58, 30) == 1 &&
                  fb.pget(59, 30) == 4,
              "the kit's pixels");
        fb.flip();
        check(shows_picture(fb, scale), "the window shows the picture after a flip");

        // A palette change shows at the next flip.
        fb.palette_data()[2] = 0xFF123456u;
        fb.pixel_data()[0] = 2;
        fb.flip();
        check(shows_picture(fb, scale), "the window shows a changed palette");

        // Input from SDL's queue, as a video driver puts it there.
        const SDL_WindowID id = SDL_GetWindowID(only_window());
        SDL_Event event;
        std::memset(&event, 0, sizeof event);
        event.type = SDL_EVENT_KEY_DOWN;
        event.key.windowID = id;
        event.key.key = SDLK_A;
        event.key.down = true;
        push(event);
        std::memset(&event, 0, sizeof event);
        event.type = SDL_EVENT_MOUSE_MOTION;
        event.motion.windowID = id;
        event.motion.x = 10.0f * scale + 1;
        event.motion.y = 20.0f * scale + 2;
        push(event);
        fb.flip();
        check(fb.key("A") && fb.pressed("a"), "a key pressed through the queue");
        check(fb.mouse() == std::make_pair(10, 20), "the pointer through the queue");
        std::memset(&event, 0, sizeof event);
        event.type = SDL_EVENT_KEY_UP;
        event.key.windowID = id;
        event.key.key = SDLK_A;
        push(event);
        fb.flip();
        check(!fb.key("A") && !fb.pressed("A"), "a key released through the queue");

        // Pacing: 60 frames at 60 fps. A frame may run long on a busy machine, never short.
        std::vector<double> ms;
        std::uint64_t last = jxfb::now_ns();
        for (int frame = 0; frame < 60; ++frame) {
            fb.flip();
            const std::uint64_t now = jxfb::now_ns();
            ms.push_back((now - last) / 1e6);
            last = now;
        }
        std::sort(ms.begin(), ms.end());
        std::printf(
            "engine_smoke: 60 fps frames: median %.3f ms, p10 %.3f ms, p90 %.3f ms, "
            "max %.3f ms\n",
            ms[30], ms[6], ms[54], ms.back());
        check(ms[30] > 16.0, "paced frames last a period");

        push(SDL_Event{SDL_EVENT_QUIT});
        check(!fb.running(), "a quit event ends the loop");
        fb.quit();
    } catch (const std::exception &error) {
        std::printf("engine_smoke: FAILED: %s\n", error.what());
        return 1;
    }
    check(SDL_WasInit(0) == 0, "SDL is shut down once the framebuffer is gone");
    std::printf("engine_smoke: %s (SDL %d.%d.%d, %s)\n", failures ? "FAILED" : "ok",
                SDL_VERSIONNUM_MAJOR(SDL_GetVersion()), SDL_VERSIONNUM_MINOR(SDL_GetVersion()),
                SDL_VERSIONNUM_MICRO(SDL_GetVersion()), SDL_GetPlatform());
    return failures ? 1 : 0;
}
