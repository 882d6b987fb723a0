// A gamepad made in software: SDL's virtual joystick of gamepad type, with every button and axis
// of SDL's standard gamepad. What the testing kit plugs in where a machine has no pad; it goes
// through SDL's gamepad support as a real one does.
#pragma once

#include <SDL3/SDL.h>

#include <array>
#include <mutex>
#include <string>

#include "sdl_session.h"

namespace jxfb {

class VirtualPad {
public:
    // Plugs it in, named `name`. Throws std::runtime_error with SDL's text if SDL refuses.
    explicit VirtualPad(const std::string &name);
    ~VirtualPad() { unplug(); }
    VirtualPad(const VirtualPad &) = delete;
    VirtualPad &operator=(const VirtualPad &) = delete;

    // SDL looks at a virtual pad's state when it pumps events (every drain): set_button() keeps
    // each transition, so that a press and a release between two drains are both seen. Throws
    // std::runtime_error once unplugged.
    void set_button(SDL_GamepadButton button, bool down);
    // `value` from -1.0 to 1.0 (a trigger 0.0 to 1.0), clamped.
    void set_axis(SDL_GamepadAxis axis, float value);
    // Gone from SDL's devices; its events come at the next drain. Again does nothing.
    void unplug();
    bool plugged();

private:
    void check_plugged() const;

    std::mutex mutex_;
    session::Hold hold_;  // SDL's gamepad support, for as long as the pad is plugged in
    SDL_JoystickID id_ = 0;
    SDL_Joystick *joystick_ = nullptr;                  // the handle that sets its state; owned
    std::array<bool, SDL_GAMEPAD_BUTTON_COUNT> set_{};  // each button as last set
};

}  // namespace jxfb
