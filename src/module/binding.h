// What the pieces of the binding share: how every member converts its arguments (Members and the
// argument kinds), the check that a method's `self` was constructed, and the fast METH_FASTCALL
// fronts that the per-pixel methods get.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "framebuffer.h"

namespace jxfb {

namespace py = pybind11;

using FramebufferClass = py::class_<JXFramebuffer>;

// ---- Arguments ---------------------------------------------------------------------------------
//
// Every member is bound through Members (below), and every argument converted by the kind of its
// C++ parameter. pybind11's own conversion of integers is not used: it goes through __int__, so
// np.float32(2.7), a Decimal or a Fraction would silently lose its fraction, and its refusal says
// "incompatible function arguments" without saying which argument or what it must be.
//
// An integer kind takes an int (bool included), a NumPy bool, or any object with __index__
// (NumPy integers, 0-d integer arrays) whose value is in the kind's range; nothing else. The
// refusal is TypeError "<where> must be <what>, not <type>" for what is not an integer (floats of
// every width, complex, Decimal, Fraction, str, None, ...) and "<where> must be <what>, not
// <value>" for an integer out of range, where <where> is "pset() argument c",
// "Framebuffer() argument width" or "Framebuffer.title". An exception raised by __index__ itself
// comes through as it is (ValueError, MemoryError, KeyboardInterrupt), except a TypeError, which
// becomes the cause of the refusal.
//
// How a member gets this: bind it with Members (below) instead of py::class_'s own def, and declare
// its parameters. A member function, or a lambda whose first parameter is the object (`T &`);
// pybind11 then hands `self` over only once its __init__ has run (else TypeError), and init also
// refuses a second __init__. A plain `int` parameter is an Int, `std::uint8_t` an Index and
// `std::string` (or `const std::string &`) a Utf8; `bool`, py::object, py::buffer, py::str and
// the rest are converted by pybind11 as usual. Other ranges are kinds of their own, named in the
// parameter:
//
//     struct Channels : Integer<Channels, int, 1, 2> {
//         static constexpr const char *what = "1 (mono) or 2 (stereo)";
//     };
//     Members(audio_class)
//         .init([](int rate, Channels n) { return std::make_unique<Audio>(rate, n); },
//               py::arg("rate"), py::arg("channels") = 1)
//         .def("tone", &Audio::tone, py::arg("hz"), py::arg("ms"))
//         .property("volume", &Audio::volume, &Audio::set_volume);
//
// Parameter names come from the py::arg annotations, which every member with parameters needs;
// the stub spells an integer parameter `_Int` (SupportsIndex), as pybind11 then writes it too.
// Fast fronts (install_fast) take plain ints in range themselves and hand every other call to
// the member bound here, so that they refuse exactly as it does.

// Where a refused argument was given: the function and its parameters' names.
struct Context {
    std::string function;  // "pset()", "Framebuffer()", or "Framebuffer.title" for a setter
    std::vector<std::string> names;  // the parameters' names, `self` not included
    bool setter = false;
};

// One argument's place, spelled out only when a message needs it.
struct Where {
    const Context &context;
    std::size_t index;
    std::string text() const;
};

// The tag of every argument kind (a type with `signature`, `from` and a value it converts to).
struct Kind {};

// `hint` follows the refusal of a real number that is not an integer (a float, a Decimal, ...).
long long to_integer(py::handle object, long long lo, long long hi, const char *what,
                     const Where &where, const char *hint = ": use int() or round()");

// An integer kind: `Derived` names it and gives `what`, the phrase its refusals use.
template <typename Derived, typename T, long long Lo, long long Hi>
struct Integer : Kind {
    static constexpr char signature[] = "typing.SupportsIndex";
    T value;
    operator T() const { return value; }
    static Derived from(py::handle object, const Where &where) {
        Derived kind;
        kind.value = static_cast<T>(to_integer(object, Lo, Hi, Derived::what, where));
        return kind;
    }
};

struct Int : Integer<Int, int, INT32_MIN, INT32_MAX> {
    static constexpr const char *what = "a 32-bit integer (-2147483648 to 2147483647)";
};
struct Index : Integer<Index, std::uint8_t, 0, 255> {
    static constexpr const char *what = "a palette index 0 to 255";
};
struct Key : Integer<Key, int, -1, 255> {
    static constexpr const char *what = "a palette index 0 to 255, or -1 for none";
};

// A str, as UTF-8; a str that has none (a lone surrogate) raises UnicodeEncodeError.
struct Utf8 : Kind {
    static constexpr char signature[] = "str";
    std::string value;
    operator const std::string &() const { return value; }
    static Utf8 from(py::handle object, const Where &where);
};

// A str itself (subclasses too), for a member that reads its code points.
struct Str : Kind {
    static constexpr char signature[] = "str";
    py::str value;
    operator const py::str &() const { return value; }
    static Str from(py::handle object, const Where &where);
};

// Any object with the buffer protocol, which the member then checks for the layout it needs; a
// list or None is refused here with a message that says what to pass.
struct BufferArg : Kind {
    static constexpr char signature[] = "collections.abc.Buffer";
    py::buffer value;
    operator const py::buffer &() const { return value; }
    static BufferArg from(py::handle object, const Where &where);
};

// Every on/off argument and property: True or False, a NumPy bool, or the integers 0 and 1 (an
// int, a NumPy integer); None, 2, 0.0 or "yes" are more likely slips than meant, and are refused
// with TypeError "<where> must be True or False, not <type or value>".
struct Switch : Kind {
    static constexpr char signature[] = "bool";
    bool value;
    operator bool() const { return value; }
    static Switch from(py::handle object, const Where &where);
};

// A font: a Font object, or None for the built-in 8x8 font.
struct FontArg : Kind {
    static constexpr char signature[] = "Font | None";
    const font::Font *value;
    operator const font::Font &() const { return *value; }
    static FontArg from(py::handle object, const Where &where);
};

// How much larger text is drawn: each font pixel a scale x scale block.
struct Scale : Integer<Scale, int, 1, 65536> {
    static constexpr const char *what = "a scale 1 to 65536";
};

// What pybind11 hands a bound function for a parameter of kind K: the object itself, converted
// in the function's body, where the parameter's name is known.
template <typename K>
struct Arg {
    py::handle object;
};

// The kind of a C++ parameter type, or void for one pybind11 converts.
template <typename T, typename = void>
struct kind_of {
    using type = void;
};
template <>
struct kind_of<int> {
    using type = Int;
};
template <>
struct kind_of<std::uint8_t> {
    using type = Index;
};
template <>
struct kind_of<std::string> {
    using type = Utf8;
};
template <typename K>
struct kind_of<K, std::enable_if_t<std::is_base_of_v<Kind, K>>> {
    using type = K;
};
template <typename P>
using kind_t = typename kind_of<std::remove_cv_t<std::remove_reference_t<P>>>::type;
template <typename P>
using facing_t = std::conditional_t<std::is_void_v<kind_t<P>>, P, Arg<kind_t<P>>>;
template <typename P>
using stored_t =
    std::conditional_t<std::is_void_v<kind_t<P>>, std::add_lvalue_reference_t<P>, kind_t<P>>;

template <typename P>
stored_t<P> convert(facing_t<P> &argument, const Context &context, std::size_t index) {
    if constexpr (std::is_void_v<kind_t<P>>) {
        return argument;
    } else {
        return kind_t<P>::from(argument.object, Where{context, index});
    }
}

template <typename... P>
struct Params {};

// The parts of a member function, or of a lambda or function whose first parameter is the object.
template <typename R, typename S, typename... A>
struct call_signature {
    using self = std::remove_cv_t<std::remove_reference_t<S>>;
    using result = R;
    using params = Params<A...>;
};
template <typename M>
struct operator_signature;
template <typename L, typename R, typename S, typename... A>
struct operator_signature<R (L::*)(S, A...) const> : call_signature<R, S, A...> {};
template <typename M>
struct member_signature;
template <typename T, typename R, typename... A>
struct member_signature<R (T::*)(A...)> : call_signature<R, T &, A...> {};
template <typename T, typename R, typename... A>
struct member_signature<R (T::*)(A...) const> : call_signature<R, const T &, A...> {};

template <typename F, typename = void>
struct signature_of : operator_signature<decltype(&F::operator())> {};
template <typename F>
struct signature_of<F, std::enable_if_t<std::is_member_function_pointer_v<F>>>
    : member_signature<F> {};
template <typename R, typename S, typename... A>
struct signature_of<R (*)(S, A...)> : call_signature<R, S, A...> {};

// A factory: every parameter is an argument.
template <typename F>
struct factory_of : factory_of<decltype(&F::operator())> {};
template <typename L, typename R, typename... A>
struct factory_of<R (L::*)(A...) const> {
    using result = R;
    using params = Params<A...>;
};

// pybind11 hands a method an instance whose __init__ never ran (made by Framebuffer.__new__, or by
// a subclass that skipped super().__init__()) with no C++ object in it; using that crashes.
[[noreturn]] void not_constructed(const py::detail::type_info *type);

template <typename T>
const py::detail::type_info *type_of() {
    static const py::detail::type_info *type = py::detail::get_type_info(typeid(T));
    return type;
}

// Throws TypeError for such an object (or None); returns the object otherwise.
template <typename T>
T &constructed(T *object) {
    // A constructed object is registered with pybind11 under its address.
    if (object == nullptr || !py::detail::get_object_handle(object, type_of<T>())) {
        not_constructed(type_of<T>());
    }
    return *object;
}

// The C++ object in a Python `self` if its __init__ has run, else nullptr (no error set).
template <typename T>
T *initialised(PyObject *self) {
    auto *instance = reinterpret_cast<py::detail::instance *>(self);
    py::detail::value_and_holder v_h = instance->get_value_and_holder(type_of<T>(), false);
    return v_h && v_h.holder_constructed() ? v_h.value_ptr<T>() : nullptr;
}

template <typename Self, typename R, typename F, typename... P, std::size_t... I>
auto method(F f, std::shared_ptr<const Context> context, Params<P...>, std::index_sequence<I...>) {
    return [f, context](Self *self, facing_t<P>... arguments) -> R {
        Self &object = constructed(self);
        // Braces convert left to right: the first argument refused is the one reported.
        std::tuple<stored_t<P>...> values{convert<P>(arguments, *context, I)...};
        return std::apply([&](auto &...value) -> R { return std::invoke(f, object, value...); },
                          values);
    };
}

template <typename R, typename F, typename... P, std::size_t... I>
auto factory(F f, std::shared_ptr<const Context> context, Params<P...>, std::index_sequence<I...>) {
    return [f, context](facing_t<P>... arguments) -> R {
        std::tuple<stored_t<P>...> values{convert<P>(arguments, *context, I)...};
        return std::apply([&](auto &...value) -> R { return f(value...); }, values);
    };
}

// ---- Fast fronts -------------------------------------------------------------------------------

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

// ---- Lifecycle ---------------------------------------------------------------------------------

// Sets TypeError for a second __init__ and returns nullptr.
PyObject *already_constructed(const py::detail::type_info *type);

// __init__ of a class bound with Members::init: refuses a second call on a live object (pybind11
// would silently ignore it, whatever its arguments) and hands the first to pybind11's constructor.
template <typename T>
FastMethod &constructor() {
    static FastMethod method;
    return method;
}
template <typename T>
PyObject *init_front(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames) {
    if (initialised<T>(self)) return already_constructed(type_of<T>());
    return slow_path(constructor<T>(), self, args, nargs, kwnames);
}

// Refuses to pickle or copy instances of `cls` with TypeError, whatever the protocol.
void refuse_pickling(py::handle cls);

// Making an instance of a class that wraps no C++ type (pybind11's common base class, a Python
// class derived from it alone, or one made by calling the metaclass) aborts the process inside
// pybind11, whether by calling the class (what pickle's protocols 0 and 1 do) or its __new__;
// this makes every such way a TypeError. The base class and metaclass are this module's own
// (CMakeLists.txt: private internals): nothing of another extension's changes. Idempotent.
void guard_base_class();

inline void add_names(std::vector<std::string> &) {}
template <typename E, typename... Extra>
void add_names(std::vector<std::string> &names, const E &extra, const Extra &...rest) {
    if constexpr (std::is_base_of_v<py::arg, E>) names.emplace_back(extra.name);
    add_names(names, rest...);
}

// The members of one bound class, each converting its arguments as described above and checking
// that `self` was constructed. Mirrors py::class_'s def, def(py::init), def_property_readonly and
// def_property.
template <typename Class>
class Members {
public:
    using Self = typename Class::type;

