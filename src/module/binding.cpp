// Argument conversion and the lifecycle guards that every bound class shares (see binding.h).
#include "binding.h"

#include <cstring>
#include <stdexcept>

namespace jxfb {

namespace {

std::string type_name(PyObject *object) {
    return Py_TYPE(object)->tp_name;
}

bool numpy_bool(PyObject *object) {
    const char *name = Py_TYPE(object)->tp_name;
    return std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0;
}

std::string refusal(const Where &where, const char *what, const std::string &got) {
    return where.text() + " must be " + what + ", not " + got;
}

std::string class_name(const py::detail::type_info *type) {
    return py::str(py::handle(reinterpret_cast<PyObject *>(type->type)).attr("__name__"));
}

}  // namespace

std::string Where::text() const {
    if (context.setter) return context.function;
    const std::string name =
        index < context.names.size() ? context.names[index] : std::to_string(index + 1);
    return context.function + " argument " + name;
}

long long to_integer(py::handle object, long long lo, long long hi, const char *what,
                     const Where &where, const char *hint) {
    PyObject *o = object.ptr();
    long long value = 0;
    if (numpy_bool(o)) {  // as a Python bool is; NumPy gives it no __index__
        const int truth = PyObject_IsTrue(o);
        if (truth < 0) throw py::error_already_set();
        value = truth;
    } else {
        // A real number that is not an integer (float, NumPy floats, Decimal, Fraction, a 0-d
        // float array) has __float__: its refusal says how to make it one.
        const PyNumberMethods *number = Py_TYPE(o)->tp_as_number;
        const std::string got =
            type_name(o) + (number != nullptr && number->nb_float != nullptr ? hint : "");
        if (!PyIndex_Check(o)) throw py::type_error(refusal(where, what, got));
        auto index = py::reinterpret_steal<py::object>(PyNumber_Index(o));
        if (!index) {
            // An __index__ that refuses (a 0-d float array's does) or returns no int: the same
            // refusal as for any other non-integer, caused by it. Anything else it raised is the
            // caller's own exception and comes through as it is.
            if (PyErr_ExceptionMatches(PyExc_TypeError)) {
                py::raise_from(PyExc_TypeError, refusal(where, what, got).c_str());
            }
            throw py::error_already_set();
        }
        int overflow = 0;
        value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
        if (overflow != 0) throw py::type_error(refusal(where, what, py::repr(index)));
    }
    if (value < lo || value > hi) {
        throw py::type_error(refusal(where, what, std::to_string(value)));
    }
    return value;
}

Utf8 Utf8::from(py::handle object, const Where &where) {
    if (!PyUnicode_Check(object.ptr())) {
        throw py::type_error(refusal(where, "a str", type_name(object.ptr())));
    }
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(object.ptr(), &size);
    if (data == nullptr) throw py::error_already_set();  // UnicodeEncodeError: a lone surrogate
    Utf8 text;
    text.value.assign(data, static_cast<std::size_t>(size));
    return text;
}

Switch Switch::from(py::handle object, const Where &where) {
    Switch on;
    on.value = to_integer(object, 0, 1, "True or False", where, "") != 0;
    return on;
}

Str Str::from(py::handle object, const Where &where) {
    if (!PyUnicode_Check(object.ptr())) {
        throw py::type_error(refusal(where, "a str", type_name(object.ptr())));
    }
    Str text;
    text.value = py::reinterpret_borrow<py::str>(object);
    return text;
}

BufferArg BufferArg::from(py::handle object, const Where &where) {
    PyObject *o = object.ptr();
    if (!PyObject_CheckBuffer(o)) {
        const bool nested = PyList_Check(o) || PyTuple_Check(o);
        throw py::type_error(refusal(where, "a 2-D array of uint8 (or another buffer)",
                                     type_name(o) + (nested ? ": np.array(rows, np.uint8) makes "
                                                              "one of a list of rows"
                                                            : "")));
    }
    BufferArg buffer;
    buffer.value = py::reinterpret_borrow<py::buffer>(object);
    return buffer;
}

void not_constructed(const py::detail::type_info *type) {
    throw py::type_error(class_name(type) + ".__init__() has not been called on this object");
}

PyObject *already_constructed(const py::detail::type_info *type) {
    try {
        const std::string name = class_name(type);
        PyErr_Format(PyExc_TypeError,
                     "%s.__init__() has already been called on this object: make a new one",
                     name.c_str());
    } catch (py::error_already_set &error) {
        error.restore();
    }
    return nullptr;
}

void refuse_pickling(py::handle cls) {
    // pickle and copy ask __reduce_ex__ first; __reduce__ is what is left to call by hand. Without
    // them, protocols 0 and 1 go through copyreg, which calls the common base class.
    const auto refuse = [](py::handle self) {
        throw py::type_error("cannot pickle '" +
                             std::string(py::str(py::type::handle_of(self).attr("__name__"))) +
                             "' object");
    };
    cls.attr("__reduce_ex__") =
        py::cpp_function([refuse](py::handle self, py::handle) { refuse(self); },
                         py::is_method(cls), py::name("__reduce_ex__"), py::arg("protocol"));
    cls.attr("__reduce__") = py::cpp_function([refuse](py::handle self) { refuse(self); },
                                              py::is_method(cls), py::name("__reduce__"));
}

namespace {

ternaryfunc metaclass_call = nullptr;
newfunc base_new = nullptr;

// TypeError for a class that wraps no C++ type: pybind11 would fail to make its instance with an
// exception that nothing catches (std::terminate). False with the error set.
bool wraps_a_type(PyObject *type) {
    try {
        if (py::detail::all_type_info(reinterpret_cast<PyTypeObject *>(type)).empty()) {
            PyErr_Format(PyExc_TypeError, "cannot create '%s' instances",
                         reinterpret_cast<PyTypeObject *>(type)->tp_name);
            return false;
        }
    } catch (py::error_already_set &error) {
        error.restore();
        return false;
    } catch (const std::exception &error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        return false;
    }
    return true;
}

// Calling a class: Framebuffer(...), base(), Bare().
PyObject *guarded_call(PyObject *type, PyObject *args, PyObject *kwargs) {
    return wraps_a_type(type) ? metaclass_call(type, args, kwargs) : nullptr;
}

// Its __new__, called by itself: base.__new__(base), Bare.__new__(Bare). Classes made after the
// guard inherit it; those that wrap a C++ type go on to pybind11's.
PyObject *guarded_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    return wraps_a_type(reinterpret_cast<PyObject *>(type)) ? base_new(type, args, kwargs)
                                                            : nullptr;
}

}  // namespace

void guard_base_class() {
    py::detail::internals &internals = py::detail::get_internals();
    PyTypeObject *metaclass = internals.default_metaclass;
    if (metaclass->tp_call != &guarded_call) {
        metaclass_call = metaclass->tp_call;
        metaclass->tp_call = &guarded_call;
    }
    auto *base = reinterpret_cast<PyTypeObject *>(internals.instance_base);
    if (base->tp_new != &guarded_new) {
        base_new = base->tp_new;
        base->tp_new = &guarded_new;  // its __new__ calls the slot as it is at the time
    }
}

}  // namespace jxfb
