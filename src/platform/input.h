// Keyboard, mouse and gamepad-button state of one window, fed from SDL's events.
#pragma once

#include <SDL3/SDL.h>

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jxfb {

// What a name stands for. A key by what it types is its SDL keycode (bit 31 clear); the other
// kinds carry bit 31 and a kind in bits 16-23: a mouse button (SDL's button number), a key by
// where it is (its SDL scancode), a gamepad button (slot << 8 | SDL's button number).
using Control = std::uint32_t;
constexpr Control kMouseButton = 0x80000000u;
constexpr Control kPhysicalKey = 0x80010000u;
constexpr Control kPadButton = 0x80020000u;
constexpr Control kKindMask = 0xFFFF0000u;

constexpr int kMaxPads = 8;  // "pad" to "pad8"

constexpr Control physical_key(SDL_Scancode scancode) {
    return kPhysicalKey | static_cast<Control>(scancode);
}
constexpr Control pad_button(int slot, int button) {
    return kPadButton | static_cast<Control>(slot) << 8 | static_cast<Control>(button);
}
constexpr bool is_pad_button(Control c) {
    return (c & kKindMask) == kPadButton;
}
constexpr int pad_slot(Control c) {
    return static_cast<int>(c >> 8 & 0xFF);
}
constexpr int pad_button_number(Control c) {
    return static_cast<int>(c & 0xFF);
}

// The control that a name stands for: SDL's key names ("A", "Space", "Left Shift", "F1", ...,
// as SDL_GetKeyName gives them, or any single character) in any case; "mouse left", "mouse middle",
// "mouse right", "mouse x1", "mouse x2"; "physical " + an SDL scancode name ("physical W");
// "pad NAME", "pad2 NAME" ... "pad8 NAME" with an SDL gamepad button name ("pad a", "pad dpup").
// False for a name that stands for nothing.
bool control_from_name(const std::string &name, Control &out);

// The gamepad axis that a name stands for: "pad leftx", "pad2 righttrigger", ... False if none.
bool axis_from_name(const std::string &name, int &slot, SDL_GamepadAxis &axis);

// Keys held when one of our windows lost the keyboard focus. A key still held goes down again in
// the window that gets the focus next (SDL re-sends held modifiers at once, the keyboard's
// auto-repeat the other keys a moment later): that is the same hold, not a new press there.
class FocusHandoff {
public:
    // A drain of events begins.
    void drain() { released_.clear(); }
    // Feeds one key event in; true for a key going down that continues such a hold.
    bool continues(const SDL_KeyboardEvent &key) {
        if (carried_.empty() && (key.down || key.raw != 0)) return false;  // the usual case
        return carried_or_released(key);
    }
    // `held` were held in the window at the moment it lost the focus.
    void focus_lost(std::uint64_t timestamp, const std::vector<Control> &held);

private:
    bool carried_or_released(const SDL_KeyboardEvent &key);

    // SDL releases every held key itself when the focus leaves (no raw key code), in the same
    // drain as the focus-lost that follows.
    std::vector<Control> released_;
    std::vector<Control> carried_;
    std::uint64_t lost_at_ = 0;
};

class InputState {
public:
    // What a drain of SDL's events feeds in. A key event counts for the key both by what it
    // types and by where it is. A `continued` down is a key held since before this window had the
    // focus: held, but no new press.
    void key(SDL_Keycode key, SDL_Scancode scancode, bool down, bool repeat,
             bool continued = false) {
        if (repeat) {
            // Auto-repeat is no new press, but pressed(name, repeat=True) counts it.
            if (down) repeated(key, scancode);
            return;
        }
        if (key != SDLK_UNKNOWN) {
            if (!continued) {
                change(key, down);
            } else if (!contains(held_, key)) {
                held_.push_back(key);
            }
        }
        if (placed(scancode)) {
            if (down && !continued && !places_held_[scancode]) places_pressed_[scancode] = true;
            places_held_[scancode] = down;
        }
    }
    void button(std::uint8_t button, bool down) { change(kMouseButton | button, down); }
    // A gamepad button went down (its held state is the gamepad's own, see gamepad.h).
    void pad_pressed(Control c) {
        if (!contains(pressed_, c)) pressed_.push_back(c);
    }
    void move(float x, float y) {
        mouse_x_ = x;
        mouse_y_ = y;
        mouse_seen_ = true;
    }
    void wheel(float x, float y) {
        wheel_x_ += x;
        wheel_y_ += y;
    }
    void text(const char *utf8) {
        // Text is what the keys typed: control characters (which an input method may pass on)
        // are keys, not text. One or two bytes at a time, mostly.
        for (const char *p = utf8; *p != '\0'; ++p) {
            if (static_cast<unsigned char>(*p) >= 0x20 && *p != 0x7F) typed_.push_back(*p);
        }
    }
    // The window lost the keyboard focus: no key is held any more. The keys that were held are
    // added to `held_then`.
    void release_keys(std::vector<Control> &held_then);
    // The window is gone: nothing is held or pressed; the pointer stays where it was last seen.
    void release_all();

    // A new frame begins: presses, text and scrolling reported so far are forgotten.
    void new_frame() {
        pressed_.clear();
        repeated_.clear();
        places_pressed_.reset();
        places_repeated_.reset();
        typed_.clear();
        wheel_x_ = wheel_y_ = 0.0f;
    }

    bool held(Control c) const {
        return is_physical(c) ? places_held_[place(c)] : contains(held_, c);
    }
    bool pressed(Control c, bool repeat) const {
        if (is_physical(c)) {
            return places_pressed_[place(c)] || (repeat && places_repeated_[place(c)]);
        }
        return contains(pressed_, c) || (repeat && contains(repeated_, c));
    }
    const std::string &typed() const { return typed_; }
    float wheel_x() const { return wheel_x_; }
    float wheel_y() const { return wheel_y_; }

    // The pointer in window coordinates, as last seen in this window.
    bool mouse_seen() const { return mouse_seen_; }
    float mouse_x() const { return mouse_x_; }
    float mouse_y() const { return mouse_y_; }

private:
    static bool contains(const std::vector<Control> &set, Control c) {
        for (Control each : set) {
            if (each == c) return true;
        }
        return false;
    }
    static bool is_physical(Control c) { return (c & kKindMask) == kPhysicalKey; }
    static std::size_t place(Control c) { return (c & 0xFFFF) % SDL_SCANCODE_COUNT; }
    static bool placed(SDL_Scancode s) {
        return s > SDL_SCANCODE_UNKNOWN && s < SDL_SCANCODE_COUNT;
    }
    void change(Control c, bool down) {
        for (std::size_t i = 0; i < held_.size(); ++i) {
            if (held_[i] != c) continue;
            if (!down) held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
            return;  // released, or already down: not a new press
        }
        if (!down) return;
        held_.push_back(c);
        if (!contains(pressed_, c)) pressed_.push_back(c);
    }
    void repeated(SDL_Keycode key, SDL_Scancode scancode);

    // Keys by what they type, mouse buttons: a handful of entries at most, where a linear
    // search beats hashing.
    std::vector<Control> held_;
    std::vector<Control> pressed_;   // went down since the frame began
    std::vector<Control> repeated_;  // auto-repeated since the frame began
    // Keys by place, one bit per SDL scancode: every key event sets one of these too.
    std::bitset<SDL_SCANCODE_COUNT> places_held_;
    std::bitset<SDL_SCANCODE_COUNT> places_pressed_;
    std::bitset<SDL_SCANCODE_COUNT> places_repeated_;
    std::string typed_;
    float wheel_x_ = 0.0f;
    float wheel_y_ = 0.0f;
    float mouse_x_ = 0.0f;
    float mouse_y_ = 0.0f;
    bool mouse_seen_ = false;
};

}  // namespace jxfb
