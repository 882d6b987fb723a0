// The Python face of JXFramebuffer: the module `jxframebuf` and its one class, `Framebuffer`.
// Argument conversion and exception translation are pybind11's own: std::runtime_error becomes
// RuntimeError, std::length_error ValueError, std::bad_alloc MemoryError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "framebuffer.h"

namespace py = pybind11;

namespace {

// A writeable array over memory that the framebuffer owns. Its base is the Python object that
// wraps `fb`, so the framebuffer (and its window) lives as long as any view of it.
template <typename T>
py::array_t<T> view(JXFramebuffer &fb, T *data, std::vector<py::ssize_t> shape,
                    std::vector<py::ssize_t> strides) {
    py::object base = py::cast(&fb, py::return_value_policy::reference);
    return py::array_t<T>(std::move(shape), std::move(strides), data, base);
}

}  // namespace

PYBIND11_MODULE(jxframebuf, m) {
    m.doc() = "JXFramebuffer - 8-bit framebuffer with palette";

    py::class_<JXFramebuffer>(m, "Framebuffer")
        .def(py::init<int, int, int, int>(), py::arg("width"), py::arg("height"),
             py::arg("scale") = 3, py::arg("fps") = 60)
        .def("running", &JXFramebuffer::running)
        .def("flip", &JXFramebuffer::flip)
        .def("clear", &JXFramebuffer::clear, py::arg("color") = 0)
        .def("pset", &JXFramebuffer::pset)
        .def("pget", &JXFramebuffer::pget)
        .def("buffer",
             [](JXFramebuffer &fb) {
                 const py::ssize_t w = fb.width(), h = fb.height();
                 return view<std::uint8_t>(fb, fb.pixel_data(), {h, w}, {w, 1});
             })
        .def("palette",
             [](JXFramebuffer &fb) {
                 return view<std::uint32_t>(fb, fb.palette_data(), {256},
                                            {sizeof(std::uint32_t)});
             })
        .def("quit", &JXFramebuffer::quit)
        .def_property_readonly("width", &JXFramebuffer::width)
        .def_property_readonly("height", &JXFramebuffer::height);
}
