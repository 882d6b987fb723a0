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

// pset and pget are what a Python loop calls once per pixel, so their cost per call is mostly the
// call itself. pybind11's general dispatcher packs the arguments into a tuple and walks overload
// records; these two are plain METH_FASTCALL methods instead, at under half the cost. They
// convert with pybind11's own casters, with conversion on (as its dispatcher does for a method
// with one overload), so they take and refuse exactly the values the methods bound by pybind11
// do.

const py::detail::type_info *framebuffer_type = nullptr;

// The framebuffer inside `self`, or nullptr with TypeError set. The method descriptor has checked
// already that `self` is a Framebuffer; it may still be one whose __init__ never ran
// (Framebuffer.__new__(Framebuffer)), with no framebuffer in it.
JXFramebuffer *framebuffer_of(PyObject *self) {
    auto *instance = reinterpret_cast<py::detail::instance *>(self);
    py::detail::value_and_holder v_h = instance->get_value_and_holder(framebuffer_type, false);
    if (!v_h || !v_h.holder_constructed()) {
        PyErr_SetString(PyExc_TypeError, "this Framebuffer was never initialised (no __init__)");
        return nullptr;
    }
    return v_h.value_ptr<JXFramebuffer>();
}

template <typename T>
bool load(PyObject *arg, T &out) {
    py::detail::make_caster<T> caster;
    if (!caster.load(arg, true)) return false;
    out = py::detail::cast_op<T>(caster);
    return true;
}

PyObject *incompatible(const char *signature, PyObject *const *args, Py_ssize_t nargs) {
    PyObject *given = PyTuple_New(nargs);
    if (!given) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(given, i, Py_NewRef(args[i]));
    PyErr_Format(PyExc_TypeError,
                 "%s: incompatible function arguments: coordinates are 32-bit integers and "
                 "palette indices 0 to 255, positional only; invoked with %R",
                 signature, given);
    Py_DECREF(given);
    return nullptr;
}

PyObject *pset(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    JXFramebuffer *fb = framebuffer_of(self);
    if (!fb) return nullptr;
    int x, y;
    std::uint8_t c;
    if (nargs != 3 || !load(args[0], x) || !load(args[1], y) || !load(args[2], c)) {
        return incompatible("pset(x, y, c)", args, nargs);
    }
    fb->pset(x, y, c);
    Py_RETURN_NONE;
}

PyObject *pget(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
    JXFramebuffer *fb = framebuffer_of(self);
    if (!fb) return nullptr;
    int x, y;
    if (nargs != 2 || !load(args[0], x) || !load(args[1], y)) {
        return incompatible("pget(x, y)", args, nargs);
    }
    return PyLong_FromLong(fb->pget(x, y));
}

// The first line of each doc is the signature that inspect.signature() reads.
PyMethodDef pset_method = {
    "pset", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&pset)), METH_FASTCALL,
    "pset($self, x, y, c, /)\n--\n\n"
    "Sets pixel (x, y) to palette index c; outside the picture it does nothing."};
PyMethodDef pget_method = {
    "pget", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&pget)), METH_FASTCALL,
    "pget($self, x, y, /)\n--\n\n"
    "The palette index at (x, y); 0 outside the picture."};

void add_method(py::handle cls, PyMethodDef *method) {
    PyObject *descriptor = PyDescr_NewMethod(reinterpret_cast<PyTypeObject *>(cls.ptr()), method);
    if (!descriptor) throw py::error_already_set();
    cls.attr(method->ml_name) = py::reinterpret_steal<py::object>(descriptor);
}

}  // namespace

PYBIND11_MODULE(jxframebuf, m) {
    m.doc() = "JXFramebuffer - 8-bit framebuffer with palette";

    py::class_<JXFramebuffer> framebuffer(m, "Framebuffer");
    framebuffer
        .def(py::init<int, int, int, int>(), py::arg("width"), py::arg("height"),
             py::arg("scale") = 3, py::arg("fps") = 60)
        .def("running", &JXFramebuffer::running)
        .def("flip", &JXFramebuffer::flip)
        .def("clear", &JXFramebuffer::clear, py::arg("color") = 0)
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

    framebuffer_type = py::detail::get_type_info(typeid(JXFramebuffer));
    add_method(framebuffer, &pset_method);
    add_method(framebuffer, &pget_method);
}
