// The Python face of the sound engine (src/platform/audio.h): the classes Audio and Voice.
//
// Samples come in as any object with the buffer protocol (NumPy arrays above all) and reach the
// engine as a pointer, a type and strides; the engine copies them before the call returns. The
// interpreter lock is let go while SDL may wait: opening and closing the device (a sound server
// may take a while to answer) and putting samples into a stream (the device's thread may be
// mixing it).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
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
        // (n, 1) or (n, 2) is a frame a row, converted to the Audio's channels by SDL; (n,) is
        // mono only where the Audio is: into stereo it may as well be interleaved frames.
        const bool flat = buffer_.view.ndim == 1;
        const bool rows =
            buffer_.view.ndim == 2 && (buffer_.view.shape[1] == 1 || buffer_.view.shape[1] == 2);
        if ((flat && channels != 1) || (!flat && !rows)) {
            std::string shape = "(";
            for (int i = 0; i < buffer_.view.ndim; ++i) {
                shape += (i ? ", " : "") + std::to_string(buffer_.view.shape[i]);
            }
            shape += buffer_.view.ndim == 1 ? ",)" : ")";
            throw py::value_error(
                std::string(method) + " expects samples shaped (n, 1) or (n, 2)" +
                (channels == 1 ? ", or (n,)," : "") + " for an Audio of " +
                std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
                "; got shape " + shape +
                (flat ? ": if they are interleaved stereo, pass samples.reshape(-1, 2); if "
                        "mono, samples.reshape(-1, 1)"
                      : ""));
        }
        block_.channels = flat ? 1 : static_cast<int>(buffer_.view.shape[1]);
        const int given = block_.channels;
        block_.frames = static_cast<std::size_t>(buffer_.view.shape[0]);
        // Exporters that leave strides out (ctypes does) are laid out in C order.
        block_.frame_stride =
            buffer_.view.strides ? buffer_.view.strides[0] : buffer_.view.itemsize * given;
        block_.channel_stride = buffer_.view.ndim == 2 && buffer_.view.strides
                                    ? buffer_.view.strides[1]
                                    : buffer_.view.itemsize;
    }
    Samples(const Samples &) = delete;
    Samples &operator=(const Samples &) = delete;

    const SampleBlock &block() const { return block_; }
    void set_rate(int rate) { block_.rate = rate; }

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

// The samples argument: any object, which Samples then takes or refuses with messages that say
// which dtypes and shapes it takes; the signature names the buffer protocol.
struct SampleArray : Kind {
    static constexpr char signature[] = "collections.abc.Buffer";
    py::object value;
    static SampleArray from(py::handle object, const Where &) {
        SampleArray samples;
        samples.value = py::reinterpret_borrow<py::object>(object);
        return samples;
    }
};

// A gain: any real number (int, float, NumPy floats); the engine refuses negative ones, NaN and
// infinity with ValueError.
struct Gain : Kind {
    static constexpr char signature[] = "float";
    float value;
    operator float() const { return value; }
    static Gain from(py::handle object, const Where &where) {
        const double value = PyFloat_AsDouble(object.ptr());
        if (value == -1.0 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::error_already_set();
            PyErr_Clear();
            throw py::type_error(where.text() + " must be a number, 0.0 or more, not " +
                                 Py_TYPE(object.ptr())->tp_name);
        }
        // A gain beyond a 32-bit float's range would be infinity, and refused as that.
        if (std::isfinite(value) && std::fabs(value) > FLT_MAX) {
            char text[80];
            std::snprintf(text, sizeof text, " must be at most %g (a 32-bit float), not %g",
                          static_cast<double>(FLT_MAX), value);
            throw py::value_error(where.text() + text);
        }
        Gain gain;
        gain.value = static_cast<float>(value);
        return gain;
    }
};

// A sample rate in frames a second, or None for the Audio's own (0 to the engine).
struct SampleRate : Kind {
    static constexpr char signature[] = "typing.SupportsIndex | None";
    int value = 0;
    static SampleRate from(py::handle object, const Where &where) {
        SampleRate rate;
        if (!object.is_none()) {
            rate.value = static_cast<int>(
                to_integer(object, INT32_MIN, INT32_MAX, "a rate in frames a second, or None",
                           where));  // the engine refuses one out of range with ValueError
        }
        return rate;
    }
};

// Asked by the engine while it waits for the sound server (with the interpreter lock let go):
// true once a signal handler raised, KeyboardInterrupt above all, whose error is then pending
// on this thread for the call to return.
bool python_interrupted() {
    // An Audio collected while the interpreter shuts down may still wait here (slowly on an
    // emulated machine); taking the lock then would make a thread state during finalization.
    if (Py_IsFinalizing()) return false;
    py::gil_scoped_acquire locked;
    return PyErr_CheckSignals() != 0;
}

}  // namespace

