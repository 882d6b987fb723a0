// A gamepad made in software: SDL's virtual joystick of gamepad type, with every button and axis
// of SDL's standard gamepad. What the testing kit plugs in where a machine has no pad; it goes
// through SDL's gamepad support as a real one does.
#pragma once

#include <SDL3/SDL.h>

#include <array>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "sdl_session.h"

namespace jxfb {

class VirtualPad {
public:
    // Plugs it in, named `name`. Throws std::runtime_error with SDL's text if SDL refuses.
    explicit VirtualPad(const std::string &name);
    ~VirtualPad() { unplug(); }
    VirtualPad(const VirtualPad &) = delete;
    VirtualPad &operator=(const VirtualPad &) = delete;

    // A button goes down or up at the next drain of events, as a real pad's would. SDL looks at
    // a virtual pad's state once a drain: the transitions are queued, so that a press and a
    // release before the same drain are both seen. Throws std::runtime_error once unplugged.
    void set_button(SDL_GamepadButton button, bool down);
    // `value` from -1.0 to 1.0 (a trigger 0.0 to 1.0), clamped; seen at the next drain.
    void set_axis(SDL_GamepadAxis axis, float value);
    // Gone from SDL's devices, after what was queued; its events come at the next drain. Again
    // does nothing.
    void unplug();
    bool plugged();

private:
    friend void apply_virtual_pads();
    void check_plugged() const;
    void apply();  // with mutex_ held

    std::mutex mutex_;
    session::Hold hold_;  // SDL's gamepad support, for as long as the pad is plugged in
    SDL_JoystickID id_ = 0;
    SDL_Joystick *joystick_ = nullptr;          // the handle that sets its state; owned
    std::vector<std::pair<int, bool>> queued_;  // button transitions not yet given to SDL
};

// Gives SDL what the virtual pads were told since the last drain; the event hub calls it at the
// start of every drain, on the video thread. Does nothing while no virtual pad is plugged in.
void apply_virtual_pads();

}  // namespace jxfb
