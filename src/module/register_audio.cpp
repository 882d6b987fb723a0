// The Python face of the sound engine (src/platform/audio.h): the classes Audio and Voice.
//
// Samples come in as any object with the buffer protocol (NumPy arrays above all) and reach the
// engine as a pointer, a type and strides; the engine copies them before the call returns. The
// interpreter lock is let go while SDL may wait: opening and closing the device (a sound server
// may take a while to answer) and putting samples into a stream (the device's thread may be
// mixing it).
#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "audio.h"
#include "binding.h"

namespace jxfb {

namespace {

// A buffer held from an exporter, released however the holder goes (a refusal thrown from the
// constructor of Samples included).
struct HeldBuffer {
    Py_buffer view{};
    bool held = false;
    ~HeldBuffer() {
        if (held) PyBuffer_Release(&view);
    }
};

// One call's hold on the caller's samples.
class Samples {
public:
    Samples(const py::handle &object, int channels, const char *method) {
        if (PyObject_GetBuffer(object.ptr(), &buffer_.view, PyBUF_RECORDS_RO) != 0) {
            PyErr_Clear();
            throw py::type_error(std::string(method) +
                                 " expects a NumPy array (or another buffer) of float32, float64 "
                                 "or int16 samples; got " +
                                 Py_TYPE(object.ptr())->tp_name);
        }
        buffer_.held = true;
        block_.data = buffer_.view.buf;
        block_.type = type(method);
        // (n,) is mono; (n, channels) is a frame a row.
        const bool flat = buffer_.view.ndim == 1 && channels == 1;
        if (!flat && !(buffer_.view.ndim == 2 && buffer_.view.shape[1] == channels)) {
            std::string shape = "(";
            for (int i = 0; i < buffer_.view.ndim; ++i) {
                shape += (i ? ", " : "") + std::to_string(buffer_.view.shape[i]);
            }
            shape += buffer_.view.ndim == 1 ? ",)" : ")";
            throw py::value_error(std::string(method) + " expects samples shaped " +
                                  (channels == 1 ? "(n,) or (n, 1)" : "(n, 2)") + " for " +
                                  std::to_string(channels) + " channel" +
                                  (channels == 1 ? "" : "s") + "; got shape " + shape);
        }
        block_.frames = static_cast<std::size_t>(buffer_.view.shape[0]);
        // Exporters that leave strides out (ctypes does) are laid out in C order.
        block_.frame_stride =
            buffer_.view.strides ? buffer_.view.strides[0] : buffer_.view.itemsize * channels;
        block_.channel_stride = buffer_.view.ndim == 2 && buffer_.view.strides
                                    ? buffer_.view.strides[1]
                                    : buffer_.view.itemsize;
    }
    Samples(const Samples &) = delete;
    Samples &operator=(const Samples &) = delete;

    const SampleBlock &block() const { return block_; }

private:
    SampleType type(const char *method) const {
        const char *format = buffer_.view.format ? buffer_.view.format : "B";
        // Native or little-endian (this machine's order) standard sizes only.
        if (*format == '@' || *format == '=' || *format == '<') ++format;
        const std::string code = format;
        if (code == "h" && buffer_.view.itemsize == 2) return SampleType::Int16;
        if (code == "f" && buffer_.view.itemsize == 4) return SampleType::Float32;
        if (code == "d" && buffer_.view.itemsize == 8) return SampleType::Float64;
        throw py::type_error(std::string(method) +
                             " expects samples of float32, float64 or int16; got buffer format '" +
                             (buffer_.view.format ? buffer_.view.format : "B") + "' with " +
                             std::to_string(buffer_.view.itemsize) + "-byte items");
    }

    HeldBuffer buffer_;
    SampleBlock block_;
};

// A switch: 0, None or "yes" are more likely slips than meant.
bool switch_value(const py::handle &on, const char *name) {
    if (PyBool_Check(on.ptr())) return on.ptr() == Py_True;
    const std::string type = Py_TYPE(on.ptr())->tp_name;
    if (type == "numpy.bool" || type == "numpy.bool_") return PyObject_IsTrue(on.ptr()) == 1;
    throw py::type_error(std::string(name) + " must be True or False, not " + type);
}

}  // namespace

// An object whose __init__ never ran (made by Audio.__new__ or Voice.__new__) reaches a method
// as memory pybind11 allocated but nothing constructed; a constructed one is registered with
// pybind11 under its address.
template <typename T>
T &made(T *object, const char *cls) {
    static const py::detail::type_info *type = py::detail::get_type_info(typeid(T));
    if (object == nullptr || !py::detail::get_object_handle(object, type)) {
        throw py::type_error(std::string(cls) + " object was not made by its constructor");
    }
    return *object;
}

template <typename R, typename... Args>
auto on_audio(R (Audio::*method)(Args...)) {
    return [method](Audio *audio, Args... args) -> R {
        return (made(audio, "Audio").*method)(args...);
    };
}

void register_audio(py::module_ &m) {
    py::class_<Voice, std::shared_ptr<Voice>>(m, "Voice")
        .def_property_readonly("playing",
                               [](Voice *voice) { return made(voice, "Voice").playing(); })
        .def("stop", [](Voice *voice) { made(voice, "Voice").stop(); });

    py::class_<Audio>(m, "Audio")
        .def(py::init([](int rate, int channels) {
                 py::gil_scoped_release unlocked;
                 return std::make_unique<Audio>(rate, channels);
             }),
             py::arg("rate") = 48000, py::arg("channels") = 2)
        .def(
            "queue",
            [](Audio *self, const py::object &samples) {
                Audio &audio = made(self, "Audio");
                const Samples held(samples, audio.channels(), "queue()");
                py::gil_scoped_release unlocked;
                audio.queue(held.block());
            },
            py::arg("samples"))
        .def_property_readonly("queued", on_audio(&Audio::queued))
        .def("clear", on_audio(&Audio::clear))
        .def(
            "play",
            [](Audio *self, const py::object &samples, bool loop, float volume) {
                Audio &audio = made(self, "Audio");
                const Samples held(samples, audio.channels(), "play()");
                py::gil_scoped_release unlocked;
                return audio.play(held.block(), loop, volume);
            },
            py::arg("samples"), py::arg("loop") = false, py::arg("volume") = 1.0f)
        .def_property("volume", on_audio(&Audio::volume), on_audio(&Audio::set_volume))
        .def_property("paused", on_audio(&Audio::paused),
                      [](Audio *self, const py::object &on) {
                          made(self, "Audio").set_paused(switch_value(on, "paused"));
                      })
        .def_property_readonly("rate", on_audio(&Audio::rate))
        .def_property_readonly("channels", on_audio(&Audio::channels))
        .def("close",
             [](Audio *self) {
                 Audio &audio = made(self, "Audio");
                 py::gil_scoped_release unlocked;
                 audio.close();
             })
        .def("__enter__",
             [](const py::object &self) {
                 made(self.cast<Audio *>(), "Audio").rate();  // refuses a closed one
                 return self;
             })
        .def("__exit__", [](const py::object &self, const py::object &, const py::object &,
                            const py::object &) { self.attr("close")(); });
}

}  // namespace jxfb
