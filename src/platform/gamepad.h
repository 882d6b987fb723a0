// The gamepads: SDL's gamepad subsystem, started the first time a program asks about a gamepad
// (a program that never does pays nothing for it in its frame loop), and the connected gamepads
// in slots. A gamepad keeps its slot while it stays connected; one plugged in takes the lowest
// free slot, so a player's pad that is unplugged and plugged back gets its number back. Beyond
// kMaxPads, a pad waits for a slot to be freed.
//
// Gamepads belong to no window: SDL is process-wide, and so are these.
#pragma once

#include <SDL3/SDL.h>

#include <array>
#include <string>
#include <vector>

#include "input.h"
#include "sdl_session.h"

namespace jxfb {

class Gamepads {
public:
    Gamepads() = default;
    ~Gamepads() = default;  // stopped by the last framebuffer
    Gamepads(const Gamepads &) = delete;
    Gamepads &operator=(const Gamepads &) = delete;

    // Takes a hold on SDL's gamepad subsystem if it has none, and opens the gamepads already
    // connected. A machine where SDL cannot start it simply has no gamepads. On the video thread,
    // whose drains of events read the gamepads.
    void start();
    // Closes every gamepad and gives the hold up again.
    void stop();
    bool started() const { return hold_.held(); }

    // What a drain of SDL's events feeds in: a gamepad plugged in or out.
    void added(SDL_JoystickID id);
    void removed(SDL_JoystickID id);
    // The slot of an open gamepad, or -1.
    int slot_of(SDL_JoystickID id) const;

    // As of SDL's latest look at the devices (every drain of events): released, or 0.0, for a
    // slot with no gamepad. Sticks -1.0 to 1.0, triggers 0.0 to 1.0.
    bool held(int slot, int button) const;
    float axis(int slot, SDL_GamepadAxis axis) const;
    // The names of the gamepads, index i for slot i, up to the last one connected; a slot with
    // none in between is "".
    std::vector<std::string> names() const;

private:
    std::array<SDL_Gamepad *, kMaxPads> pads_{};  // null for a free slot
    std::array<SDL_JoystickID, kMaxPads> ids_{};
    session::Hold hold_;
    bool tried_ = false;
};

// The one set of gamepads of the process.
Gamepads &gamepads();

}  // namespace jxfb
