// The binding frame: one typed argument-conversion layer shared by every
// Python entry point. A binding is a declaration:
//
//     static PyObject* derive_lsh_seed(std::string_view mnemonic, kc::ByteView salt) { … }
//     def<"derive_lsh_seed(mnemonic, salt)", derive_lsh_seed>("Derive the LSH seed …")
//
// The signature text is written once: it becomes the first docstring line
// (so inspect.signature works), gives the keyword names and the defaults,
// and the C++ parameter types choose the conversions:
//
//   std::string_view          str only (UTF-8 view, valid for the call)
//   kc::ByteView              bytes only (not bytearray, not str)
//   std::int64_t              int (index protocol; not float)
//   std::uint64_t/uint32_t    int ≥ 0 that fits the width, else OverflowError
//   double                    float, int, or anything with __float__/__index__
//   bool                      bool only
//   Floats32 / Floats64       sequence (not str) of numbers, narrowed to 32 bits / kept at 64
//   std::vector<std::string>  sequence (not str) of str
//   std::vector<kc::Bytes>    sequence (not str) of byte sequences
//   std::vector<Floats32|64>  sequence of sequences of numbers
//   std::vector<std::optional<double>>  sequence of numbers or None
//   std::optional<T>          default None: omitted or None gives nullopt
//   LshRef                    an LshHasher instance (shared, read-only)
//
// Arguments bind positionally or by keyword; missing, surplus or unknown
// arguments raise TypeError; conversion failures raise TypeError or
// OverflowError naming the parameter; the first failing argument stops the
// call before the library runs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <charconv>
#include <cstdint>
#include <deque>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/error.hpp"
#include "frame/text.hpp"

namespace kc::crypto {
class LshHasher;
}

