// The Python face of JXFramebuffer: the module `jxframebuf` and its one class, `Framebuffer`.
// Argument conversion and exception translation are pybind11's own: std::runtime_error becomes
// RuntimeError, std::length_error ValueError, std::bad_alloc MemoryError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "framebuffer.h"

namespace py = pybind11;

namespace {

const py::detail::type_info *framebuffer_type() {
    static const py::detail::type_info *type = py::detail::get_type_info(typeid(JXFramebuffer));
    return type;
}

// pybind11 hands a method an instance whose __init__ never ran (made by Framebuffer.__new__, or
// by a subclass that skipped super().__init__()) with no JXFramebuffer in it; using that crashes.
// A constructed framebuffer is registered with pybind11 under its address, so every method checks.
JXFramebuffer &constructed(JXFramebuffer *fb) {
    if (fb == nullptr || !py::detail::get_object_handle(fb, framebuffer_type())) {
        throw py::type_error("Framebuffer.__init__() has not been called on this object");
    }
    return *fb;
}

// A member function bound behind that check. It takes `self` as a pointer, as pybind11 itself
// does for methods, so the generated signatures are unchanged.
template <typename R, typename... Args>
auto checked(R (JXFramebuffer::*method)(Args...)) {
    return [method](JXFramebuffer *fb, Args... args) -> R {
        return (constructed(fb).*method)(args...);
    };
}
template <typename R, typename... Args>
auto checked(R (JXFramebuffer::*method)(Args...) const) {
    return [method](JXFramebuffer *fb, Args... args) -> R {
        return (constructed(fb).*method)(args...);
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

// pset and pget are what a Python loop calls once per pixel, so their cost is mostly the call
// itself, and pybind11's general dispatcher (argument tuple, overload records, casters) is more
// than half of it. Each gets a METH_FASTCALL front that handles the common case itself: an
// initialised framebuffer and plain ints in range. Anything else goes to the method that pybind11
// bound, which converts, accepts and refuses exactly as before, with its own error text.
struct FastMethod {
    PyMethodDef def;
    PyObject *bound;  // pybind11's function, kept for the rest of the process
    std::string doc;  // pybind11's generated signature, the method's only documentation
};
FastMethod fast_pset, fast_pget;

// The framebuffer in `self` if __init__ has run, else nullptr (no error set).
JXFramebuffer *initialised(PyObject *self) {
    auto *instance = reinterpret_cast<py::detail::instance *>(self);
    py::detail::value_and_holder v_h = instance->get_value_and_holder(framebuffer_type(), false);
    return v_h && v_h.holder_constructed() ? v_h.value_ptr<JXFramebuffer>() : nullptr;
}

bool plain_int(PyObject *arg, long lo, long hi, long &out) {
    if (!PyLong_CheckExact(arg)) return false;
    int overflow = 0;
    out = PyLong_AsLongAndOverflow(arg, &overflow);
    return overflow == 0 && out >= lo && out <= hi;  // -1 with an error set is out of range too
}

PyObject *slow_path(const FastMethod &method, PyObject *self, PyObject *const *args,
                    Py_ssize_t nargs, PyObject *kwnames) {
    PyErr_Clear();  // from a failed PyLong_AsLongAndOverflow
    std::vector<PyObject *> call{self};
    call.insert(call.end(), args, args + nargs + (kwnames ? PyTuple_GET_SIZE(kwnames) : 0));
    return PyObject_Vectorcall(method.bound, call.data(), static_cast<size_t>(nargs) + 1, kwnames);
}

constexpr long kIntMin = INT32_MIN, kIntMax = INT32_MAX;

PyObject *pset(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised(self);
    long x, y, c;
    if (fb && nargs == 3 && !kwnames && plain_int(args[0], kIntMin, kIntMax, x) &&
        plain_int(args[1], kIntMin, kIntMax, y) && plain_int(args[2], 0, 255, c)) {
        fb->pset(static_cast<int>(x), static_cast<int>(y), static_cast<std::uint8_t>(c));
        Py_RETURN_NONE;
    }
    return slow_path(fast_pset, self, args, nargs, kwnames);
}

PyObject *pget(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised(self);
    long x, y;
    if (fb && nargs == 2 && !kwnames && plain_int(args[0], kIntMin, kIntMax, x) &&
        plain_int(args[1], kIntMin, kIntMax, y)) {
        return PyLong_FromLong(fb->pget(static_cast<int>(x), static_cast<int>(y)));
    }
    return slow_path(fast_pget, self, args, nargs, kwnames);
}

// Puts the fast front in place of the method pybind11 registered under `name`; the class
// dictionary keeps its order, since the key is already there.
void install(py::handle cls, const char *name, PyCFunctionFastWithKeywords impl,
             FastMethod &method) {
    py::object bound = cls.attr(name);
    method.doc = py::str(bound.attr("__doc__"));
    method.bound = bound.release().ptr();
    method.def = {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(impl)),
                  METH_FASTCALL | METH_KEYWORDS, method.doc.c_str()};
    PyObject *descriptor =
        PyDescr_NewMethod(reinterpret_cast<PyTypeObject *>(cls.ptr()), &method.def);
    if (!descriptor) throw py::error_already_set();
    cls.attr(name) = py::reinterpret_steal<py::object>(descriptor);
}

}  // namespace

PYBIND11_MODULE(jxframebuf, m) {
    m.doc() = "JXFramebuffer - 8-bit framebuffer with palette";

    py::class_<JXFramebuffer> framebuffer(m, "Framebuffer");
    framebuffer
        .def(py::init<int, int, int, int>(), py::arg("width"), py::arg("height"),
             py::arg("scale") = 3, py::arg("fps") = 60)
        .def("running", checked(&JXFramebuffer::running))
        .def("flip", checked(&JXFramebuffer::flip))
        .def("clear", checked(&JXFramebuffer::clear), py::arg("color") = 0)
        .def("pset", checked(&JXFramebuffer::pset))
        .def("pget", checked(&JXFramebuffer::pget))
        .def("buffer",
             [](JXFramebuffer *self) {
                 JXFramebuffer &fb = constructed(self);
                 const py::ssize_t w = fb.width(), h = fb.height();
                 return view<std::uint8_t>(fb, fb.pixel_data(), {h, w}, {w, 1});
             })
        .def("palette",
             [](JXFramebuffer *self) {
                 JXFramebuffer &fb = constructed(self);
                 return view<std::uint32_t>(fb, fb.palette_data(), {256}, {sizeof(std::uint32_t)});
             })
        .def("quit", checked(&JXFramebuffer::quit))
        .def_property_readonly("width", checked(&JXFramebuffer::width))
        .def_property_readonly("height", checked(&JXFramebuffer::height));

    install(framebuffer, "pset", &pset, fast_pset);
    install(framebuffer, "pget", &pget, fast_pget);
}