    explicit Members(Class &cls) : cls_(cls), name_(py::str(cls.attr("__name__"))) {}

    template <typename F, typename... Extra>
    Members &def(const char *name, F f, const Extra &...extra) {
        using S = signature_of<F>;
        static_assert(std::is_same_v<typename S::self, Self>, "the first parameter is the object");
        cls_.def(name,
                 method<Self, typename S::result>(f, context(std::string(name) + "()", extra...),
                                                  typename S::params{}, indices<S>()),
                 extra...);
        return *this;
    }

    template <typename F, typename... Extra>
    Members &init(F f, const Extra &...extra) {
        using S = factory_of<F>;
        cls_.def(py::init(factory<typename S::result>(f, context(name_ + "()", extra...),
                                                      typename S::params{}, indices<S>())),
                 extra...);
        install_fast(cls_, "__init__", &init_front<Self>, constructor<Self>());
        return *this;
    }

    template <typename G>
    Members &readonly(const char *name, G getter) {
        cls_.def_property_readonly(name, accessor(name, getter));
        return named(name);
    }

    template <typename G, typename S>
    Members &property(const char *name, G getter, S setter) {
        cls_.def_property(name, accessor(name, getter), accessor(name, setter));
        return named(name);
    }

private:
    template <typename S>
    static auto indices() {
        return indices(typename S::params{});
    }
    template <typename... P>
    static auto indices(Params<P...>) {
        return std::index_sequence_for<P...>{};
    }