namespace kc::py {

// ---- signature text ---------------------------------------------------------

template <std::size_t N>
struct Lit {
    char s[N]{};
    constexpr Lit(const char (&a)[N]) {
        for (std::size_t i = 0; i < N; ++i) s[i] = a[i];
    }
    constexpr std::string_view view() const { return {s, N - 1}; }
};

struct ParamSpec {
    std::string_view name;
    std::string_view default_text;  // empty: required
};

constexpr std::string_view trim_spaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Index loops only: string_view::find compares pointers, which sanitizer
// builds refuse to evaluate at compile time.
constexpr std::size_t find_char(std::string_view s, char c, std::size_t from = 0) {
    for (std::size_t i = from; i < s.size(); ++i)
        if (s[i] == c) return i;
    return s.size();
}

constexpr std::size_t rfind_char(std::string_view s, char c) {
    for (std::size_t i = s.size(); i > 0; --i)
        if (s[i - 1] == c) return i - 1;
    return s.size();
}

// The text between the parentheses of "name(…)".
constexpr std::string_view param_text(std::string_view sig) {
    std::size_t open = find_char(sig, '(');
    std::size_t close = rfind_char(sig, ')');
    if (open >= sig.size() || close >= sig.size() || close <= open) return {};
    return sig.substr(open + 1, close - open - 1);
}

// Visits each parameter of "name(a, b=None, $self, …)"; `$`-names (the
// bound instance) are not arguments.
template <class Visit>
constexpr void for_each_param(std::string_view sig, Visit visit) {
    std::string_view inner = param_text(sig);
    std::size_t start = 0;
    while (start <= inner.size() && !inner.empty()) {
        std::size_t comma = find_char(inner, ',', start);
        std::string_view piece = trim_spaces(inner.substr(start, comma - start));
        if (!piece.empty() && piece[0] != '$') {
            std::size_t eq = find_char(piece, '=');
            if (eq == piece.size())
                visit(ParamSpec{piece, {}});
            else
                visit(ParamSpec{trim_spaces(piece.substr(0, eq)), trim_spaces(piece.substr(eq + 1))});
        }
        start = comma + 1;
    }
}

constexpr std::size_t count_params(std::string_view sig) {
    std::size_t n = 0;
    for_each_param(sig, [&](const ParamSpec&) { ++n; });
    return n;
}

template <std::size_t Count>
constexpr std::array<ParamSpec, Count> parse_params(std::string_view sig) {
    std::array<ParamSpec, Count> out{};
    std::size_t n = 0;
    for_each_param(sig, [&](const ParamSpec& p) { out[n++] = p; });
    return out;
}

template <Lit Sig>
struct Signature {
    static constexpr std::string_view text = Sig.view();
    static constexpr std::string_view name = text.substr(0, find_char(text, '('));
    static constexpr std::size_t count = count_params(text);
    static constexpr std::array<ParamSpec, count> params = parse_params<count>(text);
};

// Where a conversion happens, for messages.
struct ArgContext {
    std::string_view function;
    std::string_view parameter;
};

// ---- error raising ------------------------------------------------------------

// Raises the library error as ValueError carrying its display text.
void to_pyerr(const Error& e);
// Raises `type` with a UTF-8 message (embedded NULs kept).
void raise(PyObject* type, std::string_view message);
// "{f}() argument '{p}' must be {expected}, not {type}".
void raise_arg_type(const ArgContext& ctx, std::string_view expected, PyObject* got);

// Binding-level length check: ValueError "expected {n} bytes, got {len}".
bool require_len(ByteView b, std::size_t n);

// ---- argument binding ---------------------------------------------------------

// Places positional and keyword arguments into `slots` (borrowed), one per
// parameter; nullptr marks an omitted parameter that has a default.
bool bind_arguments(std::string_view function, const ParamSpec* params, std::size_t count,
                    PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames, PyObject** slots);

// ---- conversions ----------------------------------------------------------------

struct Floats32 : std::vector<float> {};
struct Floats64 : std::vector<double> {};

// A borrowed LshHasher; the instance outlives the call (the caller holds it).
struct LshRef {
    const crypto::LshHasher* hasher = nullptr;
    const crypto::LshHasher& operator*() const { return *hasher; }
    const crypto::LshHasher* operator->() const { return hasher; }
};
// Defined by the LshHasher binding: the hasher inside an instance, or
// nullptr when `o` is not one.
const crypto::LshHasher* lsh_unwrap(PyObject* o);

template <class T>
struct Conv;

template <>
struct Conv<std::string_view> {
    static bool convert(PyObject* o, std::string_view& out, const ArgContext& ctx);
};
template <>
struct Conv<ByteView> {
    static bool convert(PyObject* o, ByteView& out, const ArgContext& ctx);
};
template <>
struct Conv<std::int64_t> {
    static bool convert(PyObject* o, std::int64_t& out, const ArgContext& ctx);
    static bool from_literal(std::string_view lit, std::int64_t& out);
};
template <>
struct Conv<std::uint64_t> {
    static bool convert(PyObject* o, std::uint64_t& out, const ArgContext& ctx);
    static bool from_literal(std::string_view lit, std::uint64_t& out);
};
template <>
struct Conv<std::uint32_t> {
    static bool convert(PyObject* o, std::uint32_t& out, const ArgContext& ctx);
    static bool from_literal(std::string_view lit, std::uint32_t& out);
};
template <>
struct Conv<double> {
    static bool convert(PyObject* o, double& out, const ArgContext& ctx);
    static bool from_literal(std::string_view lit, double& out);
};
template <>
struct Conv<bool> {
    static bool convert(PyObject* o, bool& out, const ArgContext& ctx);
};
template <>
struct Conv<Floats32> {
    static bool convert(PyObject* o, Floats32& out, const ArgContext& ctx);
};
template <>
struct Conv<Floats64> {
    static bool convert(PyObject* o, Floats64& out, const ArgContext& ctx);
};
template <>
struct Conv<std::vector<std::string>> {
    static bool convert(PyObject* o, std::vector<std::string>& out, const ArgContext& ctx);
};
template <>
struct Conv<std::vector<Bytes>> {
    static bool convert(PyObject* o, std::vector<Bytes>& out, const ArgContext& ctx);
};
template <>
struct Conv<std::vector<Floats32>> {
    static bool convert(PyObject* o, std::vector<Floats32>& out, const ArgContext& ctx);
};
template <>
struct Conv<std::vector<Floats64>> {
    static bool convert(PyObject* o, std::vector<Floats64>& out, const ArgContext& ctx);
};
template <>
struct Conv<std::vector<std::optional<double>>> {
    static bool convert(PyObject* o, std::vector<std::optional<double>>& out, const ArgContext& ctx);
};
template <>
struct Conv<LshRef> {
    static bool convert(PyObject* o, LshRef& out, const ArgContext& ctx);
};
template <class T>
struct Conv<std::optional<T>> {
    static bool convert(PyObject* o, std::optional<T>& out, const ArgContext& ctx) {
        if (o == Py_None) {
            out.reset();
            return true;
        }
        T value{};
        if (!Conv<T>::convert(o, value, ctx)) return false;
        out = std::move(value);
        return true;
    }
};

// ---- results ----------------------------------------------------------------------

PyObject* to_py(std::string_view s);
inline PyObject* to_py(const std::string& s) { return to_py(std::string_view(s)); }
PyObject* to_py_bytes(ByteView b);
inline PyObject* to_py(const Bytes& b) { return to_py_bytes(b); }
template <std::size_t N>
PyObject* to_py(const std::array<std::uint8_t, N>& b) {
    return to_py_bytes(ByteView(b.data(), N));
}
PyObject* to_py(bool v);
PyObject* to_py(double v);
PyObject* to_py(std::int64_t v);
PyObject* to_py(std::uint64_t v);
inline PyObject* to_py(std::uint32_t v) { return to_py(static_cast<std::uint64_t>(v)); }
inline PyObject* to_py(Unit) { Py_RETURN_NONE; }
PyObject* to_py(const std::vector<std::string>& v);
template <class T>
PyObject* to_py(const std::vector<std::vector<T>>& v) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(v.size()));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < v.size(); ++i) {
        PyObject* item = to_py(v[i]);
        if (!item) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    return list;
}
PyObject* to_py(const std::vector<float>& v);
PyObject* to_py(const std::vector<std::int64_t>& v);
template <class T>
PyObject* to_py(const std::optional<T>& v) {
    if (!v) Py_RETURN_NONE;
    return to_py(*v);
}

