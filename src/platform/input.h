// Keyboard, mouse and gamepad-button state of one window, and the names of what can be asked about.
#pragma once

#include <SDL3/SDL.h>

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace jxfb {

// What a name stands for. A key by what it types is its SDL keycode (bit 31 clear); the other
// kinds carry bit 31 and a kind in bits 16-23: a mouse button (SDL's button number), a key by
// where it is (its SDL scancode), a gamepad button (slot << 8 | SDL's button number), a modifier
// on either side (EitherSide).
using Control = std::uint32_t;
constexpr Control kMouseButton = 0x80000000u;
constexpr Control kPhysicalKey = 0x80010000u;
constexpr Control kPadButton = 0x80020000u;
constexpr Control kEitherSide = 0x80030000u;
constexpr Control kKindMask = 0xFFFF0000u;

// The modifiers that have a key on each side: "ctrl", "shift", "alt", "gui" are held while
// either of their two keys is (by what the keys type: SDLK_LCTRL, SDLK_RCTRL, ...).
enum class EitherSide : std::uint8_t { kCtrl, kShift, kAlt, kGui };
constexpr int kEitherSides = 4;
constexpr Control either_side(EitherSide which) {
    return kEitherSide | static_cast<Control>(which);
}

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
// as SDL_GetKeyName gives them, or any single character) in any case (Unicode's simple case
// folding: "É" is "é"); "mouse left", "mouse middle",
// "mouse right", "mouse x1", "mouse x2"; "physical " + an SDL scancode name ("physical W");
// "pad NAME", "pad2 NAME" ... "pad8 NAME" with an SDL gamepad button name ("pad a", "pad dpup");
// "ctrl", "shift", "alt", "gui" for either side's key. False for a name that stands for nothing.
bool control_from_name(const std::string &name, Control &out);

// The character that typed(edits=True) gives for a press of the key `key`, or 0 for a key that
// is no editing key: Backspace "\b", Tab "\t", Return and Keypad Enter "\n", and as the line
// editors of terminals have them, Home Ctrl-A, Left Ctrl-B, Delete Ctrl-D, End Ctrl-E, Right
// Ctrl-F.
char edit_character(SDL_Keycode key);

// The gamepad axis that a name stands for: "pad leftx", "pad2 righttrigger", ... False if none.
bool axis_from_name(const std::string &name, int &slot, SDL_GamepadAxis &axis);

// The messages that refuse a name that stands for nothing: the nearest known name if one is near
// ("unknown key name 'Page Up': did you mean 'PageUp'?"), else the kinds of names there are. A
// NUL in the name shows as \x00, and a very long name is cut short.
std::string unknown_key_name(const std::string &name);
std::string unknown_axis_name(const std::string &name);

// Whether `utf8` is exactly one character, and which.
bool one_character(const std::string &utf8, char32_t &c);

// The input of one window: what is held now, fed from the hub's events (event_hub.h), and what
// happened during the frame, each happening stamped with the number of the drain of events that
// brought it, so that a frame can let go of exactly what its queries could see.
class InputState {
public:
    // What a drain feeds in, with its number. A key event counts for the key both by what it
    // types and by where it is. A `continued` down is a key held since before this window had the
    // focus: held, but no new press.
    void key(std::uint64_t drain, SDL_Keycode key, SDL_Scancode scancode, bool down, bool repeat,
             bool continued = false);
    void button(std::uint64_t drain, std::uint8_t button, bool down) {
        change(drain, kMouseButton | button, down);
    }
    // A gamepad button went down or up (its held state is the gamepad's own, see gamepad.h).
    void pad_button(std::uint64_t drain, Control c, bool down) {
        happened(drain, down ? kPress : kRelease, c);
    }
    void move(float x, float y) {
        mouse_x_ = x;
        mouse_y_ = y;
        mouse_seen_ = true;
    }
    void wheel(std::uint64_t drain, float x, float y);
    void text(std::uint64_t drain, const std::string &utf8);
    // The window lost the keyboard focus: no key is held any more. The keys that were held are
    // added to `held_then`.
    void release_keys(std::uint64_t drain, std::vector<Control> &held_then);
    // The window is gone: nothing is held or pressed, and what was held is released in a frame of
    // its own, stamped `drain`; the pointer stays where it was last seen.
    void release_all(std::uint64_t drain);

    // What drains up to number `upto` brought is forgotten: presses, releases, text, scrolling.
    void forget(std::uint64_t upto);

    bool held(Control c) const {
        if (is_physical(c)) return places_held_[place(c)];
        if ((c & kKindMask) == kEitherSide) return (either_held() >> (c & 0xFF) & 1) != 0;
        return contains(held_, c);
    }
    // Went down (with `repeat`, or auto-repeated) / went up in what the frame still holds.
    bool pressed(Control c, bool repeat) const;
    bool released(Control c) const;
    // The frame's text, UTF-8, and its scrolling in notches (x to the right, y away from the user).
    // With `edits`, the editing keys' presses and repeats among the text, in order, each as its
    // character (edit_character()).
    std::string typed(bool edits = false) const;
    std::pair<float, float> wheel() const;

    // The pointer in window coordinates, as last seen in this window.
    bool mouse_seen() const { return mouse_seen_; }
    float mouse_x() const { return mouse_x_; }
    float mouse_y() const { return mouse_y_; }

private:
    enum What : std::uint8_t { kPress, kRepeat, kRelease, kText, kWheel };
    // One thing that happened during the frame, in the order the events came: the order that
    // ordered editing (text between editing keys) needs.
    struct Happening {
        std::uint64_t drain;
        What what;
        Control control;   // kPress, kRepeat, kRelease
        float x, y;        // kWheel
        std::string text;  // kText
    };

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
    void change(std::uint64_t drain, Control c, bool down);
    void happened(std::uint64_t drain, What what, Control c);
    // Bit i: either side's key of EitherSide i is held.
    unsigned either_held() const;
    // The either-side modifiers that went down or up since `before` (either_held() then).
    void either_changed(std::uint64_t drain, unsigned before);

    // Keys by what they type, mouse buttons: a handful of entries at most, where a linear
    // search beats hashing.
    std::vector<Control> held_;
    // Keys by place, one bit per SDL scancode.
    std::bitset<SDL_SCANCODE_COUNT> places_held_;
    std::vector<Happening> frame_;  // oldest first, so in the order of the drains
    float mouse_x_ = 0.0f;
    float mouse_y_ = 0.0f;
    bool mouse_seen_ = false;
};

}  // namespace jxfb
