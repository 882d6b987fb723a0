// The Python face of JXFramebuffer: the module `jxframebuf` and its class `Framebuffer` (the
// drawing kit, and the class Canvas that shares it, are in register_draw.cpp).
// Arguments are converted as binding.h describes; exception translation is pybind11's own:
// std::runtime_error becomes RuntimeError, std::invalid_argument and std::length_error ValueError,
// std::bad_alloc MemoryError.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "binding.h"

using namespace jxfb;

namespace {

// A writeable array over memory that the framebuffer owns. Its base is the Python object that
// wraps `fb`, so the framebuffer (and its window) lives as long as any view of it.
template <typename T>
py::array_t<T> view(JXFramebuffer &fb, T *data, std::vector<py::ssize_t> shape,
                    std::vector<py::ssize_t> strides) {
    py::object base = py::cast(&fb, py::return_value_policy::reference);
    return py::array_t<T>(std::move(shape), std::move(strides), data, base);
}

// flip()'s frame delay asks this every few milliseconds: Python's own signal handler only notes a
// Ctrl-C, and the KeyboardInterrupt is raised here, so that it ends the delay at once instead of
// waiting for the frame to run out (up to a second at fps=1).
bool signal_raised(void *) {
    return PyErr_CheckSignals() != 0;
}

// While a recording runs (a frame hook is set), its encoder is a Python thread, which needs the
// interpreter lock: the frame delay lets go of it then, taking it back only to look for signals.
struct Released {
    PyThreadState *state = nullptr;
};

bool signal_raised_released(void *context) {
    auto &released = *static_cast<Released *>(context);
    PyEval_RestoreThread(released.state);
    const bool raised = signal_raised(nullptr);
    released.state = PyEval_SaveThread();
    return raised;
}

void sleeping(void *context, bool asleep) {
    auto &released = *static_cast<Released *>(context);
    if (asleep) {
        released.state = PyEval_SaveThread();
    } else {
        PyEval_RestoreThread(released.state);
    }
}

void flip_frame(JXFramebuffer &fb) {
    if (!fb.has_frame_hook()) {
        fb.flip(jxfb::Interrupt{&signal_raised, nullptr});
        return;
    }
    Released released;
    fb.flip(jxfb::Interrupt{&signal_raised_released, &released, &sleeping});
}

void flip(JXFramebuffer &fb) {
    flip_frame(fb);
    if (PyErr_Occurred()) throw py::error_already_set();
}

// The frame hook of a recording: `callback(pixels, palette)` with copies of the picture and the
// palette that flip() has just shown (copies, so that the recording holds no view of the
// framebuffer and keeps nothing alive). None removes it.
void on_flip(JXFramebuffer &fb, const py::object &callback) {
    if (callback.is_none()) {
        fb.set_frame_hook({});
        return;
    }
    fb.set_frame_hook([&fb, callback] {
        const py::ssize_t w = fb.width(), h = fb.height();
        py::array_t<std::uint8_t> pixels({h, w});
        std::memcpy(pixels.mutable_data(), fb.pixel_data(), static_cast<std::size_t>(w * h));
        py::array_t<std::uint32_t> palette(256);
        std::memcpy(palette.mutable_data(), fb.palette_data(), 256 * sizeof(std::uint32_t));
        callback(pixels, palette);
    });
}

// The frame loop calls running() and flip() once a frame each: for an unmagnified picture that is
// drawn in microseconds, pybind11's dispatcher would be a tenth of the frame. Fast fronts for the
// call without arguments, as for pset and pget.
FastMethod fast_running, fast_flip;

PyObject *running_front(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                        PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    if (fb && nargs == 0 && !kwnames) return PyBool_FromLong(fb->running());
    return slow_path(fast_running, self, args, nargs, kwnames);
}

PyObject *flip_front(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    if (fb && nargs == 0 && !kwnames) {
        try {
            flip_frame(*fb);
        } catch (py::error_already_set &error) {  // from a recording's frame hook
            error.restore();
            return nullptr;
        } catch (const std::bad_alloc &) {
            return PyErr_NoMemory();
        } catch (const std::exception &error) {
            PyErr_SetString(PyExc_RuntimeError, error.what());
            return nullptr;
        }
        if (PyErr_Occurred()) return nullptr;  // a signal handler raised (KeyboardInterrupt)
        Py_RETURN_NONE;
    }
    return slow_path(fast_flip, self, args, nargs, kwnames);
}

}  // namespace

PYBIND11_MODULE(_jxframebuf, m) {
    m.doc() = "JXFramebuffer - 8-bit framebuffer with palette";
    m.attr("__version__") = JXFB_VERSION;  // the package's version, from the build (CMakeLists.txt)

    guard_base_class();
    FramebufferClass framebuffer(m, "Framebuffer");
    Members members(framebuffer);
    members
        .init([](int width, int height, int scale,
                 int fps) { return std::make_unique<JXFramebuffer>(width, height, scale, fps); },
              py::arg("width"), py::arg("height"), py::arg("scale") = 3, py::arg("fps") = 60)
        .def("running", &JXFramebuffer::running)
        .def("flip", &flip);
    register_pixels(framebuffer);
    members
        .def("buffer",
             [](JXFramebuffer &fb) {
                 const py::ssize_t w = fb.width(), h = fb.height();
                 return view<std::uint8_t>(fb, fb.pixel_data(), {h, w}, {w, 1});
             })
        .def("palette",
             [](JXFramebuffer &fb) {
                 return view<std::uint32_t>(fb, fb.palette_data(), {256}, {sizeof(std::uint32_t)});
             })
        .def("quit", &JXFramebuffer::quit)
        .readonly("width", &JXFramebuffer::width)
        .readonly("height", &JXFramebuffer::height)
        .def("key", &JXFramebuffer::key, py::arg("name"))
        .def("pressed", &JXFramebuffer::pressed, py::arg("name"))
        .def("mouse", &JXFramebuffer::mouse)
        .property("title", &JXFramebuffer::title, &JXFramebuffer::set_title)
        .property("fullscreen", &JXFramebuffer::fullscreen,
                  [](JXFramebuffer &fb, Switch on) { fb.set_fullscreen(on); });
    framebuffer
        .def("__enter__",
             [](const py::object &self) {
                 constructed(self.cast<JXFramebuffer *>());
                 return self;
             })
        .def(
            "__exit__",
            [](JXFramebuffer *self, const py::object &, const py::object &, const py::object &) {
                constructed(self).quit();
            },
            py::arg("exc_type"), py::arg("exc_value"), py::arg("traceback"), py::pos_only());
    members.def("_on_flip", &on_flip, py::arg("callback"));
    refuse_pickling(framebuffer);

    install_fast(framebuffer, "running", &running_front, fast_running);
    install_fast(framebuffer, "flip", &flip_front, fast_flip);
    register_draw(framebuffer);
    register_canvas(m);
}
