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

// flip()'s frame delay runs without the interpreter lock, so that the program's other threads
// (network, sound, computation, a recording's writer) run meanwhile; presenting the frame keeps it.
struct Unlocked {
    PyThreadState *state = nullptr;
};

void sleeping(void *context, bool begins) {
    auto *unlocked = static_cast<Unlocked *>(context);
    if (begins) {
        unlocked->state = PyEval_SaveThread();
    } else {
        PyEval_RestoreThread(unlocked->state);
    }
}

// The delay asks this every few milliseconds and whenever a signal wakes it: Python's own signal
// handler only notes a Ctrl-C, and the KeyboardInterrupt is raised here, so that it ends the
// delay at once instead of waiting for the frame to run out (up to a second at fps=1). Checking
// takes the interpreter lock for the moment.
bool signal_raised(void *context) {
    auto *unlocked = static_cast<Unlocked *>(context);
    PyEval_RestoreThread(unlocked->state);
    const bool raised = PyErr_CheckSignals() != 0;
    unlocked->state = PyEval_SaveThread();
    return raised;
}

// Python handles signals on its main thread only: elsewhere there is nothing to check.
unsigned long main_thread_ident = 0;

// The frame, with the delay unlocked; a KeyboardInterrupt is left set (PyErr_Occurred).
void flip_unlocked(JXFramebuffer &fb) {
    Unlocked unlocked;
    const bool main = PyThread_get_thread_ident() == main_thread_ident;
    fb.flip(jxfb::Interrupt{main ? &signal_raised : nullptr, &sleeping, &unlocked});
}

void flip(JXFramebuffer &fb) {
    flip_unlocked(fb);
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

// The thread's name as Python knows it, for the message that refuses a call from the wrong thread.
std::string python_thread_name() {
    try {
        return py::str(py::module_::import("threading").attr("current_thread")().attr("name"));
    } catch (const py::error_already_set &) {
        return {};
    }
}

// The frame loop calls running() and flip() once a frame each: for an unmagnified picture that is
// drawn in microseconds, pybind11's dispatcher would be a tenth of the frame. Fast fronts for the
// call without arguments, as for pset and pget.
FastMethod fast_running, fast_flip;

PyObject *running_front(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                        PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    if (fb && nargs == 0 && !kwnames) {
        try {
            return PyBool_FromLong(fb->running());
        } catch (const std::exception &error) {  // the wrong thread
            PyErr_SetString(PyExc_RuntimeError, error.what());
            return nullptr;
        }
    }
    return slow_path(fast_running, self, args, nargs, kwnames);
}

PyObject *flip_front(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    if (fb && nargs == 0 && !kwnames) {
        try {
            flip_unlocked(*fb);
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

    // The main thread as the interpreter knows it, from the built-in _thread: importing threading
    // here would add its import to every program's start-up.
    py::module_ thread = py::module_::import("_thread");
    main_thread_ident = py::hasattr(thread, "_get_main_thread_ident")
                            ? thread.attr("_get_main_thread_ident")().cast<unsigned long>()
                            : py::module_::import("threading")
                                  .attr("main_thread")()
                                  .attr("ident")
                                  .cast<unsigned long>();
    jxfb::session::set_thread_namer(&python_thread_name);
    // A framebuffer dropped on another thread than its window's is released on that thread's next
    // call, or here; atexit runs before the interpreter tears down.
    py::module_::import("atexit").attr("register")(
        py::cpp_function([] { jxfb::session::release_at_exit(); }));

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
        .readonly("frames", &JXFramebuffer::frames)
        .readonly("frame_rate", &JXFramebuffer::frame_rate);
    register_input(framebuffer);
    register_key_names(m);
    members.property("title", &JXFramebuffer::title, &JXFramebuffer::set_title)
        .property("fullscreen", &JXFramebuffer::fullscreen,
                  [](JXFramebuffer &fb, Switch on) { fb.set_fullscreen(on); })
        .property("resizable", &JXFramebuffer::resizable,
                  [](JXFramebuffer &fb, Switch on) { fb.set_resizable(on); });
    // __exit__ is the package's (__init__.py), which finishes a recording as quit() does.
    framebuffer.def("__enter__", [](const py::object &self) {
        constructed(self.cast<JXFramebuffer *>());
        return self;
    });
    members.def("_on_flip", &on_flip, py::arg("callback"));
    refuse_pickling(framebuffer);

    install_fast(framebuffer, "running", &running_front, fast_running);
    install_fast(framebuffer, "flip", &flip_front, fast_flip);
    register_draw(framebuffer);
    register_font(m);
    register_canvas(m);
    register_audio(m);
    register_testing(m);
}
