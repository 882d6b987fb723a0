// The drawing kit: clear, pset, pget, line, rect, circle, blit and text (engine: draw.h; fonts:
// register_font.cpp), on the two classes that have it. Framebuffer draws on its picture, Canvas on
// a 2-D uint8 array of the caller's; one set of members and one set of fast fronts serves both,
// each a template on the class, which canvas_of() turns into the engine's canvas. Also the module's
// text_size().
//
// Each member is bound through Members (binding.h), which converts and refuses arguments. Those a
// game calls many times a frame (pixels, lines, rectangles, circles, blits, text, triangles,
// polygons, ellipses, flood fills) then get a METH_FASTCALL front: a short primitive costs little
// more than the call, and pybind11's dispatcher would be most of that. The fronts handle
// initialised objects called with plain ints (and a bool `fill`, a str, a uint8 buffer, a polygon's
// points) and hand everything else to the bound member.
#include <pybind11/numpy.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binding.h"

namespace jxfb {

namespace {

// One hold on a 2-D buffer of bytes (any strides, negative ones too). Exporters fill in less than
// they are asked for at times: ctypes gives no strides (a C-contiguous array), and one that gives
// no shape or indirect rows (suboffsets) is refused rather than read.
class Buffer {
public:
    enum Fault { kNone, kNoBuffer, kDimensions, kFormat, kLayout, kReadOnly };

    // Leaves a Python error set when the object has no buffer (kNoBuffer).
    Buffer(PyObject *object, bool writable) {
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
        } else if (writable && view_.readonly) {
            fault_ = kReadOnly;
        }
    }
    ~Buffer() {
        if (held_) PyBuffer_Release(&view_);
    }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;

    Fault fault() const { return fault_; }

