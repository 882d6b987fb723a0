#include "input.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "casefold.h"

namespace jxfb {

namespace {

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

// Each modifier's keys, left and right, in the order of EitherSide.
constexpr SDL_Keycode kSides[kEitherSides][2] = {{SDLK_LCTRL, SDLK_RCTRL},
                                                 {SDLK_LSHIFT, SDLK_RSHIFT},
                                                 {SDLK_LALT, SDLK_RALT},
                                                 {SDLK_LGUI, SDLK_RGUI}};

Control lookup(const std::string &lowered) {
    if (lowered == "ctrl") return either_side(EitherSide::kCtrl);
    if (lowered == "shift") return either_side(EitherSide::kShift);
    if (lowered == "alt") return either_side(EitherSide::kAlt);
    if (lowered == "gui") return either_side(EitherSide::kGui);
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
    // letters, which SDL names in upper case (folded already). SDL_GetKeyFromName maps an
    // upper-case letter through the current keyboard layout, if there is one; doing it here keeps
    // the answer the same with or without a layout. Names SDL does not know give SDLK_UNKNOWN (0).
    char32_t single = 0;
    if (one_character(lowered, single)) return static_cast<Control>(single);
    return SDL_GetKeyFromName(lowered.c_str());
}

// The known names in their own spelling, for suggesting one: SDL's key names (as its scancodes
// name them), the same after "physical ", the mouse buttons and the first gamepad's buttons.
const std::vector<std::string> &known_key_names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (int s = 1; s < SDL_SCANCODE_COUNT; ++s) {
            const char *name = SDL_GetScancodeName(static_cast<SDL_Scancode>(s));
            if (name != nullptr && *name != '\0') all.emplace_back(name);
        }
        const std::size_t keys = all.size();
        for (std::size_t i = 0; i < keys; ++i) all.push_back("physical " + all[i]);
        for (const char *button : {"left", "middle", "right", "x1", "x2"}) {
            all.push_back(std::string("mouse ") + button);
        }
        for (int b = 0; b < SDL_GAMEPAD_BUTTON_COUNT; ++b) {
            const char *name = SDL_GetGamepadStringForButton(static_cast<SDL_GamepadButton>(b));
            if (name != nullptr) all.push_back(std::string("pad ") + name);
        }
        return all;
    }();
    return names;
}

// Edits (insert, delete, change, swap two neighbours) from a to b.
std::size_t distance(const std::string &a, const std::string &b) {
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t change = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[n][m];
}

// The known name nearest to `name`, if one is near enough to be what was meant: a third of the
// name's length in edits, at least one and at most three.
std::string nearest(const std::string &name, const std::vector<std::string> &known) {
    constexpr std::size_t kLongest = 64;  // longer than every name: no use comparing
    if (name.size() > kLongest) return {};
    const std::string folded = fold_case(name);
    const std::size_t most = std::clamp<std::size_t>((folded.size() + 1) / 3, 1, 3);
    std::string best;
    std::size_t best_distance = most + 1;
    for (const std::string &candidate : known) {
        const std::size_t d = distance(folded, fold_case(candidate));
        if (d < best_distance) {
            best = candidate;
            best_distance = d;
        }
    }
    return best;
}

// A name as a message shows it: quoted, a NUL written \x00 (it would end the message early), and
// a name too long to read cut short, with its length.
std::string shown(const std::string &name) {
    constexpr std::size_t kShown = 40;  // characters
    std::string text = "'";
    std::size_t characters = 0;
    for (const char ch : name) {
        const bool starts = (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
        if (starts && ++characters > kShown) break;
        if (ch == '\0') {
            text += "\\x00";
        } else {
            text.push_back(ch);
        }
    }
    if (characters <= kShown) return text + "'";
    const auto total = std::count_if(name.begin(), name.end(), [](char ch) {
        return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    });
    return text + "...' (" + std::to_string(total) + " characters)";
}

}  // namespace

bool one_character(const std::string &utf8, char32_t &c) {
    return !utf8.empty() && decode_utf8(utf8, 0, c) == static_cast<int>(utf8.size());
}

