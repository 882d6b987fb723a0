#include "virtual_pad.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace jxfb {

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
}

void VirtualPad::check_plugged() const {
    if (!joystick_) throw std::runtime_error("the gamepad was unplugged");
}

void VirtualPad::set_button(SDL_GamepadButton button, bool down) {
    std::lock_guard<std::mutex> lock(mutex_);
    check_plugged();
    const int b = static_cast<int>(button);
    // A change SDL has not looked at yet would be overwritten, and lost: let SDL look first
    // (its events wait in SDL's queue for the next drain).
    if (SDL_GetJoystickButton(joystick_, b) != set_[b] && down != set_[b]) SDL_UpdateJoysticks();
    if (!SDL_SetJoystickVirtualButton(joystick_, b, down)) throw std::runtime_error(SDL_GetError());
    set_[b] = down;
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
    std::lock_guard<std::mutex> lock(mutex_);
    if (!joystick_) return;
    // What was set and not yet looked at is seen before the pad goes.
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

}  // namespace jxfb
