#include "virtual_pad.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cmath>
#include <stdexcept>

namespace jxfb {

namespace {

// The pads plugged in, for the drains to apply what they were told.
std::mutex registry_mutex;
std::vector<VirtualPad *> &registry() {
    static std::vector<VirtualPad *> pads;
    return pads;
}
std::atomic<int> plugged_in{0};  // registry().size(), read without the lock by every drain

}  // namespace

VirtualPad::VirtualPad(const std::string &name) : hold_(SDL_INIT_GAMEPAD) {
    SDL_VirtualJoystickDesc desc;
    SDL_INIT_INTERFACE(&desc);
    desc.type = SDL_JOYSTICK_TYPE_GAMEPAD;
    desc.naxes = SDL_GAMEPAD_AXIS_COUNT;
    desc.nbuttons = SDL_GAMEPAD_BUTTON_COUNT;
    // Every button and axis of SDL's gamepad, numbered as SDL numbers them.
    desc.button_mask = (1u << SDL_GAMEPAD_BUTTON_COUNT) - 1;
    desc.axis_mask = (1u << SDL_GAMEPAD_AXIS_COUNT) - 1;
    desc.name = name.c_str();
    id_ = SDL_AttachVirtualJoystick(&desc);
    if (id_ == 0) throw std::runtime_error(SDL_GetError());
    joystick_ = SDL_OpenJoystick(id_);
    if (!joystick_) {
        const std::runtime_error error(SDL_GetError());
        SDL_DetachVirtualJoystick(id_);
        throw error;
    }
    std::lock_guard<std::mutex> lock(registry_mutex);
    registry().push_back(this);
    plugged_in = static_cast<int>(registry().size());
}

void VirtualPad::check_plugged() const {
    if (!joystick_) throw std::runtime_error("the gamepad was unplugged");
}

void VirtualPad::set_button(SDL_GamepadButton button, bool down) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_plugged();
    queued_.emplace_back(static_cast<int>(button), down);
}

void VirtualPad::apply() {
    // SDL sends a button's events when it looks at the pad's state: a second change of the same
    // button before it looked would overwrite the first, so it looks in between.
    std::bitset<SDL_GAMEPAD_BUTTON_COUNT> changed;
    for (const auto &[button, down] : queued_) {
        if (changed[button]) {
            SDL_UpdateJoysticks();
            changed.reset();
        }
        SDL_SetJoystickVirtualButton(joystick_, button, down);
        changed[button] = true;
    }
    queued_.clear();
}

void VirtualPad::set_axis(SDL_GamepadAxis axis, float value) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_plugged();
    if (std::isnan(value)) throw std::invalid_argument("an axis value must be a number, not nan");
    const bool trigger =
        axis == SDL_GAMEPAD_AXIS_LEFT_TRIGGER || axis == SDL_GAMEPAD_AXIS_RIGHT_TRIGGER;
    // SDL's gamepad reads a stick's -32767 to 32767 as -1.0 to 1.0, and a trigger's whole
    // range, -32768 to 32767, as 0.0 to 1.0.
    const double v = std::clamp(static_cast<double>(value), trigger ? 0.0 : -1.0, 1.0);
    const auto raw =
        static_cast<Sint16>(trigger ? std::lround(v * 65535.0) - 32768 : std::lround(v * 32767.0));
    if (!SDL_SetJoystickVirtualAxis(joystick_, static_cast<int>(axis), raw)) {
        throw std::runtime_error(SDL_GetError());
    }
}

void VirtualPad::unplug() {
    {
        std::lock_guard<std::mutex> lock(registry_mutex);
        auto &pads = registry();
        pads.erase(std::remove(pads.begin(), pads.end(), this), pads.end());
        plugged_in = static_cast<int>(pads.size());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!joystick_) return;
    // What it was told is seen before it goes.
    apply();
    SDL_UpdateJoysticks();
    SDL_CloseJoystick(joystick_);
    joystick_ = nullptr;
    SDL_DetachVirtualJoystick(id_);
    hold_.release();
}

bool VirtualPad::plugged() {
    std::lock_guard<std::mutex> lock(mutex_);
    return joystick_ != nullptr;
}

void apply_virtual_pads() {
    if (plugged_in.load() == 0) return;  // every drain asks: no lock for the usual answer
    std::lock_guard<std::mutex> lock(registry_mutex);
    for (VirtualPad *pad : registry()) {
        std::lock_guard<std::mutex> pad_lock(pad->mutex_);
        if (pad->joystick_) pad->apply();
    }
}

}  // namespace jxfb
