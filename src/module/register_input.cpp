// The input members: keys, buttons and text of the window, the mouse and its wheel, gamepads and
// the cursor.
#include <string>
#include <utility>
#include <vector>

#include <pybind11/stl.h>

#include "binding.h"

namespace jxfb {

namespace {

// Names are text: pybind11 would also take bytes for a std::string.
std::string text(const py::str &value) {
    return value.cast<std::string>();
}

}  // namespace

bool switch_value(const py::object &on, const char *what) {
    // A switch: 0, None or "yes" are more likely slips than meant.
    if (!PyBool_Check(on.ptr())) {
        throw py::type_error(std::string(what) + " must be True or False, not " +
                             Py_TYPE(on.ptr())->tp_name);
    }
    return on.ptr() == Py_True;
}

void register_input(FramebufferClass &cls) {
    cls.def(
           "key",
           [](JXFramebuffer *self, const py::str &name) {
               return constructed(self).key(text(name));
           },
           py::arg("name"))
        .def(
            "pressed",
            [](JXFramebuffer *self, const py::str &name, bool repeat) {
                return constructed(self).pressed(text(name), repeat);
            },
            py::arg("name"), py::arg("repeat") = false)
        .def("typed",
             [](JXFramebuffer *self) {
                 const std::string &typed = constructed(self).typed();
                 // SDL's text is UTF-8; "replace" keeps a broken sequence from an input method
                 // from failing the whole frame's text.
                 return py::reinterpret_steal<py::str>(
                     PyUnicode_DecodeUTF8(typed.data(), static_cast<Py_ssize_t>(typed.size()),
                                          "replace"));
             })
        .def("wheel", checked(&JXFramebuffer::wheel))
        .def("mouse", checked(&JXFramebuffer::mouse))
        .def(
            "axis",
            [](JXFramebuffer *self, const py::str &name) {
                return constructed(self).axis(text(name));
            },
            py::arg("name"))
        .def("gamepads", checked(&JXFramebuffer::gamepads))
        .def_property(
            "cursor", [](JXFramebuffer *self) { return constructed(self).cursor(); },
            [](JXFramebuffer *self, const py::object &on) {
                constructed(self).set_cursor(switch_value(on, "cursor"));
            });
}

}  // namespace jxfb