// A library result: the value, or ValueError with the error's display text.
template <class T>
PyObject* ret(const Result<T>& r) {
    if (!r) {
        to_pyerr(r.error());
        return nullptr;
    }
    return to_py(*r);
}

// A serialised JSON result: the text, or RuntimeError with the serialiser's
// message.
PyObject* ret_json(const std::expected<std::string, std::string>& r);

// A library result whose value is serialised as JSON by `write`.
template <class T, class Write>
PyObject* ret_json(const Result<T>& r, Write&& write) {
    if (!r) {
        to_pyerr(r.error());
        return nullptr;
    }
    return ret_json(write(*r));
}

// Builds a dict from (key, new reference) pairs in insertion order; steals
// the values and fails cleanly if any is null.
PyObject* make_dict(std::initializer_list<std::pair<const char*, PyObject*>> items);

// ---- the trampoline ---------------------------------------------------------------

template <class F>
struct FnTraits;
template <class R, class... A>
struct FnTraits<R (*)(A...)> {
    using Args = std::tuple<std::decay_t<A>...>;
    static constexpr std::size_t arity = sizeof...(A);
};

template <class T>
bool convert_default(std::string_view lit, T& out) {
    if constexpr (requires { Conv<T>::from_literal(lit, out); }) {
        return Conv<T>::from_literal(lit, out);
    } else {
        static_assert(sizeof(T) == 0, "only optional parameters may default to None");
        return false;
    }
}

