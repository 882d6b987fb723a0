// The names that key(), pressed() and released() take, listed for a program to show or check
// (input.h turns a name into what it stands for).
#pragma once

#include <string>
#include <vector>

namespace jxfb {

// Every name, each once, in this order: the key names of the current keyboard layout (SDL's
// default US layout while SDL's video is down: no window is open) and the other names of SDL's
// scancodes that name a key there; "physical " and each of SDL's scancode names; the mouse
// buttons; the either-side modifiers ("ctrl", "shift", "alt", "gui"); the gamepad buttons as
// "pad NAME" and as the pattern "pad[1-8] NAME" (in fnmatch's syntax) for every gamepad. Any
// single character is a key name too, beyond this list. On the video thread while video is up
// (session::WrongThread elsewhere): the layout is read from SDL's keyboard.
std::vector<std::string> key_names();

}  // namespace jxfb
