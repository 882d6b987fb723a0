// Fonts: the class Font (BDF files and pictures cut into cells; engine: font.h, bdf.h) and the
// built-in fonts as the module's FONT_8X8 and FONT_4X6. A Font is immutable: the drawing members
// take its engine font by pointer, and every Font object shares its engine font.
#include <string>

#include "bdf.h"
#include "binding.h"

namespace jxfb {

namespace {

PyTypeObject *font_type = nullptr;

const std::string kImageExpected = "Font.from_image() expects a 2-D array of uint8";

bool unsigned_bytes(const py::buffer_info &info) {
    std::string format = info.format;
    if (!format.empty() && std::string("@=<>!").find(format[0]) != std::string::npos) {
        format.erase(0, 1);
    }
    return info.itemsize == 1 && format == "B";
}

// A file's path: a str or a path object (bytes too, as open() takes), never a file descriptor.
struct Path : Kind {
    static constexpr char signature[] = "str | os.PathLike[str]";
    py::object value;
    static Path from(py::handle object, const Where &where) {
        PyObject *path = PyOS_FSPath(object.ptr());
        if (path == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::error_already_set();
            py::raise_from(PyExc_TypeError, (where.text() + " must be a str or path object, not " +
                                             Py_TYPE(object.ptr())->tp_name)
                                                .c_str());
            throw py::error_already_set();
        }
        return Path{{}, py::reinterpret_steal<py::object>(path)};
    }
};

// The file's bytes, read through Python, which raises its own OSError.
std::string read_file(const py::object &path) {
    py::object file = py::module_::import("io").attr("open")(path, "rb");
    py::bytes data;
    try {
        data = file.attr("read")();
    } catch (...) {
        file.attr("close")();
        throw;
    }
    file.attr("close")();
    return data;
}

FontObject from_image(const py::buffer &array, const py::object &size, const py::object &first) {
    const py::buffer_info info = array.request();
    if (info.ndim != 2) {
        throw py::value_error(kImageExpected + "; got " + std::to_string(info.ndim) + " dimension" +
                              (info.ndim == 1 ? "" : "s"));
    }
    if (!unsigned_bytes(info)) {
        throw py::type_error(kImageExpected + "; got format '" + info.format + "' with " +
                             std::to_string(info.itemsize) + "-byte items");
    }
    Context context{"Font.from_image()", {"array", "size", "first"}};
    if (!PySequence_Check(size.ptr()) || PySequence_Size(size.ptr()) != 2) {
        PyErr_Clear();
        throw py::type_error("Font.from_image() argument size must be a pair (width, height)");
    }
    const py::sequence pair = py::reinterpret_borrow<py::sequence>(size);
    const auto width = static_cast<int>(
        to_integer(pair[0], 1, bdf::kLimit, "a cell width 1 to 4096", Where{context, 1}));
    const auto height = static_cast<int>(
        to_integer(pair[1], 1, bdf::kLimit, "a cell height 1 to 4096", Where{context, 1}));
    const auto code = static_cast<std::uint32_t>(
        to_integer(first, 0, 0x10FFFF, "a code point 0 to 0x10FFFF", Where{context, 2}));
    const py::ssize_t rows = info.shape[0], columns = info.shape[1];
    if (columns % width != 0 || rows % height != 0) {
        throw py::value_error(
            "Font.from_image() needs an array whose width and height are "
            "multiples of the cell's " +
            std::to_string(width) + " x " + std::to_string(height) + "; got " +
            std::to_string(columns) + " x " + std::to_string(rows));
    }
    const py::ssize_t cells = columns / width * (rows / height);
    if (cells > 0 && code + static_cast<std::uint64_t>(cells) - 1 > 0x10FFFF) {
        throw py::value_error("Font.from_image(): " + std::to_string(cells) +
                              " cells from code point " + std::to_string(code) +
                              " go beyond 0x10FFFF");
    }
    const auto *data = static_cast<const std::uint8_t *>(info.ptr);
    const py::ssize_t row_stride = info.strides[0], col_stride = info.strides[1];
    return FontObject{font::from_cells(
        static_cast<int>(columns / width), static_cast<int>(rows / height), width, height, code,
        [&](int x, int y) { return data[y * row_stride + x * col_stride] != 0; })};
}

}  // namespace

FontArg FontArg::from(py::handle object, const Where &where) {
    FontArg arg;
    if (object.is_none()) {
        arg.value = font::font_8x8().get();
        return arg;
    }
    arg.value = font_of(object.ptr());
    if (arg.value == nullptr) {
        throw py::type_error(where.text() + " must be a Font or None, not " +
                             Py_TYPE(object.ptr())->tp_name);
    }
    return arg;
}

const font::Font *font_of(PyObject *object) {
    if (Py_TYPE(object) != font_type) return nullptr;
    const FontObject *font = initialised<FontObject>(object);
    return font ? font->font.get() : nullptr;
}

void register_font(py::module_ &m) {
    py::class_<FontObject> cls(m, "Font", py::is_final());
    font_type = reinterpret_cast<PyTypeObject *>(cls.ptr());
    Members(cls)
        .init(
            [](const Path &path_arg) {
                const py::object &path = path_arg.value;
                const std::string text = read_file(path);
                try {
                    return std::make_unique<FontObject>(FontObject{bdf::parse(text)});
                } catch (const bdf::Error &error) {
                    throw py::value_error(std::string(py::str(path)) + ": " + error.what());
                }
            },
            py::arg("path"))
        .readonly("height", [](const FontObject &self) { return self.font->height(); })
        .readonly("line_height", [](const FontObject &self) { return self.font->line_height(); });
    cls.def_static("from_image", &from_image, py::arg("array"), py::arg("size"),
                   py::arg("first") = 32);
    cls.def("__repr__", [](const FontObject &self) {
        return "<Font: " + std::to_string(self.font->size()) + " glyphs, height " +
               std::to_string(self.font->height()) + ", line height " +
               std::to_string(self.font->line_height()) + ">";
    });
    refuse_pickling(cls);
    m.attr("FONT_8X8") = FontObject{font::font_8x8()};
    m.attr("FONT_4X6") = FontObject{font::font_4x6()};
}

}  // namespace jxfb