void register_audio(py::module_ &m) {
    set_interrupt_check(&python_interrupted);
    py::register_exception_translator([](std::exception_ptr error) {
        try {
            if (error) std::rethrow_exception(error);
        } catch (const Interrupted &) {
            // The error that interrupted the wait is pending already.
            if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        }
    });

    py::class_<Voice, std::shared_ptr<Voice>> voice(m, "Voice");
    Members(voice)
        .readonly("playing", &Voice::playing)
        .def("stop", &Voice::stop)
        // Feeding a streamed file (the package's _sound.py).
        .def(
            "_feed",
            [](Voice &voice, const SampleArray &samples, int channels) {
                const Samples held(samples.value, channels, "_feed()");
                py::gil_scoped_release unlocked;
                return voice.feed(held.block());
            },
            py::arg("samples"), py::arg("channels"))
        .def("_finish", &Voice::finish)
        .readonly("_buffered", &Voice::buffered);
    refuse_pickling(voice);

    // rate and channels are converted as integers (floats refused with TypeError); the engine
    // refuses values out of range with ValueError.
    py::class_<Audio> audio(m, "Audio");
    Members(audio)
        .init(
            [](int rate, int channels) {
                py::gil_scoped_release unlocked;  // a sound server may take a while to answer
                return std::make_unique<Audio>(rate, channels);
            },
            py::arg("rate") = 48000, py::arg("channels") = 2)
        .def(
            "queue",
            [](Audio &audio, const SampleArray &samples, SampleRate rate) {
                Samples held(samples.value, audio.channels(), "queue()");
                held.set_rate(rate.value);
                py::gil_scoped_release unlocked;
                audio.queue(held.block());
            },
            py::arg("samples"), py::kw_only(), py::arg("rate") = py::none())
        .readonly("queued", &Audio::queued)
        .def("clear", &Audio::clear)
        .def(
            "play",
            [](Audio &audio, const SampleArray &samples, Switch loop, Gain volume,
               SampleRate rate) {
                Samples held(samples.value, audio.channels(), "play()");
                held.set_rate(rate.value);
                py::gil_scoped_release unlocked;
                return audio.play(held.block(), loop, volume);
            },
            py::arg("samples"), py::arg("loop") = false, py::arg("volume") = 1.0f, py::kw_only(),
            py::arg("rate") = py::none())
        .def(
            "_stream",
            [](Audio &audio, int channels, SampleRate rate, Gain volume) {
                return audio.stream(channels, rate.value, volume);
            },
            py::arg("channels"), py::arg("rate"), py::arg("volume"))
        .def(
            "_fail", [](Audio &audio, const std::string &message) { audio.fail(message); },
            py::arg("message"))
        .property("volume", &Audio::volume,
                  [](Audio &audio, Gain volume) { audio.set_volume(volume); })
        .property("paused", &Audio::paused,
                  [](Audio &audio, Switch paused) { audio.set_paused(paused); })
        .readonly("rate", &Audio::rate)
        .readonly("channels", &Audio::channels)
        .readonly("_bound_voices", &Audio::bound_voices)  // for the tests: what sweeping leaves
        .def("close",
             [](Audio &audio) {
                 py::gil_scoped_release unlocked;  // waits for the device's thread to end
                 audio.close(true);
             })
        .def(
            "__enter__",
            [](Audio &audio) {
                audio.rate();  // refuses a closed one
                return &audio;
            },
            py::return_value_policy::reference)
        .def(
            "__exit__",
            [](Audio &audio, const py::object &, const py::object &, const py::object &) {
                py::gil_scoped_release unlocked;
                audio.close(true);
            },
            py::arg("exc_type"), py::arg("exc_value"), py::arg("traceback"), py::pos_only());
    refuse_pickling(audio);

    // WAV files through SDL's own loader (the package's load_sound): (samples, rate).
    m.def(
        "_load_wav",
        [](const std::string &path) {
            auto sound = std::make_unique<LoadedSound>();
            {
                py::gil_scoped_release unlocked;
                *sound = load_wav(path.c_str());
            }
            const int channels = sound->channels;
            const int rate = sound->rate;
            const auto frames = static_cast<py::ssize_t>(sound->samples.size()) / channels;
            float *data = sound->samples.data();
            // The array keeps the samples themselves: no second copy of a long file.
            py::capsule owner(sound.release(),
                              [](void *p) { delete static_cast<LoadedSound *>(p); });
            py::array_t<float> samples({frames, static_cast<py::ssize_t>(channels)}, data, owner);
            return py::make_tuple(samples, rate);
        },
        py::arg("path"));
}

}  // namespace jxfb
