#include "gamepad.h"

#include <algorithm>

namespace jxfb {

Gamepads &gamepads() {
    static Gamepads pads;
    return pads;
}

void Gamepads::start() {
    // Where SDL cannot start it, there are no gamepads, and asking again every frame would not
    // change that: once per start of SDL.
    if (tried_) return;
    tried_ = true;
    try {
        hold_ = session::Hold(SDL_INIT_GAMEPAD);
    } catch (const std::runtime_error &) {
        return;
    }
    int count = 0;
    SDL_JoystickID *ids = SDL_GetGamepads(&count);
    if (ids) {
        for (int i = 0; i < count; ++i) added(ids[i]);
        SDL_free(ids);
    }
}

void Gamepads::stop() {
    tried_ = false;
    for (SDL_Gamepad *&pad : pads_) {
        if (pad) SDL_CloseGamepad(pad);
        pad = nullptr;
    }
    hold_.release();
}

void Gamepads::added(SDL_JoystickID id) {
    // Gamepads connected at the start are reported again by the events of the start.
    if (!hold_.held() || slot_of(id) >= 0) return;
    const auto free = std::find(pads_.begin(), pads_.end(), nullptr);
    if (free == pads_.end()) return;  // more than kMaxPads: the rest are not read
    *free = SDL_OpenGamepad(id);      // null if it went again already
    ids_[free - pads_.begin()] = id;
}

void Gamepads::removed(SDL_JoystickID id) {
    const int slot = slot_of(id);
    if (slot < 0) return;
    SDL_CloseGamepad(pads_[slot]);
    pads_[slot] = nullptr;
    // A pad plugged in while every slot was taken has waited: it takes the slot freed.
    int count = 0;
    SDL_JoystickID *ids = SDL_GetGamepads(&count);
    if (ids == nullptr) return;
    for (int i = 0; i < count && !pads_[slot]; ++i) {
        if (ids[i] != id) added(ids[i]);
    }
    SDL_free(ids);
}

int Gamepads::slot_of(SDL_JoystickID id) const {
    for (int slot = 0; slot < kMaxPads; ++slot) {
        if (pads_[slot] && ids_[slot] == id) return slot;
    }
    return -1;
}

bool Gamepads::held(int slot, int button) const {
    return pads_[slot] && SDL_GetGamepadButton(pads_[slot], static_cast<SDL_GamepadButton>(button));
}

float Gamepads::axis(int slot, SDL_GamepadAxis axis) const {
    if (!pads_[slot]) return 0.0f;
    // SDL gives -32768 to 32767 (triggers 0 to 32767): the ends are -1.0 and 1.0.
    const float value = SDL_GetGamepadAxis(pads_[slot], axis) / 32767.0f;
    return std::max(value, -1.0f);
}

std::vector<std::string> Gamepads::names() const {
    std::vector<std::string> names;
    for (SDL_Gamepad *pad : pads_) {
        const char *name = pad ? SDL_GetGamepadName(pad) : nullptr;
        names.emplace_back(pad ? (name ? name : "Gamepad") : "");
    }
    while (!names.empty() && !pads_[names.size() - 1]) names.pop_back();
    return names;
}

}  // namespace jxfb