template <class T>
bool convert_slot(PyObject* o, const ParamSpec& param, T& out, std::string_view function) {
    if (o == nullptr) {
        if constexpr (requires { out.reset(); out.has_value(); }) {
            if (param.default_text == "None") {
                out.reset();
                return true;
            }
        }
        if constexpr (requires { Conv<T>::from_literal(param.default_text, out); }) {
            if (Conv<T>::from_literal(param.default_text, out)) return true;
        }
        raise(PyExc_SystemError, "bad default in signature");
        return false;
    }
    return Conv<T>::convert(o, out, ArgContext{function, param.name});
}

template <class Sig, auto Impl, class Self, std::size_t... I>
PyObject* convert_and_call(Self self, PyObject** slots, std::index_sequence<I...>) {
    using Args = typename FnTraits<decltype(Impl)>::Args;
    constexpr std::size_t skip = std::is_same_v<Self, std::nullptr_t> ? 0 : 1;
    try {
        Args values{};
        bool ok = (convert_slot(slots[I], Sig::params[I], std::get<I + skip>(values), Sig::name) && ...);
        if (!ok) return nullptr;
        if constexpr (skip) std::get<0>(values) = self;
        return std::apply(Impl, std::move(values));
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        raise(PyExc_RuntimeError, e.what());
        return nullptr;
    } catch (...) {
        raise(PyExc_RuntimeError, "internal error");
        return nullptr;
    }
}

template <Lit SigText, auto Impl>
PyObject* fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    using Sig = Signature<SigText>;
    static_assert(FnTraits<decltype(Impl)>::arity == Sig::count, "signature and implementation disagree");
    PyObject* slots[Sig::count + 1] = {};
    if (!bind_arguments(Sig::name, Sig::params.data(), Sig::count, args, nargsf, kwnames, slots)) return nullptr;
    return convert_and_call<Sig, Impl>(nullptr, slots, std::make_index_sequence<Sig::count>());
}

// A method: the implementation's first parameter receives `self`.
template <Lit SigText, auto Impl>
PyObject* method_fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    using Sig = Signature<SigText>;
    static_assert(FnTraits<decltype(Impl)>::arity == Sig::count + 1, "signature and implementation disagree");
    PyObject* slots[Sig::count + 1] = {};
    if (!bind_arguments(Sig::name, Sig::params.data(), Sig::count, args, nargsf, kwnames, slots)) return nullptr;
    return convert_and_call<Sig, Impl>(self, slots, std::make_index_sequence<Sig::count>());
}

// Keeps docstrings and names alive for the life of the process.
const char* intern_text(std::string text);

// The method table entry of a module function.
template <Lit SigText, auto Impl>
PyMethodDef def(std::string_view prose) {
    using Sig = Signature<SigText>;
    const char* name = intern_text(std::string(Sig::name));
    const char* doc = intern_text(cat(Sig::text, "\n--\n\n", prose));
    return PyMethodDef{name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall<SigText, Impl>)),
                       METH_FASTCALL | METH_KEYWORDS, doc};
}

// The method table entry of an instance method; the signature names the
// bound instance as `$self`.
template <Lit SigText, auto Impl>
PyMethodDef method(std::string_view prose) {
    using Sig = Signature<SigText>;
    const char* name = intern_text(std::string(Sig::name));
    const char* doc = intern_text(cat(Sig::text, "\n--\n\n", prose));
    return PyMethodDef{name,
                       reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&method_fastcall<SigText, Impl>)),
                       METH_FASTCALL | METH_KEYWORDS, doc};
}

// Calls a fast-call function with a classic (tuple, dict) argument pair,
// for slots such as tp_new.
PyObject* call_with_tuple(PyObject* (*fn)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*), PyObject* self,
                          PyObject* args, PyObject* kwargs);

// Adds each function to the module, in order.
int add_functions(PyObject* module, const std::vector<PyMethodDef>& defs);

}  // namespace kc::py
