// The testing kit's engine, the private module jxframebuf._jxframebuf._testing: input put into a
// framebuffer's window through the event hub, and virtual gamepads. The package's
// jxframebuf.testing is its public face.
#include <pybind11/stl.h>

#include <cctype>
#include <limits>
#include <memory>
#include <string>

#include "binding.h"
#include "event_hub.h"
#include "input.h"
#include "layout.h"
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

JXFramebuffer &framebuffer(const py::handle &fb) {
    return constructed(fb.cast<JXFramebuffer *>());
}

// An event for fb's window, at the next drain.
Event event_for(JXFramebuffer &fb, Event::Kind kind) {
    Event event;
    event.kind = kind;
    event.window = fb.window_id();
    return event;
}

// Where the pointer will be when the event is dispatched, after what was injected before it.
void pointer(Event &event) {
    event.x = event.y = std::numeric_limits<float>::quiet_NaN();
}

void key(const py::handle &fb_object, const std::string &name, bool down) {
    JXFramebuffer &fb = framebuffer(fb_object);
    Control control;
    if (!control_from_name(name, control)) {
        throw std::invalid_argument("unknown key name '" + name + "' (see key_names())");
    }
    if (is_pad_button(control)) {
        throw std::invalid_argument("'" + name +
                                    "' is a gamepad button: a testing.Gamepad presses those");
    }
    if ((control & kKindMask) == kMouseButton) {
        Event event = event_for(fb, Event::Kind::kMouseButton);
        pointer(event);
        event.button = static_cast<std::uint8_t>(control & 0xFF);
        event.down = down;
        hub().inject(std::move(event));
        return;
    }
    Event event = event_for(fb, Event::Kind::kKey);
    event.down = down;
    if ((control & kKindMask) == kEitherSide) {
        static constexpr SDL_Keycode kLeft[kEitherSides] = {SDLK_LCTRL, SDLK_LSHIFT, SDLK_LALT,
                                                            SDLK_LGUI};
        control = static_cast<Control>(kLeft[control & 0xFF]);
    }
    if ((control & kKindMask) == kPhysicalKey) {
        event.scancode = static_cast<SDL_Scancode>(control & 0xFFFF);
        event.key = SDL_GetKeyFromScancode(event.scancode, SDL_KMOD_NONE, false);
    } else {
        // The key that types it on the current layout; a character no key types (on a US
        // layout, an "é") comes from nowhere in particular.
        event.key = static_cast<SDL_Keycode>(control);
        SDL_Keymod modifiers = SDL_KMOD_NONE;
        event.scancode = SDL_GetScancodeFromKey(event.key, &modifiers);
    }
    // The keyboard's own code: any but 0, which is SDL's made-up release on a change of focus.
    event.raw =
        static_cast<std::uint16_t>(event.scancode != SDL_SCANCODE_UNKNOWN ? event.scancode : 1);
    hub().inject(std::move(event));
}

void text(const py::handle &fb, const std::string &text) {
    Event event = event_for(framebuffer(fb), Event::Kind::kText);
    event.text = text;
    hub().inject(std::move(event));
}

void move(const py::handle &fb_object, int x, int y) {
    JXFramebuffer &fb = framebuffer(fb_object);
    const WindowSize size = fb.input().size();
    const int out_w = size.pixel_w > 0 ? size.pixel_w : size.w;
    const int out_h = size.pixel_h > 0 ? size.pixel_h : size.h;
    const Layout layout = fit_picture(fb.width(), fb.height(), out_w, out_h);
    // The middle of the pixel's block in output pixels, then in window units.
    const auto middle = [&layout](int pixel, int origin, int window, int out) {
        const double at = origin + (pixel + 0.5) * layout.scale;
        return static_cast<float>(out > 0 && window > 0 ? at * window / out : at);
    };
    Event event = event_for(fb, Event::Kind::kMouseMotion);
    event.x = middle(x, layout.x, size.w, out_w);
    event.y = middle(y, layout.y, size.h, out_h);
    hub().inject(std::move(event));
}

void scroll(const py::handle &fb_object, float dx, float dy) {
    JXFramebuffer &fb = framebuffer(fb_object);
    Event event = event_for(fb, Event::Kind::kMouseWheel);
    pointer(event);
    event.dx = dx;
    event.dy = dy;
    hub().inject(std::move(event));
}

void close(const py::handle &fb) {
    hub().inject(event_for(framebuffer(fb), Event::Kind::kCloseRequested));
}

}  // namespace

void register_testing(py::module_ &m) {
    py::module_ kit = m.def_submodule("_testing", "The testing kit's engine (jxframebuf.testing).");
    kit.def("key", &key, py::arg("fb"), py::arg("name"), py::arg("down"));
    kit.def("text", &text, py::arg("fb"), py::arg("text"));
    kit.def("move", &move, py::arg("fb"), py::arg("x"), py::arg("y"));
    kit.def("scroll", &scroll, py::arg("fb"), py::arg("x"), py::arg("y"));
    kit.def("close", &close, py::arg("fb"));
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
