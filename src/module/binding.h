// What the pieces of the binding share: the check that a method's `self` was constructed, the
// wrapper that binds an engine member behind that check, and the fast METH_FASTCALL fronts that
// the per-pixel methods get.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "framebuffer.h"

namespace jxfb {

namespace py = pybind11;

using FramebufferClass = py::class_<JXFramebuffer>;

// pybind11 hands a method an instance whose __init__ never ran (made by Framebuffer.__new__, or
// by a subclass that skipped super().__init__()) with no JXFramebuffer in it; using that crashes.
// Throws TypeError for such an object (or None); returns the framebuffer otherwise.
JXFramebuffer &constructed(JXFramebuffer *fb);

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

// The framebuffer in a Python `self` if its __init__ has run, else nullptr (no error set).
JXFramebuffer *initialised(PyObject *self);

// A METH_FASTCALL front for a method that Python code calls in tight loops. It handles the common
// case itself and hands every other call (`slow_path`) to the method pybind11 bound under the same
// name, which converts, accepts and refuses exactly as before, with its own error text.
struct FastMethod {
    PyMethodDef def{};
    PyObject *bound = nullptr;  // pybind11's function, kept for the rest of the process
    std::string doc;            // pybind11's generated signature, the method's only documentation
};

// Puts `impl` in place of the method pybind11 registered under `name` on `cls`; the class
// dictionary keeps its order, since the key is already there.
void install_fast(py::handle cls, const char *name, PyCFunctionFastWithKeywords impl,
                  FastMethod &method);

PyObject *slow_path(const FastMethod &method, PyObject *self, PyObject *const *args,
                    Py_ssize_t nargs, PyObject *kwnames);

// `arg` as a C long in [lo, hi] if it is exactly a Python int in that range. Anything else
// (a subclass, an out-of-range or overflowing value) is left to the slow path.
bool plain_int(PyObject *arg, long lo, long hi, long &out);

constexpr long kIntMin = INT32_MIN, kIntMax = INT32_MAX;

// Parses `n` positional plain ints for a fast front: all but the last must fit 32 bits; the last
// must fit 32 bits, or 0..255 when `last_is_index`. False (nothing raised) if any does not.
bool plain_ints(PyObject *const *args, Py_ssize_t n, bool last_is_index, long *out);

// Adds the drawing kit's members (line, rect, circle, blit, text) to the class; called after
// the other members are defined.
void register_draw(FramebufferClass &cls);

// Adds the classes Audio and Voice (sound; src/platform/audio.h) to the module.
void register_audio(py::module_ &m);

}  // namespace jxfb
