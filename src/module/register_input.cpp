// The input members: keys, buttons and text of the window, the mouse and its wheel, gamepads and
// the cursor; and the module's key_names().
#include <pybind11/stl.h>

#include <string>

#include "binding.h"
#include "key_names.h"

namespace jxfb {

void register_input(FramebufferClass &cls) {
    Members(cls)
        .def("key", &JXFramebuffer::key, py::arg("name"))
        .def(
            "pressed",
            [](JXFramebuffer &fb, const std::string &name, Switch repeat) {
                return fb.pressed(name, repeat);
            },
            py::arg("name"), py::arg("repeat") = false)
        .def("released", &JXFramebuffer::released, py::arg("name"))
        .def(
            "typed",
            [](JXFramebuffer &fb, Switch edits) {
                const std::string typed = fb.typed(edits);
                // SDL's text is UTF-8; "replace" keeps a broken sequence from an input method
                // from failing the whole frame's text.
                return py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
                    typed.data(), static_cast<Py_ssize_t>(typed.size()), "replace"));
            },
            py::arg("edits") = false)
        .def("wheel", &JXFramebuffer::wheel)
        .def("mouse", &JXFramebuffer::mouse)
        .readonly("window_size", &JXFramebuffer::window_size)
        .def("axis", &JXFramebuffer::axis, py::arg("name"))
        .def("gamepads", &JXFramebuffer::gamepads)
        .property("cursor", &JXFramebuffer::cursor,
                  [](JXFramebuffer &fb, Switch shown) { fb.set_cursor(shown); });
}

void register_key_names(py::module_ &m) {
    m.def("key_names", [] { return key_names(); });
}

}  // namespace jxfb
