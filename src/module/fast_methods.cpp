// The METH_FASTCALL fronts' shared machinery (see binding.h).
#include <vector>

#include "binding.h"

namespace jxfb {

bool plain_int(PyObject *arg, long lo, long hi, long &out) {
    if (!PyLong_CheckExact(arg)) return false;
    int overflow = 0;
    out = PyLong_AsLongAndOverflow(arg, &overflow);
    return overflow == 0 && out >= lo && out <= hi;  // -1 with an error set is out of range too
}

bool plain_ints(PyObject *const *args, Py_ssize_t n, bool last_is_index, long *out) {
    for (Py_ssize_t i = 0; i < n; ++i) {
        const bool index = last_is_index && i == n - 1;
        if (!plain_int(args[i], index ? 0 : kIntMin, index ? 255 : kIntMax, out[i])) return false;
    }
    return true;
}

PyObject *slow_path(const FastMethod &method, PyObject *self, PyObject *const *args,
                    Py_ssize_t nargs, PyObject *kwnames) {
    PyErr_Clear();  // from a failed PyLong_AsLongAndOverflow
    std::vector<PyObject *> call{self};
    call.insert(call.end(), args, args + nargs + (kwnames ? PyTuple_GET_SIZE(kwnames) : 0));
    return PyObject_Vectorcall(method.bound, call.data(), static_cast<size_t>(nargs) + 1, kwnames);
}

void install_fast(py::handle cls, const char *name, PyCFunctionFastWithKeywords impl,
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

}  // namespace jxfb