std::string unknown_key_name(const std::string &name) {
    const std::string suggestion = nearest(name, known_key_names());
    if (!suggestion.empty()) {
        return "unknown key name " + shown(name) + ": did you mean '" + suggestion + "'?";
    }
    return "unknown key name " + shown(name) +
           " (SDL's key names, such as 'A', 'Space', 'Left', 'Return', 'F1', 'Left Shift'; "
           "'physical ' and an SDL scancode name, such as 'physical W'; 'mouse left', "
           "'mouse middle', 'mouse right', 'mouse x1', 'mouse x2'; 'pad a', 'pad2 start', "
           "'pad dpup', ... with SDL's gamepad button names)";
}

std::string unknown_axis_name(const std::string &name) {
    std::vector<std::string> axes;
    for (int a = 0; a < SDL_GAMEPAD_AXIS_COUNT; ++a) {
        const char *known = SDL_GetGamepadStringForAxis(static_cast<SDL_GamepadAxis>(a));
        if (known != nullptr) axes.push_back(std::string("pad ") + known);
    }
    const std::string suggestion = nearest(name, axes);
    if (!suggestion.empty()) {
        return "unknown axis name " + shown(name) + ": did you mean '" + suggestion + "'?";
    }
    return "unknown axis name " + shown(name) +
           " ('pad leftx', 'pad lefty', 'pad rightx', 'pad righty', 'pad lefttrigger', "
           "'pad righttrigger', or the same with 'pad2' to 'pad8')";
}

bool control_from_name(const std::string &name, Control &out) {
    // A NUL inside the name would end it early for SDL ("a\0junk" would read as "a").
    if (name.empty() || name.find('\0') != std::string::npos) return false;

    // Programs ask for the same few names every frame; SDL's lookup compares against every key
    // name it has. Remember the answers: only known names, and only so many, since every single
    // character (a million code points) is a known name.
    constexpr std::size_t kRemembered = 1024;
    static std::mutex guard;
    static std::unordered_map<std::string, Control> known;
    const std::string lowered = fold_case(name);
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

char edit_character(SDL_Keycode key) {
    switch (key) {
        case SDLK_BACKSPACE:
            return '\b';
        case SDLK_TAB:
            return '\t';
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            return '\n';
        case SDLK_HOME:
            return '\x01';
        case SDLK_LEFT:
            return '\x02';
        case SDLK_DELETE:
            return '\x04';
        case SDLK_END:
            return '\x05';
        case SDLK_RIGHT:
            return '\x06';
        default:
            return 0;
    }
}

bool axis_from_name(const std::string &name, int &slot, SDL_GamepadAxis &axis) {
    std::string rest;
    if (name.find('\0') != std::string::npos || !pad_name(fold_case(name), slot, rest)) {
        return false;
    }
    const int a = gamepad_axis(rest);
    if (a < 0) return false;
    axis = static_cast<SDL_GamepadAxis>(a);
    return true;
}

void InputState::key(std::uint64_t drain, SDL_Keycode key, SDL_Scancode scancode, bool down,
                     bool repeat, bool continued) {
    if (repeat) {
        // Auto-repeat is no new press, but pressed(name, repeat=True) counts it.
        if (!down) return;
        if (key != SDLK_UNKNOWN) happened(drain, kRepeat, key);
        if (placed(scancode)) happened(drain, kRepeat, physical_key(scancode));
        return;
    }
    if (key != SDLK_UNKNOWN) {
        if (!continued) {
            const unsigned before = either_held();
            change(drain, key, down);
            either_changed(drain, before);
        } else if (!contains(held_, key)) {
            held_.push_back(key);  // the same hold: no press of the key, nor of its modifier
        }
    }
    if (placed(scancode)) {
        // A second down of a key already held (a repeat not marked as one, a second keyboard) is
        // no new press, and an up of a key not held no release.
        const bool was = places_held_[scancode];
        if (down && !continued && !was) happened(drain, kPress, physical_key(scancode));
        if (!down && was) happened(drain, kRelease, physical_key(scancode));
        places_held_[scancode] = down;
    }
}

void InputState::change(std::uint64_t drain, Control c, bool down) {
    for (std::size_t i = 0; i < held_.size(); ++i) {
        if (held_[i] != c) continue;
        if (!down) {
            held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(i));
            happened(drain, kRelease, c);
        }
        return;  // released, or already down: not a new press
    }
    if (!down) return;
    held_.push_back(c);
    happened(drain, kPress, c);
}

