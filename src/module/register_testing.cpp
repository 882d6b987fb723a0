// The testing kit's engine, the private module jxframebuf._jxframebuf._testing: input put into a
// framebuffer's window through the event hub, and virtual gamepads. The package's
// jxframebuf.testing is its public face.
#include <pybind11/stl.h>

#include <cctype>
#include <memory>
#include <string>

#include "binding.h"
#include "virtual_pad.h"

namespace jxfb {

namespace {

std::string lowered(std::string name) {
    for (char &ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return name;
}

SDL_GamepadButton pad_button_named(const std::string &name) {
    const std::string wanted = lowered(name);
    for (int b = 0; b < SDL_GAMEPAD_BUTTON_COUNT; ++b) {
        const char *known = SDL_GetGamepadStringForButton(static_cast<SDL_GamepadButton>(b));
        if (known && wanted == known) return static_cast<SDL_GamepadButton>(b);
    }
    throw std::invalid_argument("unknown gamepad button '" + name +
                                "' (SDL's gamepad button names: 'a', 'b', 'x', 'y', 'back', "
                                "'guide', 'start', 'dpup', 'leftshoulder', ...)");
}

SDL_GamepadAxis pad_axis_named(const std::string &name) {
    const std::string wanted = lowered(name);
    for (int a = 0; a < SDL_GAMEPAD_AXIS_COUNT; ++a) {
        const char *known = SDL_GetGamepadStringForAxis(static_cast<SDL_GamepadAxis>(a));
        if (known && wanted == known) return static_cast<SDL_GamepadAxis>(a);
    }
    throw std::invalid_argument("unknown gamepad axis '" + name +
                                "' ('leftx', 'lefty', 'rightx', 'righty', 'lefttrigger', "
                                "'righttrigger')");
}

}  // namespace

void register_testing(py::module_ &m) {
    py::module_ kit = m.def_submodule("_testing", "The testing kit's engine (jxframebuf.testing).");
    py::class_<VirtualPad> pad(kit, "VirtualPad");
    Members(pad)
        .init([](const std::string &name) { return std::make_unique<VirtualPad>(name); },
              py::arg("name"))
        .def(
            "button",
            [](VirtualPad &p, const std::string &name, Switch down) {
                p.set_button(pad_button_named(name), down);
            },
            py::arg("name"), py::arg("down"))
        .def(
            "axis",
            [](VirtualPad &p, const std::string &name, double value) {
                p.set_axis(pad_axis_named(name), static_cast<float>(value));
            },
            py::arg("name"), py::arg("value"))
        .def("unplug", &VirtualPad::unplug)
        .readonly("plugged", &VirtualPad::plugged);
}

}  // namespace jxfb
