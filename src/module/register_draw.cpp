// The drawing kit's members of Framebuffer: line, rect, circle, blit and text (engine: draw.h).
//
// Each is bound through Members (binding.h), which converts and refuses arguments exactly as it
// does for pset, and then gets a METH_FASTCALL front: a short primitive costs little more than the
// call, and pybind11's dispatcher would be most of that. The fronts handle initialised framebuffers
// called with plain ints (and a bool `fill`, a str, a uint8 buffer) and hand everything else to
// the bound method.
#include <new>
#include <string>

#include "binding.h"

namespace jxfb {

namespace {

FastMethod fast_line, fast_rect, fast_circle, fast_blit, fast_text;

constexpr const char *kImageExpected = "blit() expects a 2-D array of uint8 (buffer format 'B')";

// One blit's hold on the source's buffer (any strides, negative ones too). Exporters fill in less
// than they are asked for at times: ctypes gives no strides (a C-contiguous array), and one that
// gives no shape or indirect rows (suboffsets) is refused rather than read.
class Source {
public:
    enum Fault { kNone, kNoBuffer, kDimensions, kFormat, kLayout };

    // Leaves a Python error set when the object has no buffer (kNoBuffer).
    explicit Source(PyObject *object) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_RECORDS_RO) != 0) {
            fault_ = kNoBuffer;
            return;
        }
        held_ = true;
        if (view_.ndim != 2) {
            fault_ = kDimensions;
        } else if (!unsigned_bytes()) {
            fault_ = kFormat;
        } else if (view_.shape == nullptr || view_.shape[0] < 0 || view_.shape[1] < 0 ||
                   view_.suboffsets != nullptr) {
            fault_ = kLayout;
        }
    }
    ~Source() {
        if (held_) PyBuffer_Release(&view_);
    }
    Source(const Source &) = delete;
    Source &operator=(const Source &) = delete;

    Fault fault() const { return fault_; }

    // Throws the exception for the fault, if any.
    void check() const {
        switch (fault_) {
            case kNone:
                return;
            case kNoBuffer:
                throw py::error_already_set();
            case kDimensions:
                throw py::value_error(std::string(kImageExpected) + "; got " +
                                      std::to_string(view_.ndim) + " dimension" +
                                      (view_.ndim == 1 ? "" : "s"));
            case kFormat:
                throw py::type_error(std::string(kImageExpected) + "; got format '" +
                                     (view_.format ? view_.format : "B") + "' with " +
                                     std::to_string(view_.itemsize) + "-byte items");
            case kLayout:
                throw py::type_error(std::string(kImageExpected) +
                                     "; got a buffer without a shape, or with indirect rows");
        }
    }

    draw::Image image() const {
        const Py_ssize_t *shape = view_.shape;
        if (view_.strides == nullptr) {  // C-contiguous
            return {static_cast<const std::uint8_t *>(view_.buf), shape[1], shape[0], shape[1], 1};
        }
        return {static_cast<const std::uint8_t *>(view_.buf), shape[1], shape[0], view_.strides[0],
                view_.strides[1]};
    }

private:
    bool unsigned_bytes() const {
        if (view_.itemsize != 1) return false;
        const char *format = view_.format;
        if (format == nullptr) return true;  // the buffer protocol's default: unsigned bytes
        if (*format == '@' || *format == '=' || *format == '<' || *format == '>' ||
            *format == '!') {
            ++format;
        }
        return format[0] == 'B' && format[1] == '\0';
    }

    Py_buffer view_{};
    bool held_ = false;
    Fault fault_ = kNone;
};

// The string's code points in the width they are stored in.
std::int64_t draw_string(JXFramebuffer &fb, int x, int y, PyObject *s, std::uint8_t c) {
    const void *data = PyUnicode_DATA(s);
    const auto count = static_cast<std::size_t>(PyUnicode_GET_LENGTH(s));
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND:
            return fb.text(x, y, static_cast<const std::uint8_t *>(data), count, c);
        case PyUnicode_2BYTE_KIND:
            return fb.text(x, y, static_cast<const std::uint16_t *>(data), count, c);
        default:
            return fb.text(x, y, static_cast<const std::uint32_t *>(data), count, c);
    }
}

// `fill` in a fast call of a method with n leading ints: absent (true), the next positional
// argument, or the one keyword "fill"; it must be True or False itself. False for any other call.
bool fast_flag(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, Py_ssize_t n,
               const char *name, bool absent, bool &value) {
    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nargs + keywords == n) {
        value = absent;
        return true;
    }
    if (nargs + keywords != n + 1 || nargs < n) return false;
    if (keywords == 1 && !PyUnicode_EqualToUTF8(PyTuple_GET_ITEM(kwnames, 0), name)) return false;
    if (args[n] != Py_True && args[n] != Py_False) return false;
    value = args[n] == Py_True;
    return true;
}

