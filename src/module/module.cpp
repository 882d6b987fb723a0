// The Python face of JXFramebuffer: the module `jxframebuf` and its one class, `Framebuffer`.
// Argument conversion and exception translation are pybind11's own: std::runtime_error becomes
// RuntimeError, std::length_error ValueError, std::bad_alloc MemoryError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "framebuffer.h"

namespace py = pybind11;

namespace {

// pybind11 hands a method an instance whose __init__ never ran (made by Framebuffer.__new__, or
// a subclass calling a method before super().__init__()) as freshly allocated memory in which no
// JXFramebuffer was ever constructed; using it crashes. A constructed framebuffer is registered
// with pybind11 under its address, that memory never is, so every method checks first.
void require_constructed(const JXFramebuffer &fb) {
    static const py::detail::type_info *type = py::detail::get_type_info(typeid(JXFramebuffer));
    if (!py::detail::get_object_handle(&fb, type)) {
        throw py::type_error("Framebuffer.__init__() has not been called on this object");
    }
}

// A bound member function behind that check.
template <typename R, typename... Args>
auto checked(R (JXFramebuffer::*method)(Args...)) {
    return [method](JXFramebuffer &fb, Args... args) -> R {
        require_constructed(fb);
        return (fb.*method)(args...);
    };
}
template <typename R, typename... Args>
auto checked(R (JXFramebuffer::*method)(Args...) const) {
    return [method](const JXFramebuffer &fb, Args... args) -> R {
        require_constructed(fb);
        return (fb.*method)(args...);
    };
}

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
        .def("running", checked(&JXFramebuffer::running))
        .def("flip", checked(&JXFramebuffer::flip))
        .def("clear", checked(&JXFramebuffer::clear), py::arg("color") = 0)
        .def("pset", checked(&JXFramebuffer::pset))
        .def("pget", checked(&JXFramebuffer::pget))
        .def("buffer",
             [](JXFramebuffer &fb) {
                 require_constructed(fb);
                 const py::ssize_t w = fb.width(), h = fb.height();
                 return view<std::uint8_t>(fb, fb.pixel_data(), {h, w}, {w, 1});
             })
        .def("palette",
             [](JXFramebuffer &fb) {
                 require_constructed(fb);
                 return view<std::uint32_t>(fb, fb.palette_data(), {256},
                                            {sizeof(std::uint32_t)});
             })
        .def("quit", checked(&JXFramebuffer::quit))
        .def_property_readonly("width", checked(&JXFramebuffer::width))
        .def_property_readonly("height", checked(&JXFramebuffer::height));
}