    // Throws the exception for the fault, if any; `expected` says what was expected.
    void check(const std::string &expected) const {
        switch (fault_) {
            case kNone:
                return;
            case kNoBuffer:
                throw py::error_already_set();
            case kDimensions:
                throw py::value_error(expected + "; got " + std::to_string(view_.ndim) +
                                      " dimension" + (view_.ndim == 1 ? "" : "s"));
            case kFormat:
                throw py::type_error(expected + "; got format '" +
                                     (view_.format ? view_.format : "B") + "' with " +
                                     std::to_string(view_.itemsize) + "-byte items" +
                                     (integers() ? ": use .astype(np.uint8)" : ""));
            case kLayout:
                throw py::type_error(expected +
                                     "; got a buffer without a shape, or with indirect rows");
            case kReadOnly:
                throw py::value_error(expected + "; got a read-only one");
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

    // The buffer as a canvas; only for one held writable.
    draw::Canvas canvas() const {
        const draw::Image image = this->image();
        return {static_cast<std::uint8_t *>(view_.buf), image.width, image.height, image.row_stride,
                image.col_stride};
    }

private:
    // Integers or bools of another width or sign, which a copy as uint8 keeps.
    bool integers() const {
        const char *format = view_.format ? view_.format : "B";
        if (*format == '@' || *format == '=' || *format == '<' || *format == '>' ||
            *format == '!') {
            ++format;
        }
        return format[0] != '\0' && format[1] == '\0' && std::strchr("?bBhHiIlLqQnN", format[0]);
    }

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

const std::string kImageExpected = "blit() expects a 2-D array of uint8 (buffer format 'B')";
const std::string kCanvasExpected =
    "Canvas() expects a writable 2-D array of uint8 (buffer format 'B')";

// The drawing kit on a writable 2-D uint8 array (Python's Canvas). It holds the array's buffer
// from construction to destruction, which keeps the memory alive, and a weak reference to the
// array, which makes NumPy refuse to resize it even with refcheck=False (a held buffer alone does
// not). What NumPy still lets a program do to the array's memory (__setstate__ replaces it) is
// found before each call draws: the canvas then refuses to draw rather than write freed memory.
class ArrayCanvas {
public:
    explicit ArrayCanvas(const py::buffer &given) {
        auto buffer = std::make_unique<Buffer>(given.ptr(), true);
        buffer->check(kCanvasExpected);
        if (py::isinstance<py::array>(given)) {
            array_ = given;
        } else {
            // Any other exporter is seen through a NumPy array over that same buffer, which
            // keeps the exporter alive.
            array_ = py::module_::import("numpy").attr("asarray")(py::memoryview(given));
            buffer = std::make_unique<Buffer>(array_.ptr(), true);
            buffer->check(kCanvasExpected);
        }
        watch_ = py::reinterpret_steal<py::object>(PyWeakref_NewRef(array_.ptr(), nullptr));
        if (!watch_) throw py::error_already_set();
        scene_ = draw::Scene(buffer->canvas());
        buffer_ = std::move(buffer);
        layout_ = layout();
    }

    const py::object &array() const { return array_; }

    // False once the array no longer lies where the canvas draws.
    bool intact() const { return layout() == layout_; }

    // The array and the canvas's drawing state (camera, clip, pattern).
    draw::Scene &scene() {
        if (!intact()) {
            throw py::value_error(
                "the canvas's array was resized or given other memory after the canvas was "
                "made: make a new Canvas");
        }
        return scene_;
    }

private:
    struct Layout {
        const char *data;
        int dimensions;
        py::ssize_t shape[2], strides[2];
        bool operator==(const Layout &o) const {
            return data == o.data && dimensions == o.dimensions && shape[0] == o.shape[0] &&
                   shape[1] == o.shape[1] && strides[0] == o.strides[0] &&
                   strides[1] == o.strides[1];
        }
    };
    Layout layout() const {
        const auto *array = py::detail::array_proxy(array_.ptr());
        Layout now{array->data, array->nd, {}, {}};
        for (int i = 0; i < 2 && i < array->nd; ++i) {
            now.shape[i] = array->dimensions[i];
            now.strides[i] = array->strides[i];
        }
        return now;
    }

    py::object array_, watch_;
    std::unique_ptr<Buffer> buffer_;
    draw::Scene scene_;
    Layout layout_{};
};

// The picture and its drawing state (camera, clip, pattern): each object has its own.
draw::Scene &scene_of(JXFramebuffer &fb) {
    return fb.scene();
}
draw::Scene &scene_of(ArrayCanvas &canvas) {
    return canvas.scene();
}
// What every drawing member draws on: the clip's part of the picture, the camera as its origin.
template <typename T>
const draw::Canvas &canvas_of(T &target) {
    return scene_of(target).view();
}

// The object of a fast front's `self`, if it was constructed and can be drawn on now; the slow
// path refuses the others with the exception that says why.
template <typename T>
T *drawable(PyObject *self) {
    T *target = initialised<T>(self);
    if constexpr (std::is_same_v<T, ArrayCanvas>) {
        if (target && !target->intact()) return nullptr;
    }
    return target;
}

// Calls `visit(chars, count)` with the string's code points in the width they are stored in.
template <typename Visit>
auto with_code_points(PyObject *s, Visit visit) {
    const void *data = PyUnicode_DATA(s);
    const auto count = static_cast<std::size_t>(PyUnicode_GET_LENGTH(s));
    switch (PyUnicode_KIND(s)) {
        case PyUnicode_1BYTE_KIND:
            return visit(static_cast<const std::uint8_t *>(data), count);
        case PyUnicode_2BYTE_KIND:
            return visit(static_cast<const std::uint16_t *>(data), count);
        default:
            return visit(static_cast<const std::uint32_t *>(data), count);
    }
}

std::int64_t draw_string(const draw::Canvas &canvas, int x, int y, PyObject *s, std::uint8_t c) {
    return with_code_points(s, [&](const auto *chars, std::size_t count) {
        return draw::text(canvas, x, y, chars, count, c);
    });
}

std::int64_t draw_string(const draw::Canvas &canvas, int x, int y, PyObject *s, std::uint8_t c,
                         const font::Font &font, int scale) {
    return with_code_points(s, [&](const auto *chars, std::size_t count) {
        return draw::text(canvas, x, y, chars, count, c, font, scale);
    });
}

draw::Extent string_size(PyObject *s, const font::Font &font, int scale) {
    return with_code_points(s, [&](const auto *chars, std::size_t count) {
        return draw::text_size(chars, count, font, scale);
    });
}

// `font` and `scale` in a fast call of text() or text_size(): after the `lead` leading
// arguments, by position or by keyword, each a Font or None, a plain int in range. False for any
// other call.
bool fast_font(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, Py_ssize_t lead,
               const font::Font *&font, long &scale) {
    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    font = nullptr;
    scale = 1;
    if (nargs < lead || nargs + keywords > lead + 2) return false;
    bool have_font = false, have_scale = false;
    for (Py_ssize_t i = lead; i < nargs + keywords; ++i) {
        bool is_font = i == lead;
        if (i >= nargs) {
            PyObject *name = PyTuple_GET_ITEM(kwnames, i - nargs);
            if (PyUnicode_EqualToUTF8(name, "font")) {
                is_font = true;
            } else if (PyUnicode_EqualToUTF8(name, "scale")) {
                is_font = false;
            } else {
                return false;
            }
        }
        if (is_font) {
            if (have_font) return false;
            have_font = true;
            if (args[i] != Py_None && (font = font_of(args[i])) == nullptr) return false;
        } else {
            if (have_scale) return false;
            have_scale = true;
            if (!plain_int(args[i], 1, 65536, scale)) return false;
        }
    }
    return true;
}

// `fill` in a fast call of a method with n leading ints: absent (true), the next positional
// argument, or the one keyword "fill"; it must be True or False itself. False for any other call.
// Inlined into each front (where n and the name are constants), as a few instructions of a
// call's whole cost: called out of line, it cost the shortest members some 2 %.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline bool
fast_flag(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, Py_ssize_t n,
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

// Each class's fronts hand their other calls to that class's bound members.
template <typename T>
struct Fronts {
    static inline FastMethod pset, pget, line, rect, circle, blit, text;
    static inline FastMethod triangle, polygon, ellipse, flood;
};

template <typename T>
PyObject *pset(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[3];
    if (target && nargs == 3 && !kwnames && plain_ints(args, 3, true, a)) {
        draw::pset(canvas_of(*target), static_cast<int>(a[0]), static_cast<int>(a[1]),
                   static_cast<std::uint8_t>(a[2]));
        Py_RETURN_NONE;
    }
    return slow_path(Fronts<T>::pset, self, args, nargs, kwnames);
}

template <typename T>
PyObject *pget(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[2];
    if (target && nargs == 2 && !kwnames && plain_ints(args, 2, false, a)) {
        return PyLong_FromLong(
            draw::pget(scene_of(*target).camera(), static_cast<int>(a[0]), static_cast<int>(a[1])));
    }
    return slow_path(Fronts<T>::pget, self, args, nargs, kwnames);
}

template <typename T>
PyObject *line(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[5];
    if (target && nargs == 5 && !kwnames && plain_ints(args, 5, true, a)) {
        draw::line(canvas_of(*target), static_cast<int>(a[0]), static_cast<int>(a[1]),
                   static_cast<int>(a[2]), static_cast<int>(a[3]), static_cast<std::uint8_t>(a[4]));
        Py_RETURN_NONE;
    }
    return slow_path(Fronts<T>::line, self, args, nargs, kwnames);
}

template <typename T>
PyObject *rect(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[5];
    bool fill = true;
    if (target && nargs >= 5 && fast_flag(args, nargs, kwnames, 5, "fill", true, fill) &&
        plain_ints(args, 5, true, a)) {
        draw::rect(canvas_of(*target), static_cast<int>(a[0]), static_cast<int>(a[1]),
                   static_cast<int>(a[2]), static_cast<int>(a[3]), static_cast<std::uint8_t>(a[4]),
                   fill);
        Py_RETURN_NONE;
    }
    return slow_path(Fronts<T>::rect, self, args, nargs, kwnames);
}

template <typename T>
PyObject *circle(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[4];
    bool fill = true;
    if (target && nargs >= 4 && fast_flag(args, nargs, kwnames, 4, "fill", true, fill) &&
        plain_ints(args, 4, true, a)) {
        draw::circle(canvas_of(*target), static_cast<int>(a[0]), static_cast<int>(a[1]),
                     static_cast<int>(a[2]), static_cast<std::uint8_t>(a[3]), fill);
        Py_RETURN_NONE;
    }
    return slow_path(Fronts<T>::circle, self, args, nargs, kwnames);
}

// NumPy's array type, once NumPy has been imported (nothing before: no array can exist then).
PyTypeObject *ndarray_type() {
    static PyObject *type = nullptr;  // kept for the rest of the process
    if (type == nullptr) {
        static PyObject *name = PyUnicode_InternFromString("numpy");
        PyObject *numpy = name ? PyImport_GetModule(name) : nullptr;
        if (numpy != nullptr) {
            type = PyObject_GetAttrString(numpy, "ndarray");
            Py_DECREF(numpy);
            if (type != nullptr && !PyType_Check(type)) Py_CLEAR(type);
        }
        PyErr_Clear();
    }
    return reinterpret_cast<PyTypeObject *>(type);
}

// `object`'s elements if it is exactly a NumPy array of uint8 with `dims` dimensions (null if
// not), read from the array itself as ArrayCanvas reads its array: what its buffer would give,
// without NumPy describing a buffer afresh on every export, which costs more than drawing a small
// sprite. The caller's reference keeps the array as it is for the call, as no Python code runs.
const py::detail::PyArray_Proxy *uint8_array(PyObject *object, int dims) {
    PyTypeObject *ndarray = ndarray_type();
    if (ndarray == nullptr || Py_TYPE(object) != ndarray) return nullptr;
    const auto *array = py::detail::array_proxy(object);
    if (array->nd != dims || py::detail::array_descriptor_proxy(array->descr)->type_num !=
                                 py::detail::npy_api::NPY_UBYTE_) {
        return nullptr;
    }
    return array;
}

// A remap table that a fast call of blit() reads in place: a C-contiguous uint8 NumPy array of
// 256, the memory that the slow path's table is too. Null for anything else, which the slow path
// copies or refuses.
const std::uint8_t *fast_table(PyObject *object) {
    const auto *array = uint8_array(object, 1);
    if (array == nullptr || array->dimensions[0] != 256 || array->strides[0] != 1) return nullptr;
    return reinterpret_cast<const std::uint8_t *>(array->data);
}

// blit()'s keywords, as a fast call may give them (interned, so that a call site's names are
// found by their address).
enum BlitKeyword { kKey, kFlipX, kFlipY, kRotate, kScale, kRemap, kBlitKeywords };
int blit_keyword(PyObject *name) {
    static const char *const spelled[kBlitKeywords] = {"key",    "flip_x", "flip_y",
                                                       "rotate", "scale",  "remap"};
    static PyObject *interned[kBlitKeywords] = {};
    if (interned[0] == nullptr) {
        for (int i = 0; i < kBlitKeywords; ++i) {
            interned[i] = PyUnicode_InternFromString(spelled[i]);
            if (interned[i] == nullptr) {
                PyErr_Clear();
                interned[0] = nullptr;
                return -1;
            }
        }
    }
    for (int i = 0; i < kBlitKeywords; ++i) {
        if (name == interned[i]) return i;
    }
    for (int i = 0; i < kBlitKeywords; ++i) {
        if (PyUnicode_EqualToUTF8(name, spelled[i])) return i;
    }
    return -1;
}

// `arg` as a double if it is exactly a Python float, or an int that converts (as float() would).
bool plain_real(PyObject *arg, double &out) {
    if (PyFloat_CheckExact(arg)) {
        out = PyFloat_AS_DOUBLE(arg);
        return true;
    }
    if (!PyLong_CheckExact(arg)) return false;
    out = PyLong_AsDouble(arg);
    return !(out == -1.0 && PyErr_Occurred());  // too large: the slow path raises
}

// blit()'s arguments after the image in a fast call: `key` by position or keyword, a plain int
// -1..255; the flips True or False; rotate a finite number and scale a positive finite one,
// each a float or an int; remap None or a table that fast_table() takes. False for any other call
// (the slow path then converts or refuses it as it always has).
bool fast_blit_options(PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames, long &key,
                       draw::Transform &transform) {
    if (nargs == 4 && !plain_int(args[3], -1, 255, key)) return false;
    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    unsigned given = nargs == 4 ? 1u << kKey : 0u;
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        PyObject *value = args[nargs + i];
        const int which = blit_keyword(PyTuple_GET_ITEM(kwnames, i));
        if (which < 0 || (given & (1u << which)) != 0) return false;
        given |= 1u << which;
        switch (which) {
            case kKey:
                if (!plain_int(value, -1, 255, key)) return false;
                break;
            case kFlipX:
            case kFlipY:
                if (value != Py_True && value != Py_False) return false;
                (which == kFlipX ? transform.flip_x : transform.flip_y) = value == Py_True;
                break;
            case kRotate:
                if (!plain_real(value, transform.rotate) || !std::isfinite(transform.rotate)) {
                    return false;
                }
                break;
            case kScale:
                if (!plain_real(value, transform.scale) || !(transform.scale > 0) ||
                    !std::isfinite(transform.scale)) {
                    return false;
                }
                break;
            default:  // kRemap
                if (value != Py_None && (transform.remap = fast_table(value)) == nullptr) {
                    return false;
                }
        }
    }
    return true;
}

template <typename T>
PyObject *triangle(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[7];
    bool fill = true;
    if (target && nargs >= 7 && fast_flag(args, nargs, kwnames, 7, "fill", true, fill) &&
        plain_ints(args, 7, true, a)) {
        const std::int64_t xs[] = {a[0], a[2], a[4]}, ys[] = {a[1], a[3], a[5]};
        try {  // an outline across a wide canvas needs room for its rows
            draw::polygon(canvas_of(*target), xs, ys, 3, static_cast<std::uint8_t>(a[6]), fill);
        } catch (const std::bad_alloc &) {
            return PyErr_NoMemory();
        }
        Py_RETURN_NONE;
    }
    return slow_path(Fronts<T>::triangle, self, args, nargs, kwnames);
}

template <typename T>
PyObject *ellipse(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[5];
    bool fill = true;
    if (target && nargs >= 5 && fast_flag(args, nargs, kwnames, 5, "fill", true, fill) &&
        plain_ints(args, 5, true, a)) {
        draw::ellipse(canvas_of(*target), static_cast<int>(a[0]), static_cast<int>(a[1]),
                      static_cast<int>(a[2]), static_cast<int>(a[3]),
                      static_cast<std::uint8_t>(a[4]), fill);
        Py_RETURN_NONE;
    }
    return slow_path(Fronts<T>::ellipse, self, args, nargs, kwnames);
}

py::module_ &numpy();

// The vertices of a fast call of polygon(), read without making a Python object: a list or tuple
// of at least one list or tuple of two plain ints, or a NumPy array of shape (n, 2), n >= 1, of a
// native integer type; every value in the 32-bit range. read() is false for anything else, which
// the bound member converts or refuses.
class Points {
public:
    const std::int64_t *xs = nullptr, *ys = nullptr;
    std::size_t count = 0;

    bool read(PyObject *points) {
        if (PyList_CheckExact(points) || PyTuple_CheckExact(points)) return read_pairs(points);
        static PyObject *const ndarray = py::object(numpy().attr("ndarray")).release().ptr();
        if (Py_TYPE(points) != reinterpret_cast<PyTypeObject *>(ndarray)) return false;
        Py_buffer view;
        if (PyObject_GetBuffer(points, &view, PyBUF_RECORDS_RO) != 0) {
            PyErr_Clear();
            return false;
        }
        const bool read = read_array(view);
        PyBuffer_Release(&view);
        return read;
    }

private:
    void make_room(std::size_t n) {
        count = n;
        std::int64_t *data = local_;
        if (2 * n > sizeof local_ / sizeof local_[0]) {  // std::bad_alloc
            heap_.resize(2 * n);
            data = heap_.data();
        }
        xs_ = data;
        ys_ = data + n;
        xs = xs_;
        ys = ys_;
    }

    bool read_pairs(PyObject *points) {
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(points);
        if (n == 0) return false;
        make_room(static_cast<std::size_t>(n));
        PyObject **items = PySequence_Fast_ITEMS(points);
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject *pair = items[i];
            if (!(PyList_CheckExact(pair) || PyTuple_CheckExact(pair)) ||
                PySequence_Fast_GET_SIZE(pair) != 2) {
                return false;
            }
            PyObject **xy = PySequence_Fast_ITEMS(pair);
            long x, y;
            if (!plain_int(xy[0], kIntMin, kIntMax, x) || !plain_int(xy[1], kIntMin, kIntMax, y)) {
                return false;
            }
            xs_[i] = x;
            ys_[i] = y;
        }
        return true;
    }

    bool read_array(const Py_buffer &view) {
        if (view.ndim != 2 || view.shape == nullptr || view.suboffsets != nullptr ||
            view.shape[1] != 2 || view.shape[0] < 1 || view.format == nullptr) {
            return false;
        }
        const char *format = view.format;
        if (*format == '@' || *format == '=') ++format;
        if (format[0] == '\0' || format[1] != '\0') return false;
        const Py_ssize_t n = view.shape[0];
        const Py_ssize_t row = view.strides ? view.strides[0] : 2 * view.itemsize;
        const Py_ssize_t column = view.strides ? view.strides[1] : view.itemsize;
        make_room(static_cast<std::size_t>(n));
        const auto take = [&](auto type) {
            using Item = decltype(type);
            if (view.itemsize != sizeof(Item)) return false;
            const auto *base = static_cast<const char *>(view.buf);
            for (Py_ssize_t i = 0; i < n; ++i) {
                Item x, y;
                std::memcpy(&x, base + i * row, sizeof x);
                std::memcpy(&y, base + i * row + column, sizeof y);
                if (!in_range(x) || !in_range(y)) return false;
                xs_[i] = static_cast<std::int64_t>(x);
                ys_[i] = static_cast<std::int64_t>(y);
            }
            return true;
        };
        switch (format[0]) {
            case 'b':
                return take(static_cast<signed char>(0));
            case 'B':
                return take(static_cast<unsigned char>(0));
            case 'h':
                return take(static_cast<short>(0));
            case 'H':
                return take(static_cast<unsigned short>(0));
            case 'i':
                return take(0);
            case 'I':
                return take(0u);
            case 'l':
                return take(0L);
            case 'L':
                return take(0UL);
            case 'q':
                return take(0LL);
            case 'Q':
                return take(0ULL);
            default:
                return false;
        }
    }

    template <typename Item>
    static bool in_range(Item v) {
        if constexpr (std::is_signed_v<Item>) {
            return v >= INT32_MIN && v <= INT32_MAX;
        } else {
            return v <= static_cast<unsigned long long>(INT32_MAX);
        }
    }

    std::int64_t local_[32];
    std::vector<std::int64_t> heap_;
    std::int64_t *xs_ = nullptr, *ys_ = nullptr;
};

template <typename T>
PyObject *polygon(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long c;
    bool fill = true;
    if (target && nargs >= 2 && fast_flag(args, nargs, kwnames, 2, "fill", true, fill) &&
        plain_int(args[1], 0, 255, c)) {
        try {
            Points points;
            if (points.read(args[0])) {
                draw::polygon(canvas_of(*target), points.xs, points.ys, points.count,
                              static_cast<std::uint8_t>(c), fill);
                Py_RETURN_NONE;
            }
        } catch (const std::bad_alloc &) {
            return PyErr_NoMemory();
        } catch (py::error_already_set &error) {  // NumPy could not be imported
            error.restore();
            return nullptr;
        }
    }
    return slow_path(Fronts<T>::polygon, self, args, nargs, kwnames);
}

template <typename T>
PyObject *blit(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[2], key = -1;
    draw::Transform transform;
    if (target && (nargs == 3 || nargs == 4) && plain_ints(args, 2, false, a) &&
        fast_blit_options(args, nargs, kwnames, key, transform)) {
        // A NumPy array is read as it is; any other image through its buffer.
        std::optional<Buffer> buffer;
        draw::Image image{};
        bool readable = false;
        if (const auto *array = uint8_array(args[2], 2)) {
            image = {reinterpret_cast<const std::uint8_t *>(array->data), array->dimensions[1],
                     array->dimensions[0], array->strides[0], array->strides[1]};
            readable = true;
        } else if (PyObject_CheckBuffer(args[2])) {
            buffer.emplace(args[2], false);
            readable = buffer->fault() == Buffer::kNone;
            if (readable) image = buffer->image();
        }
        if (readable) {
            const auto x = static_cast<int>(a[0]), y = static_cast<int>(a[1]);
            try {  // a source that overlaps the canvas is copied first
                if (!transform.flip_x && !transform.flip_y && transform.rotate == 0 &&
                    transform.scale == 1 && !transform.remap) {
                    draw::blit(canvas_of(*target), x, y, image, static_cast<int>(key));
                } else {
                    draw::blit_transformed(canvas_of(*target), x, y, image, static_cast<int>(key),
                                           transform);
                }
            } catch (const std::bad_alloc &) {
                return PyErr_NoMemory();
            }
            Py_RETURN_NONE;
        }
    }
    return slow_path(Fronts<T>::blit, self, args, nargs, kwnames);
}

template <typename T>
PyObject *text(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[3];
    if (target && nargs == 4 && !kwnames && PyUnicode_CheckExact(args[2]) &&
        plain_int(args[0], kIntMin, kIntMax, a[0]) && plain_int(args[1], kIntMin, kIntMax, a[1]) &&
        plain_int(args[3], 0, 255, a[2])) {
        return PyLong_FromLongLong(draw_string(canvas_of(*target), static_cast<int>(a[0]),
                                               static_cast<int>(a[1]), args[2],
                                               static_cast<std::uint8_t>(a[2])));
    }
    // With a font or a scale.
    const font::Font *font = nullptr;
    long scale = 1;
    if (target && nargs >= 4 && PyUnicode_CheckExact(args[2]) &&
        fast_font(args, nargs, kwnames, 4, font, scale) &&
        plain_int(args[0], kIntMin, kIntMax, a[0]) && plain_int(args[1], kIntMin, kIntMax, a[1]) &&
        plain_int(args[3], 0, 255, a[2])) {
        return PyLong_FromLongLong(
            draw_string(canvas_of(*target), static_cast<int>(a[0]), static_cast<int>(a[1]), args[2],
                        static_cast<std::uint8_t>(a[2]), font ? *font : *font::font_8x8(),
                        static_cast<int>(scale)));
    }
    return slow_path(Fronts<T>::text, self, args, nargs, kwnames);
}

template <typename T>
PyObject *flood(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    T *target = drawable<T>(self);
    long a[3];
    if (target && nargs == 3 && !kwnames && plain_ints(args, 3, true, a)) {
        try {
            draw::flood(canvas_of(*target), static_cast<int>(a[0]), static_cast<int>(a[1]),
                        static_cast<std::uint8_t>(a[2]));
        } catch (const std::bad_alloc &) {
            return PyErr_NoMemory();
        }
        Py_RETURN_NONE;
    }
    return slow_path(Fronts<T>::flood, self, args, nargs, kwnames);
}

template <typename T>
void add_pixels(py::class_<T> &cls) {
    Members(cls)
        .def(
            "clear",
            [](T &target, std::uint8_t color) { draw::clear(scene_of(target).picture(), color); },
            py::arg("color") = 0)
        .def(
            "pset",
            [](T &target, int x, int y, std::uint8_t c) { draw::pset(canvas_of(target), x, y, c); },
            py::arg("x"), py::arg("y"), py::arg("c"), py::pos_only())
        .def(
            "pget",
            [](T &target, int x, int y) { return draw::pget(scene_of(target).camera(), x, y); },
            py::arg("x"), py::arg("y"), py::pos_only());
    install_fast(cls, "pset", &pset<T>, Fronts<T>::pset);
    install_fast(cls, "pget", &pget<T>, Fronts<T>::pget);
}

// A property's value as n 32-bit integers: a sequence of n of them, each as Int takes it.
std::vector<std::int64_t> int_items(py::handle value, std::size_t n, const std::string &where,
                                    const char *what) {
    if (!PySequence_Check(value.ptr()) || PyUnicode_Check(value.ptr()) ||
        PySequence_Size(value.ptr()) != static_cast<Py_ssize_t>(n)) {
        PyErr_Clear();
        throw py::type_error(where + " must be " + what + ", not " + Py_TYPE(value.ptr())->tp_name);
    }
    const Context context{where, {}, true};
    std::vector<std::int64_t> items;
    for (std::size_t i = 0; i < n; ++i) {
        const py::object item = py::reinterpret_steal<py::object>(
            PySequence_GetItem(value.ptr(), static_cast<Py_ssize_t>(i)));
        if (!item) throw py::error_already_set();
        items.push_back(to_integer(item, INT32_MIN, INT32_MAX, Int::what, Where{context, i}));
    }
    return items;
}

struct Pattern : Integer<Pattern, std::uint16_t, 0, 0xFFFF> {
    static constexpr const char *what = "a 16-bit pattern 0 to 65535, or None";
};

// camera, clip and pattern: the drawing state (draw::Scene) that every drawing member goes
// through.
template <typename T>
void add_state(py::class_<T> &cls) {
    const std::string name = py::str(cls.attr("__name__"));
    Members(cls)
        .property(
            "camera",
            [](T &target) {
                const draw::Scene &scene = scene_of(target);
                return std::make_pair(scene.camera_x(), scene.camera_y());
            },
            [name](T &target, const py::object &value) {
                const auto xy =
                    int_items(value, 2, name + ".camera", "a pair of 32-bit integers (x, y)");
                scene_of(target).set_camera(xy[0], xy[1]);
            })
        .property(
            "clip",
            [](T &target) -> py::object {
                const auto &clip = scene_of(target).clip();
                if (!clip) return py::none();
                return py::make_tuple(clip->x, clip->y, clip->w, clip->h);
            },
            [name](T &target, const py::object &value) {
                if (value.is_none()) {
                    scene_of(target).set_clip(std::nullopt);
                    return;
                }
                const auto box =
                    int_items(value, 4, name + ".clip", "4 32-bit integers (x, y, w, h), or None");
                if (box[2] < 0 || box[3] < 0) {
                    throw py::value_error(name + ".clip width and height must be 0 or more, not " +
                                          std::to_string(box[2]) + " and " +
                                          std::to_string(box[3]));
                }
                scene_of(target).set_clip(draw::Scene::Clip{box[0], box[1], box[2], box[3]});
            })
        .property(
            "pattern",
            [](T &target) -> py::object {
                const auto &pattern = scene_of(target).pattern();
                if (!pattern) return py::none();
                return py::int_(*pattern);
            },
            [name](T &target, const py::object &value) {
                if (value.is_none()) {
                    scene_of(target).set_pattern(std::nullopt);
                    return;
                }
                const Context context{name + ".pattern", {}, true};
                scene_of(target).set_pattern(Pattern::from(value, Where{context, 0}).value);
            });
}

// Arguments that are converted in the member's body, typed for the signature pybind11 writes.
struct ArrayLike : Kind {
    static constexpr char signature[] = "numpy.typing.ArrayLike";
    py::object value;
    static ArrayLike from(py::handle object, const Where &) {
        return {{}, py::reinterpret_borrow<py::object>(object)};
    }
};
struct OptionalArray : Kind {
    static constexpr char signature[] = "numpy.typing.ArrayLike | None";
    py::object value;
    static OptionalArray from(py::handle object, const Where &) {
        return {{}, py::reinterpret_borrow<py::object>(object)};
    }
};
struct CellSize : Kind {
    static constexpr char signature[] = "tuple[typing.SupportsIndex, typing.SupportsIndex]";
    py::object value;
    static CellSize from(py::handle object, const Where &) {
        return {{}, py::reinterpret_borrow<py::object>(object)};
    }
};

// ---- Sprites, tiles and shapes: their array arguments ------------------------------------------

// Never released: a static py::object would be let go by the C++ runtime at the process's exit,
// after the interpreter has finalized, and a module dropping to no references then is torn down
// with no interpreter to do it (an abort at exit).
py::module_ &numpy() {
    static py::module_ &module = *new py::module_(py::module_::import("numpy"));
    return module;
}

// `given` as a C-contiguous int64 NumPy array of `dims` dimensions (any integer dtype and layout
// given), every value in [lo, hi]; the first value outside is named with its place.
py::array_t<std::int64_t> int_array(const py::handle &given, int dims, const std::string &where,
                                    long long lo, long long hi, const std::string &range) {
    py::object array = numpy().attr("asarray")(given);
    const std::string kind = py::str(array.attr("dtype").attr("kind"));
    if (kind != "i" && kind != "u") {
        throw py::type_error(where + " must be an array of integers, not of " +
                             std::string(py::str(array.attr("dtype"))));
    }
    const int ndim = array.attr("ndim").cast<int>();
    const bool empty = array.attr("size").cast<long long>() == 0;
    if (ndim != dims && !(empty && dims == 2 && ndim == 1)) {
        throw py::value_error(where + " must have " + std::to_string(dims) + " dimension" +
                              (dims == 1 ? "" : "s") + ", not " + std::to_string(ndim));
    }
    if (!empty) {
        const py::object low = array.attr("min")(), high = array.attr("max")();
        if (low.cast<py::int_>() < py::int_(lo) || high.cast<py::int_>() > py::int_(hi)) {
            const py::object outside =
                numpy().attr("logical_or")(numpy().attr("less")(array, py::int_(lo)),
                                           numpy().attr("greater")(array, py::int_(hi)));
            const py::object flat = numpy().attr("argmax")(outside);
            const py::tuple place = numpy().attr("unravel_index")(flat, array.attr("shape"));
            std::string at;
            for (const auto &i : place) at += (at.empty() ? "" : ", ") + std::string(py::str(i));
            const py::object value = array.attr("__getitem__")(place);
            throw py::value_error(where + " holds " + std::string(py::str(value)) + " at [" + at +
                                  "], " + range);
        }
    }
    py::object packed = numpy().attr("ascontiguousarray")(array, "int64");
    if (empty && dims == 2) packed = packed.attr("reshape")(0, 2);
    return packed.cast<py::array_t<std::int64_t>>();
}

// A 256-entry uint8 remap table, or none.
struct Remap {
    py::object held;
    const std::uint8_t *table = nullptr;
};
Remap remap_of(const py::object &given, const std::string &function) {
    Remap remap;
    if (given.is_none()) return remap;
    const std::string where = function + " argument remap";
    py::object array = numpy().attr("asarray")(given);
    if (std::string(py::str(array.attr("dtype"))) != "uint8") {
        throw py::type_error(where + " must be a uint8 array of 256 indices, not of " +
                             std::string(py::str(array.attr("dtype"))));
    }
    if (array.attr("shape").cast<py::tuple>().size() != 1 ||
        array.attr("size").cast<int>() != 256) {
        throw py::value_error(where + " must hold 256 indices, one for each, not shape " +
                              std::string(py::str(array.attr("shape"))));
    }
    remap.held = numpy().attr("ascontiguousarray")(array);
    remap.table =
        static_cast<const std::uint8_t *>(remap.held.cast<py::array_t<std::uint8_t>>().data());
    return remap;
}

// A sheet and its cell size: the sheet's sides must be multiples of the cell's.
struct Sheet {
    std::unique_ptr<Buffer> buffer;
    draw::Image image{};
    std::int64_t w = 0, h = 0, count = 0;
};
Sheet sheet_of(const py::handle &sheet, const py::object &size, const std::string &function) {
    Sheet result;
    result.buffer = std::make_unique<Buffer>(sheet.ptr(), false);
    result.buffer->check(function + " expects a sheet: a 2-D array of uint8 (buffer format 'B')");
    result.image = result.buffer->image();
    const auto wh = int_items(size, 2, function + " argument size", "a pair of integers (w, h)");
    if (wh[0] < 1 || wh[1] < 1 || result.image.width % wh[0] != 0 ||
        result.image.height % wh[1] != 0) {
        throw py::value_error(function + ": a sheet of " + std::to_string(result.image.width) +
                              " x " + std::to_string(result.image.height) +
                              " pixels cannot be cut into cells of " + std::to_string(wh[0]) +
                              " x " + std::to_string(wh[1]));
    }
    result.w = wh[0];
    result.h = wh[1];
    result.count = (result.image.width / wh[0]) * (result.image.height / wh[1]);
    return result;
}

py::array_t<std::int64_t> cell_numbers(const py::handle &given, int dims, const std::string &where,
                                       std::int64_t count) {
    return int_array(given, dims, where, LLONG_MIN, count - 1,
                     "beyond the sheet's " + std::to_string(count) + " cells (0 to " +
                         std::to_string(count - 1) + "; negative numbers draw nothing)");
}

template <typename T>
void add_draw(py::class_<T> &cls) {
    Members(cls)
        .def(
            "line",
            [](T &target, int x0, int y0, int x1, int y1, std::uint8_t c) {
                draw::line(canvas_of(target), x0, y0, x1, y1, c);
            },
            py::arg("x0"), py::arg("y0"), py::arg("x1"), py::arg("y1"), py::arg("c"))
        .def(
            "rect",
            [](T &target, int x, int y, int w, int h, std::uint8_t c, Switch fill) {
                draw::rect(canvas_of(target), x, y, w, h, c, fill);
            },
            py::arg("x"), py::arg("y"), py::arg("w"), py::arg("h"), py::arg("c"),
            py::arg("fill") = true)
        .def(
            "circle",
            [](T &target, int x, int y, int r, std::uint8_t c, Switch fill) {
                draw::circle(canvas_of(target), x, y, r, c, fill);
            },
            py::arg("x"), py::arg("y"), py::arg("r"), py::arg("c"), py::arg("fill") = true)
        .def(
            "blit",
            [](T &target, int x, int y, const BufferArg &image, Key key, Switch flip_x,
               Switch flip_y, double rotate, double scale, const OptionalArray &remap) {
                Buffer source(image.value.ptr(), false);
                source.check(kImageExpected);
                if (!std::isfinite(rotate)) {
                    throw py::value_error(
                        "blit() argument rotate must be a finite number of "
                        "degrees, not " +
                        std::string(py::str(py::float_(rotate))));
                }
                if (!(scale > 0) || !std::isfinite(scale)) {
                    throw py::value_error(
                        "blit() argument scale must be a positive finite "
                        "number, not " +
                        std::string(py::str(py::float_(scale))));
                }
                const Remap table = remap_of(remap.value, "blit()");
                if (!flip_x && !flip_y && rotate == 0 && scale == 1 && !table.table) {
                    draw::blit(canvas_of(target), x, y, source.image(), key);
                    return;
                }
                draw::Transform transform;
                transform.flip_x = flip_x;
                transform.flip_y = flip_y;
                transform.rotate = rotate;
                transform.scale = scale;
                transform.remap = table.table;
                draw::blit_transformed(canvas_of(target), x, y, source.image(), key, transform);
            },
            py::arg("x"), py::arg("y"), py::arg("image"), py::arg("key") = -1, py::kw_only(),
            py::arg("flip_x") = false, py::arg("flip_y") = false, py::arg("rotate") = 0.0,
            py::arg("scale") = 1.0, py::arg("remap") = py::none())
        .def(
            "tiles",
            [](T &target, int x, int y, const ArrayLike &tilemap, const BufferArg &sheet,
               const CellSize &size, Key key, const OptionalArray &remap) {
                const Sheet cut = sheet_of(sheet.value, size.value, "tiles()");
                const auto map =
                    cell_numbers(tilemap.value, 2, "tiles() argument tilemap", cut.count);
                const Remap table = remap_of(remap.value, "tiles()");
                draw::tiles(canvas_of(target), x, y, map.data(), map.shape(0), map.shape(1),
                            cut.image, cut.w, cut.h, key, table.table);
            },
            py::arg("x"), py::arg("y"), py::arg("tilemap"), py::arg("sheet"), py::arg("size"),
            py::arg("key") = -1, py::arg("remap") = py::none())
        .def(
            "sprites",
            [](T &target, const ArrayLike &xs, const ArrayLike &ys, const ArrayLike &cells,
               const BufferArg &sheet, const CellSize &size, Key key, const OptionalArray &remap) {
                const Sheet cut = sheet_of(sheet.value, size.value, "sprites()");
                const std::string range = "outside the 32-bit range";
                const auto x =
                    int_array(xs.value, 1, "sprites() argument xs", INT32_MIN, INT32_MAX, range);
                const auto y =
                    int_array(ys.value, 1, "sprites() argument ys", INT32_MIN, INT32_MAX, range);
                const auto n = cell_numbers(cells.value, 1, "sprites() argument cells", cut.count);
                if (x.size() != y.size() || x.size() != n.size()) {
                    throw py::value_error("sprites() takes xs, ys and cells of one length, not " +
                                          std::to_string(x.size()) + ", " +
                                          std::to_string(y.size()) + " and " +
                                          std::to_string(n.size()));
                }
                const Remap table = remap_of(remap.value, "sprites()");
                draw::sprites(canvas_of(target), x.data(), y.data(), n.data(),
                              static_cast<std::size_t>(n.size()), cut.image, cut.w, cut.h, key,
                              table.table);
            },
            py::arg("xs"), py::arg("ys"), py::arg("cells"), py::arg("sheet"), py::arg("size"),
            py::arg("key") = -1, py::arg("remap") = py::none())
        .def(
            "triangle",
            [](T &target, int x0, int y0, int x1, int y1, int x2, int y2, std::uint8_t c,
               Switch fill) {
                const std::int64_t xs[] = {x0, x1, x2}, ys[] = {y0, y1, y2};
                draw::polygon(canvas_of(target), xs, ys, 3, c, fill);
            },
            py::arg("x0"), py::arg("y0"), py::arg("x1"), py::arg("y1"), py::arg("x2"),
            py::arg("y2"), py::arg("c"), py::arg("fill") = true)
        .def(
            "polygon",
            [](T &target, const ArrayLike &points, std::uint8_t c, Switch fill) {
                const auto xy = int_array(points.value, 2, "polygon() argument points", INT32_MIN,
                                          INT32_MAX, "outside the 32-bit range");
                if (xy.shape(1) != 2) {
                    throw py::value_error(
                        "polygon() argument points must be (n, 2): pairs (x, y), "
                        "not " +
                        std::to_string(xy.shape(1)) + " a row");
                }
                const auto n = static_cast<std::size_t>(xy.shape(0));
                std::vector<std::int64_t> xs(n), ys(n);
                for (std::size_t i = 0; i < n; ++i) {
                    xs[i] = xy.at(i, 0);
                    ys[i] = xy.at(i, 1);
                }
                draw::polygon(canvas_of(target), xs.data(), ys.data(), n, c, fill);
            },
            py::arg("points"), py::arg("c"), py::arg("fill") = true)
        .def(
            "ellipse",
            [](T &target, int x, int y, int w, int h, std::uint8_t c, Switch fill) {
                draw::ellipse(canvas_of(target), x, y, w, h, c, fill);
            },
            py::arg("x"), py::arg("y"), py::arg("w"), py::arg("h"), py::arg("c"),
            py::arg("fill") = true)
        .def(
            "flood",
            [](T &target, int x, int y, std::uint8_t c) {
                draw::flood(canvas_of(target), x, y, c);
            },
            py::arg("x"), py::arg("y"), py::arg("c"))
        .def(
            "text",
            [](T &target, int x, int y, const Str &s, std::uint8_t c, FontArg font, Scale scale) {
                return draw_string(canvas_of(target), x, y, s.value.ptr(), c, font, scale);
            },
            py::arg("x"), py::arg("y"), py::arg("s"), py::arg("c"), py::arg("font") = py::none(),
            py::arg("scale") = 1);

    install_fast(cls, "line", &line<T>, Fronts<T>::line);
    install_fast(cls, "rect", &rect<T>, Fronts<T>::rect);
    install_fast(cls, "circle", &circle<T>, Fronts<T>::circle);
    install_fast(cls, "blit", &blit<T>, Fronts<T>::blit);
    install_fast(cls, "text", &text<T>, Fronts<T>::text);
    install_fast(cls, "triangle", &triangle<T>, Fronts<T>::triangle);
    install_fast(cls, "polygon", &polygon<T>, Fronts<T>::polygon);
    install_fast(cls, "ellipse", &ellipse<T>, Fronts<T>::ellipse);
    install_fast(cls, "flood", &flood<T>, Fronts<T>::flood);
    add_state(cls);
}

// text_size() is a module function: its front measures a str with plain font and scale arguments
// itself and hands every other call to the function pybind11 bound (`bound`).
FastMethod text_size_function;

PyObject *text_size_front(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    const font::Font *font = nullptr;
    long scale = 1;
    if (nargs >= 1 && PyUnicode_CheckExact(args[0]) &&
        fast_font(args, nargs, kwnames, 1, font, scale)) {
        const draw::Extent size =
            string_size(args[0], font ? *font : *font::font_8x8(), static_cast<int>(scale));
        return Py_BuildValue("(LL)", static_cast<long long>(size.width),
                             static_cast<long long>(size.height));
    }
    return PyObject_Vectorcall(text_size_function.bound, args, static_cast<size_t>(nargs), kwnames);
}

}  // namespace

void register_pixels(FramebufferClass &cls) {
    add_pixels(cls);
}

void register_draw(FramebufferClass &cls) {
    add_draw(cls);
}

void register_canvas(py::module_ &m) {
    py::class_<ArrayCanvas> canvas(m, "Canvas");
    Members(canvas)
        .init([](const BufferArg &array) { return std::make_unique<ArrayCanvas>(array.value); },
              py::arg("array"))
        .readonly("array", [](ArrayCanvas &self) { return self.array(); });
    add_pixels(canvas);
    add_draw(canvas);
    refuse_pickling(canvas);

    // A module function, converting its arguments as the members do.
    static const Context text_size_context{"text_size()", {"s", "font", "scale"}};
    m.def(
        "text_size",
        [](const Arg<Str> &given, const Arg<FontArg> &font_arg, const Arg<Scale> &scale_arg) {
            const Str s = Str::from(given.object, Where{text_size_context, 0});
            const font::Font &font = FontArg::from(font_arg.object, Where{text_size_context, 1});
            long scale = 1;  // a plain int is taken as it is; anything else converted and checked
            if (!plain_int(scale_arg.object.ptr(), 1, 65536, scale)) {
                scale = Scale::from(scale_arg.object, Where{text_size_context, 2});
            }
            const draw::Extent size = string_size(s.value.ptr(), font, static_cast<int>(scale));
            return std::make_pair(size.width, size.height);
        },
        py::arg("s"), py::arg("font") = py::none(), py::arg("scale") = 1);
    py::object bound = m.attr("text_size");
    text_size_function.doc = py::str(bound.attr("__doc__"));
    text_size_function.bound = bound.release().ptr();
    text_size_function.def = {
        "text_size", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&text_size_front)),
        METH_FASTCALL | METH_KEYWORDS, text_size_function.doc.c_str()};
    PyObject *front = PyCFunction_NewEx(&text_size_function.def, nullptr, m.attr("__name__").ptr());
    if (!front) throw py::error_already_set();
    m.attr("text_size") = py::reinterpret_steal<py::object>(front);
}

}  // namespace jxfb