unsigned InputState::either_held() const {
    unsigned held = 0;
    for (Control c : held_) {
        for (int i = 0; i < kEitherSides; ++i) {
            if (c == static_cast<Control>(kSides[i][0]) ||
                c == static_cast<Control>(kSides[i][1])) {
                held |= 1u << i;
            }
        }
    }
    return held;
}

void InputState::either_changed(std::uint64_t drain, unsigned before) {
    const unsigned now = either_held();
    for (int i = 0; i < kEitherSides; ++i) {
        const unsigned bit = 1u << i;
        if ((before ^ now) & bit) {
            happened(drain, now & bit ? kPress : kRelease, either_side(static_cast<EitherSide>(i)));
        }
    }
}

void InputState::happened(std::uint64_t drain, What what, Control c) {
    // A program that asks running() and never ends a frame keeps every frame's events: the oldest
    // half goes once there are this many.
    constexpr std::size_t kMostKept = 16384;
    if (frame_.size() >= kMostKept) {
        frame_.erase(frame_.begin(), frame_.begin() + kMostKept / 2);
    }
    frame_.push_back(Happening{drain, what, c, 0.0f, 0.0f, {}});
}

void InputState::wheel(std::uint64_t drain, float x, float y) {
    // One entry per drain: a fine-grained wheel sends hundreds of events a second.
    if (!frame_.empty() && frame_.back().what == kWheel && frame_.back().drain == drain) {
        frame_.back().x += x;
        frame_.back().y += y;
        return;
    }
    happened(drain, kWheel, 0);
    frame_.back().x = x;
    frame_.back().y = y;
}

void InputState::text(std::uint64_t drain, const std::string &utf8) {
    // Text is what the keys typed: control characters (which an input method may pass on) are
    // keys, not text.
    std::string kept;
    for (const char ch : utf8) {
        if (static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F) kept.push_back(ch);
    }
    if (kept.empty()) return;
    happened(drain, kText, 0);
    frame_.back().text = std::move(kept);
}

void InputState::release_keys(std::uint64_t drain, std::vector<Control> &held_then) {
    const unsigned either = either_held();
    const auto by_key = [](Control c) { return (c & kMouseButton) == 0; };
    for (Control c : held_) {
        if (!by_key(c)) continue;
        held_then.push_back(c);
        happened(drain, kRelease, c);
    }
    held_.erase(std::remove_if(held_.begin(), held_.end(), by_key), held_.end());
    for (std::size_t s = 0; s < places_held_.size(); ++s) {
        if (!places_held_[s]) continue;
        const Control c = physical_key(static_cast<SDL_Scancode>(s));
        held_then.push_back(c);
        happened(drain, kRelease, c);
    }
    places_held_.reset();
    either_changed(drain, either);
}

void InputState::release_all(std::uint64_t drain) {
    frame_.clear();
    std::vector<Control> keys;
    release_keys(drain, keys);
    for (Control c : held_) happened(drain, kRelease, c);  // the mouse buttons
    held_.clear();
}

void InputState::forget(std::uint64_t upto) {
    // Stamped in the order of the drains: what goes is a prefix.
    const auto keep = std::find_if(frame_.begin(), frame_.end(),
                                   [upto](const Happening &h) { return h.drain > upto; });
    frame_.erase(frame_.begin(), keep);
}

bool InputState::pressed(Control c, bool repeat) const {
    for (const Happening &h : frame_) {
        if (h.control == c && (h.what == kPress || (repeat && h.what == kRepeat))) return true;
    }
    return false;
}

bool InputState::released(Control c) const {
    for (const Happening &h : frame_) {
        if (h.control == c && h.what == kRelease) return true;
    }
    return false;
}

std::string InputState::typed(bool edits) const {
    std::string text;
    for (const Happening &h : frame_) {
        if (h.what == kText) {
            text += h.text;
        } else if (edits && (h.what == kPress || h.what == kRepeat) &&
                   (h.control & kMouseButton) == 0) {
            // Keys by what they type only (their presses by place come with them).
            if (const char edit = edit_character(static_cast<SDL_Keycode>(h.control))) {
                text += edit;
            }
        }
    }
    return text;
}

std::pair<float, float> InputState::wheel() const {
    std::pair<float, float> sum{0.0f, 0.0f};
    for (const Happening &h : frame_) {
        if (h.what != kWheel) continue;
        sum.first += h.x;
        sum.second += h.y;
    }
    return sum;
}

}  // namespace jxfb
