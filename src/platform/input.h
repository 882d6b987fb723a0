// Keyboard and mouse state of one window, fed from SDL's events.
#pragma once

#include <SDL3/SDL.h>

#include <cstdint>
#include <string>
#include <vector>

namespace jxfb {

// A key (an SDL keycode) or a mouse button (kMouseButton | SDL's button number).
using Control = std::uint32_t;
constexpr Control kMouseButton = 0x80000000u;

// The control that a name stands for: SDL's key names ("A", "Space", "Left Shift", "F1", ...,
// as SDL_GetKeyName gives them, or any single character) in any case, and "mouse left",
// "mouse middle", "mouse right". False for a name that stands for nothing.
bool control_from_name(const std::string &name, Control &out);

class InputState {
public:
    // What a drain of SDL's events feeds in.
    void key(SDL_Keycode key, bool down, bool repeat);
    void button(std::uint8_t button, bool down);
    void move(float x, float y) {
        mouse_x_ = x;
        mouse_y_ = y;
        mouse_seen_ = true;
    }
    // The window lost the keyboard focus: no key is held any more.
    void release_keys();
    // The window is gone: nothing is held or pressed; the pointer stays where it was last seen.
    void release_all();

    // A new frame begins: presses reported so far are forgotten.
    void new_frame() { pressed_.clear(); }

    bool held(Control c) const { return contains(held_, c); }
    bool pressed(Control c) const { return contains(pressed_, c); }

    // The pointer in window coordinates, as last seen in this window.
    bool mouse_seen() const { return mouse_seen_; }
    float mouse_x() const { return mouse_x_; }
    float mouse_y() const { return mouse_y_; }

private:
    static bool contains(const std::vector<Control> &set, Control c);
    void change(Control c, bool down);

    // A handful of entries at most: a linear search beats hashing.
    std::vector<Control> held_;
    std::vector<Control> pressed_;  // went down since the frame began
    float mouse_x_ = 0.0f;
    float mouse_y_ = 0.0f;
    bool mouse_seen_ = false;
};

}  // namespace jxfb