PyObject *line(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    long a[5];
    if (fb && nargs == 5 && !kwnames && plain_ints(args, 5, true, a)) {
        fb->line(static_cast<int>(a[0]), static_cast<int>(a[1]), static_cast<int>(a[2]),
                 static_cast<int>(a[3]), static_cast<std::uint8_t>(a[4]));
        Py_RETURN_NONE;
    }
    return slow_path(fast_line, self, args, nargs, kwnames);
}

PyObject *rect(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    long a[5];
    bool fill = true;
    if (fb && nargs >= 5 && fast_flag(args, nargs, kwnames, 5, "fill", true, fill) &&
        plain_ints(args, 5, true, a)) {
        fb->rect(static_cast<int>(a[0]), static_cast<int>(a[1]), static_cast<int>(a[2]),
                 static_cast<int>(a[3]), static_cast<std::uint8_t>(a[4]), fill);
        Py_RETURN_NONE;
    }
    return slow_path(fast_rect, self, args, nargs, kwnames);
}

PyObject *circle(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    long a[4];
    bool fill = true;
    if (fb && nargs >= 4 && fast_flag(args, nargs, kwnames, 4, "fill", true, fill) &&
        plain_ints(args, 4, true, a)) {
        fb->circle(static_cast<int>(a[0]), static_cast<int>(a[1]), static_cast<int>(a[2]),
                   static_cast<std::uint8_t>(a[3]), fill);
        Py_RETURN_NONE;
    }
    return slow_path(fast_circle, self, args, nargs, kwnames);
}

PyObject *blit(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    long a[2], key = -1;
    const bool plain =
        fb && nargs >= 3 &&
        (nargs + keywords == 3 ||
         (nargs + keywords == 4 &&
          (keywords == 0 || PyUnicode_EqualToUTF8(PyTuple_GET_ITEM(kwnames, 0), "key")) &&
          plain_int(args[3], -1, 255, key)));
    if (plain && plain_ints(args, 2, false, a) && PyObject_CheckBuffer(args[2])) {
        Source source(args[2]);
        if (source.fault() == Source::kNone) {
            try {  // a source that overlaps the picture is copied first
                fb->blit(static_cast<int>(a[0]), static_cast<int>(a[1]), source.image(),
                         static_cast<int>(key));
            } catch (const std::bad_alloc &) {
                return PyErr_NoMemory();
            }
            Py_RETURN_NONE;
        }
    }
    return slow_path(fast_blit, self, args, nargs, kwnames);
}

PyObject *text(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    JXFramebuffer *fb = initialised<JXFramebuffer>(self);
    long a[3];
    if (fb && nargs == 4 && !kwnames && PyUnicode_CheckExact(args[2]) &&
        plain_int(args[0], kIntMin, kIntMax, a[0]) && plain_int(args[1], kIntMin, kIntMax, a[1]) &&
        plain_int(args[3], 0, 255, a[2])) {
        return PyLong_FromLongLong(draw_string(*fb, static_cast<int>(a[0]), static_cast<int>(a[1]),
                                               args[2], static_cast<std::uint8_t>(a[2])));
    }
    return slow_path(fast_text, self, args, nargs, kwnames);
}

}  // namespace

void register_draw(FramebufferClass &cls) {
    Members(cls)
        .def("line", &JXFramebuffer::line, py::arg("x0"), py::arg("y0"), py::arg("x1"),
             py::arg("y1"), py::arg("c"))
        .def("rect", &JXFramebuffer::rect, py::arg("x"), py::arg("y"), py::arg("w"), py::arg("h"),
             py::arg("c"), py::arg("fill") = true)
        .def("circle", &JXFramebuffer::circle, py::arg("x"), py::arg("y"), py::arg("r"),
             py::arg("c"), py::arg("fill") = true)
        .def(
            "blit",
            [](JXFramebuffer &fb, int x, int y, const py::buffer &image, Key key) {
                Source source(image.ptr());
                source.check();
                fb.blit(x, y, source.image(), key);
            },
            py::arg("x"), py::arg("y"), py::arg("image"), py::arg("key") = -1)
        .def(
            "text",
            [](JXFramebuffer &fb, int x, int y, const py::str &s, std::uint8_t c) {
                return draw_string(fb, x, y, s.ptr(), c);
            },
            py::arg("x"), py::arg("y"), py::arg("s"), py::arg("c"));

    install_fast(cls, "line", &line, fast_line);
    install_fast(cls, "rect", &rect, fast_rect);
    install_fast(cls, "circle", &circle, fast_circle);
    install_fast(cls, "blit", &blit, fast_blit);
    install_fast(cls, "text", &text, fast_text);
}

}  // namespace jxfb
