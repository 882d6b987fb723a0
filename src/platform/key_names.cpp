#include "key_names.h"

#include <SDL3/SDL.h>

#include <algorithm>
#include <unordered_set>

#include "sdl_session.h"

namespace jxfb {

std::vector<std::string> key_names() {
    session::check_video_thread("key_names()");
    std::vector<std::string> names;
    std::unordered_set<std::string> listed;
    const auto add = [&](std::string name) {
        if (!name.empty() && listed.insert(name).second) names.push_back(std::move(name));
    };
    // The layout's names first: what a key types on this keyboard ("A" on a French keyboard is
    // where a US one has Q). A scancode with no key in the layout names nothing but its place.
    for (int s = SDL_SCANCODE_UNKNOWN + 1; s < SDL_SCANCODE_COUNT; ++s) {
        const auto scancode = static_cast<SDL_Scancode>(s);
        const SDL_Keycode key = SDL_GetKeyFromScancode(scancode, SDL_KMOD_NONE, false);
        if (key != SDLK_UNKNOWN) add(SDL_GetKeyName(key));
    }
    for (int s = SDL_SCANCODE_UNKNOWN + 1; s < SDL_SCANCODE_COUNT; ++s) {
        const auto scancode = static_cast<SDL_Scancode>(s);
        const std::string name = SDL_GetScancodeName(scancode);
        if (!name.empty() && SDL_GetKeyFromName(name.c_str()) != SDLK_UNKNOWN) add(name);
    }
    for (int s = SDL_SCANCODE_UNKNOWN + 1; s < SDL_SCANCODE_COUNT; ++s) {
        const std::string name = SDL_GetScancodeName(static_cast<SDL_Scancode>(s));
        if (!name.empty()) add("physical " + name);
    }
    for (const char *button : {"left", "middle", "right", "x1", "x2"}) {
        add(std::string("mouse ") + button);
    }
    for (const char *either : {"ctrl", "shift", "alt", "gui"}) add(either);
    for (const char *prefix : {"pad ", "pad[1-8] "}) {
        for (int b = 0; b < SDL_GAMEPAD_BUTTON_COUNT; ++b) {
            const char *button = SDL_GetGamepadStringForButton(static_cast<SDL_GamepadButton>(b));
            if (button) add(prefix + std::string(button));
        }
    }
    return names;
}

}  // namespace jxfb
