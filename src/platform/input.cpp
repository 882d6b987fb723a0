#include "input.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace jxfb {

namespace {

std::string lower_ascii(const std::string &name) {
    std::string lowered = name;
    for (char &ch : lowered) {
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    }
    return lowered;
}

bool starts_with(const std::string &text, const char *prefix, std::size_t &rest) {
    const std::size_t n = std::strlen(prefix);
    if (text.compare(0, n, prefix) != 0) return false;
    rest = n;
    return true;
}

// "pad NAME" and "padN NAME" (N from 1 to kMaxPads): the slot (0-based) and NAME. False if the
// name does not start so.
bool pad_name(const std::string &lowered, int &slot, std::string &rest) {
    std::size_t at = 0;
    if (!starts_with(lowered, "pad", at)) return false;
    slot = 0;
    if (at < lowered.size() && lowered[at] >= '1' && lowered[at] <= '0' + kMaxPads) {
        slot = lowered[at] - '1';
        ++at;
    }
    if (at >= lowered.size() || lowered[at] != ' ') return false;
    rest = lowered.substr(at + 1);
    return true;
}

// SDL's own names for the gamepad's buttons and axes, compared exactly (in lower case): SDL's
// lookups also take spellings meant for its mapping strings ("+leftx").
int gamepad_button(const std::string &name) {
    for (int b = 0; b < SDL_GAMEPAD_BUTTON_COUNT; ++b) {
        const char *known = SDL_GetGamepadStringForButton(static_cast<SDL_GamepadButton>(b));
        if (known && name == known) return b;
    }
    return -1;
}

int gamepad_axis(const std::string &name) {
    for (int a = 0; a < SDL_GAMEPAD_AXIS_COUNT; ++a) {
        const char *known = SDL_GetGamepadStringForAxis(static_cast<SDL_GamepadAxis>(a));
        if (known && name == known) return a;
    }
    return -1;
}

Control lookup(const std::string &lowered) {
    if (lowered == "mouse left") return kMouseButton | SDL_BUTTON_LEFT;
    if (lowered == "mouse middle") return kMouseButton | SDL_BUTTON_MIDDLE;
    if (lowered == "mouse right") return kMouseButton | SDL_BUTTON_RIGHT;
    if (lowered == "mouse x1") return kMouseButton | SDL_BUTTON_X1;
    if (lowered == "mouse x2") return kMouseButton | SDL_BUTTON_X2;
    std::size_t at = 0;
    if (starts_with(lowered, "physical ", at)) {
        const SDL_Scancode scancode = SDL_GetScancodeFromName(lowered.c_str() + at);
        return scancode == SDL_SCANCODE_UNKNOWN ? SDLK_UNKNOWN : physical_key(scancode);
    }
    int slot = 0;
    std::string rest;
    if (pad_name(lowered, slot, rest)) {
        const int button = gamepad_button(rest);
        return button < 0 ? SDLK_UNKNOWN : pad_button(slot, button);
    }
    // A character key's keycode is the character its key gives unshifted: lower case for the
    // Latin letters, which SDL names in upper case. SDL_GetKeyFromName maps an upper-case letter
    // through the current keyboard layout, if there is one; doing it here keeps the answer the
    // same with or without a layout. Names SDL does not know give SDLK_UNKNOWN (0).
    if (lowered.size() == 1) return static_cast<unsigned char>(lowered[0]);
    return SDL_GetKeyFromName(lowered.c_str());
}

bool contains_control(const std::vector<Control> &set, Control c) {
    return std::find(set.begin(), set.end(), c) != set.end();
}

void remove_control(std::vector<Control> &set, Control c) {
    set.erase(std::remove(set.begin(), set.end(), c), set.end());
}

}  // namespace

bool control_from_name(const std::string &name, Control &out) {
    // A NUL inside the name would end it early for SDL ("a\0junk" would read as "a").
    if (name.empty() || name.find('\0') != std::string::npos) return false;

    // Programs ask for the same few names every frame; SDL's lookup compares against every key
    // name it has. Remember the answers: only known names, and only so many, since every single
    // character (a million code points) is a known name.
    constexpr std::size_t kRemembered = 1024;
    static std::mutex guard;
    static std::unordered_map<std::string, Control> known;
    const std::string lowered = lower_ascii(name);
    std::lock_guard<std::mutex> lock(guard);
    const auto found = known.find(lowered);
    if (found != known.end()) {
        out = found->second;
        return true;
    }
    const Control control = lookup(lowered);
    if (control == SDLK_UNKNOWN) return false;
    if (known.size() < kRemembered) known.emplace(lowered, control);
    out = control;
    return true;
}

bool axis_from_name(const std::string &name, int &slot, SDL_GamepadAxis &axis) {
    std::string rest;
    if (name.find('\0') != std::string::npos || !pad_name(lower_ascii(name), slot, rest)) {
        return false;
    }
    const int a = gamepad_axis(rest);
    if (a < 0) return false;
    axis = static_cast<SDL_GamepadAxis>(a);
    return true;
}

bool FocusHandoff::carried_or_released(const SDL_KeyboardEvent &key) {
    const Control by_key = key.key, by_place = physical_key(key.scancode);
    if (!key.down) {
        if (key.raw == 0) {
            released_.push_back(by_key);
            released_.push_back(by_place);
        } else {
            // Let go on the keyboard: the hold has ended.
            remove_control(carried_, by_key);
            remove_control(carried_, by_place);
        }
        return false;
    }
    if (key.repeat) return false;
    const bool carried = contains_control(carried_, by_key) || contains_control(carried_, by_place);
    if (!carried) return false;
    remove_control(carried_, by_key);
    remove_control(carried_, by_place);
    // The hold goes on in the next window within moments (the auto-repeat delay); a press much
    // later, after the key was let go unseen in another program, is a new one.
    constexpr std::int64_t kHandoffNs = 2'000'000'000;
    // Signed: a key event carries the keyboard's own time, which may come before the moment
    // the focus-lost event was drained.
    return static_cast<std::int64_t>(key.timestamp - lost_at_) < kHandoffNs;
}

void FocusHandoff::focus_lost(std::uint64_t timestamp, const std::vector<Control> &held) {
    carried_ = released_;
    carried_.insert(carried_.end(), held.begin(), held.end());
    released_.clear();
    lost_at_ = timestamp;
}

void InputState::repeated(SDL_Keycode key, SDL_Scancode scancode) {
    if (key != SDLK_UNKNOWN && !contains(repeated_, key)) repeated_.push_back(key);
    if (placed(scancode)) places_repeated_[scancode] = true;
}

void InputState::release_keys(std::vector<Control> &held_then) {
    const auto by_key = [](Control c) { return (c & kMouseButton) == 0; };
    for (Control c : held_) {
        if (by_key(c)) held_then.push_back(c);
    }
    held_.erase(std::remove_if(held_.begin(), held_.end(), by_key), held_.end());
    for (std::size_t s = 0; s < places_held_.size(); ++s) {
        if (places_held_[s]) held_then.push_back(physical_key(static_cast<SDL_Scancode>(s)));
    }
    places_held_.reset();
}

void InputState::release_all() {
    held_.clear();
    pressed_.clear();
    repeated_.clear();
    places_held_.reset();
    places_pressed_.reset();
    places_repeated_.reset();
    typed_.clear();
    wheel_x_ = wheel_y_ = 0.0f;
}

}  // namespace jxfb