    template <typename... Extra>
    std::shared_ptr<const Context> context(std::string function, const Extra &...extra) {
        auto made = std::make_shared<Context>();
        made->function = std::move(function);
        add_names(made->names, extra...);
        return made;
    }

    template <typename F>
    auto accessor(const char *name, F f) {
        using S = signature_of<F>;
        auto made = std::make_shared<Context>();
        made->function = name_ + "." + name;
        made->setter = true;
        return method<Self, typename S::result>(f, std::move(made), typename S::params{},
                                                indices<S>());
    }

    // Properties made after the class have no name of their own: "property '' of 'Framebuffer'
    // object has no setter", unless told.
    Members &named(const char *name) {
        cls_.attr(name).attr("__set_name__")(cls_, name);
        return *this;
    }

    Class &cls_;
    std::string name_;
};

// Adds the input members (key, pressed, typed, wheel, mouse, axis, gamepads, cursor).
void register_input(FramebufferClass &cls);
void register_key_names(py::module_ &m);

// The testing kit's engine, the submodule _testing (register_testing.cpp).
void register_testing(py::module_ &m);

// The drawing kit (register_draw.cpp), served to Framebuffer and Canvas by one set of members and
// fast fronts: clear, pset and pget (register_pixels, where the class puts them in its order),
// then line, rect, circle, blit and text (register_draw, after the other members).
void register_pixels(FramebufferClass &cls);
void register_draw(FramebufferClass &cls);
// The class Canvas, the drawing kit on an array of the caller's, and text_size().
void register_canvas(py::module_ &m);

// The class Font and the built-in fonts FONT_8X8 and FONT_4X6 (register_font.cpp).
struct FontObject {
    std::shared_ptr<const font::Font> font;
};
void register_font(py::module_ &m);
// The font of a Font object; nullptr for any other object (None included).
const font::Font *font_of(PyObject *object);

// Adds the classes Audio and Voice (sound; src/platform/audio.h) to the module.
void register_audio(py::module_ &m);

}  // namespace jxfb

namespace pybind11::detail {

template <typename K>
struct type_caster<jxfb::Arg<K>> {
    PYBIND11_TYPE_CASTER(jxfb::Arg<K>, const_name(K::signature));
    bool load(handle src, bool) {
        value.object = src;
        return static_cast<bool>(src);
    }
};

}  // namespace pybind11::detail
