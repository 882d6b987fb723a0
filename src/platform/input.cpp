#include "input.h"

#include <algorithm>
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

Control lookup(const std::string &lowered) {
    if (lowered == "mouse left") return kMouseButton | SDL_BUTTON_LEFT;
    if (lowered == "mouse middle") return kMouseButton | SDL_BUTTON_MIDDLE;
    if (lowered == "mouse right") return kMouseButton | SDL_BUTTON_RIGHT;
    // A character key's keycode is the character its key gives unshifted: lower case for the
    // Latin letters, which SDL names in upper case. SDL_GetKeyFromName maps an upper-case letter
    // through the current keyboard layout, if there is one; doing it here keeps the answer the
    // same with or without a layout. Names SDL does not know give SDLK_UNKNOWN (0).
    if (lowered.size() == 1) return static_cast<unsigned char>(lowered[0]);
    return SDL_GetKeyFromName(lowered.c_str());
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

bool InputState::contains(const std::vector<Control> &set, Control c) {
    return std::find(set.begin(), set.end(), c) != set.end();
}

void InputState::change(Control c, bool down) {
    const auto at = std::find(held_.begin(), held_.end(), c);
    if (down) {
        if (at != held_.end()) return;  // already down: not a new press
        held_.push_back(c);
        if (!contains(pressed_, c)) pressed_.push_back(c);
    } else if (at != held_.end()) {
        held_.erase(at);
    }
}

void InputState::key(SDL_Keycode key, bool down, bool repeat) {
    if (repeat || key == SDLK_UNKNOWN) return;  // auto-repeat is not a new press
    change(key, down);
}

void InputState::button(std::uint8_t button, bool down) {
    change(kMouseButton | button, down);
}

void InputState::release_keys() {
    held_.erase(std::remove_if(held_.begin(), held_.end(),
                               [](Control c) { return (c & kMouseButton) == 0; }),
                held_.end());
}

void InputState::release_all() {
    held_.clear();
    pressed_.clear();
}

}  // namespace jxfb
