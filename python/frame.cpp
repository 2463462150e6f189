#include "frame.hpp"

#include "frame/numeric.hpp"

#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>

namespace kc::py {

// ---- errors -------------------------------------------------------------------

void raise(PyObject* type, std::string_view message) {
    PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (!text) return;
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

void to_pyerr(const Error& e) { raise(PyExc_ValueError, e.display()); }

void raise_arg_type(const ArgContext& ctx, std::string_view expected, PyObject* got) {
    raise(PyExc_TypeError,
          cat(ctx.function, "() argument '", ctx.parameter, "' must be ", expected, ", not ", Py_TYPE(got)->tp_name));
}

static void raise_overflow(const ArgContext& ctx, std::string_view range) {
    raise(PyExc_OverflowError, cat(ctx.function, "() argument '", ctx.parameter, "' is out of range (", range, ")"));
}

bool require_len(ByteView b, std::size_t n) {
    if (b.size() == n) return true;
    raise(PyExc_ValueError, cat("expected ", n, " bytes, got ", b.size()));
    return false;
}

// ---- binding ---------------------------------------------------------------------

bool bind_arguments(std::string_view function, const ParamSpec* params, std::size_t count, PyObject* const* args,
                    Py_ssize_t nargsf, PyObject* kwnames, PyObject** slots) {
    const std::size_t nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    if (nargs > count) {
        raise(PyExc_TypeError, cat(function, "() takes at most ", count, " argument", count == 1 ? "" : "s", " (",
                                   nargs, " given)"));
        return false;
    }
    for (std::size_t i = 0; i < nargs; ++i) slots[i] = args[i];
    if (kwnames) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            Py_ssize_t len = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(key, &len);
            if (!utf8) return false;
            std::string_view name(utf8, static_cast<std::size_t>(len));
            std::size_t i = 0;
            while (i < count && params[i].name != name) ++i;
            if (i == count) {
                raise(PyExc_TypeError, cat(function, "() got an unexpected keyword argument '", name, "'"));
                return false;
            }
            if (slots[i]) {
                raise(PyExc_TypeError, cat(function, "() got multiple values for argument '", name, "'"));
                return false;
            }
            slots[i] = args[nargs + static_cast<std::size_t>(k)];
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (!slots[i] && params[i].default_text.empty()) {
            raise(PyExc_TypeError,
                  cat(function, "() missing required argument '", params[i].name, "' (pos ", i + 1, ")"));
            return false;
        }
    }
    return true;
}

PyObject* call_with_tuple(PyObject* (*fn)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*), PyObject* self,
                          PyObject* args, PyObject* kwargs) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
    if (nkw == 0) return fn(self, &PyTuple_GET_ITEM(args, 0), nargs, nullptr);
    std::vector<PyObject*> flat(static_cast<std::size_t>(nargs + nkw));
    for (Py_ssize_t i = 0; i < nargs; ++i) flat[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    PyObject* names = PyTuple_New(nkw);
    if (!names) return nullptr;
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
        Py_INCREF(key);
        PyTuple_SET_ITEM(names, k, key);
        flat[static_cast<std::size_t>(nargs + k)] = value;
        ++k;
    }
    PyObject* result = fn(self, flat.data(), nargs, names);
    Py_DECREF(names);
    return result;
}

// ---- scalar conversions -------------------------------------------------------------

bool Conv<std::string_view>::convert(PyObject* o, std::string_view& out, const ArgContext& ctx) {
    if (!PyUnicode_Check(o)) {
        raise_arg_type(ctx, "str", o);
        return false;
    }
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(o, &len);
    if (!utf8) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(len));
    return true;
}

bool Conv<ByteView>::convert(PyObject* o, ByteView& out, const ArgContext& ctx) {
    if (!PyBytes_Check(o)) {
        raise_arg_type(ctx, "bytes", o);
        return false;
    }
    out = ByteView(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(o)),
                   static_cast<std::size_t>(PyBytes_GET_SIZE(o)));
    return true;
}

// The integer value of an index-protocol object (int, bool, numpy ints);
// float and str are refused.
static PyObject* index_of(PyObject* o, const ArgContext& ctx) {
    if (PyLong_Check(o)) {
        Py_INCREF(o);
        return o;
    }
    if (PyFloat_Check(o) || !PyIndex_Check(o)) {
        raise_arg_type(ctx, "int", o);
        return nullptr;
    }
    return PyNumber_Index(o);
}

bool Conv<std::int64_t>::convert(PyObject* o, std::int64_t& out, const ArgContext& ctx) {
    PyObject* v = index_of(o, ctx);
    if (!v) return false;
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(v, &overflow);
    Py_DECREF(v);
    if (overflow) {
        raise_overflow(ctx, "must fit a signed 64-bit integer");
        return false;
    }
    if (value == -1 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

static bool convert_unsigned(PyObject* o, std::uint64_t& out, std::uint64_t max, const ArgContext& ctx,
                             std::string_view range) {
    PyObject* v = index_of(o, ctx);
    if (!v) return false;
    unsigned long long value = PyLong_AsUnsignedLongLong(v);
    Py_DECREF(v);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        // Negative values and values beyond 64 bits both land here.
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
        PyErr_Clear();
        raise_overflow(ctx, range);
        return false;
    }
    if (value > max) {
        raise_overflow(ctx, range);
        return false;
    }
    out = value;
    return true;
}

bool Conv<std::uint64_t>::convert(PyObject* o, std::uint64_t& out, const ArgContext& ctx) {
    return convert_unsigned(o, out, std::numeric_limits<std::uint64_t>::max(), ctx,
                            "must be a non-negative integer below 2**64");
}

bool Conv<std::uint32_t>::convert(PyObject* o, std::uint32_t& out, const ArgContext& ctx) {
    std::uint64_t wide = 0;
    if (!convert_unsigned(o, wide, std::numeric_limits<std::uint32_t>::max(), ctx,
                          "must be a non-negative integer below 2**32"))
        return false;
    out = static_cast<std::uint32_t>(wide);
    return true;
}

template <class T>
static bool integer_literal(std::string_view lit, T& out) {
    auto r = std::from_chars(lit.data(), lit.data() + lit.size(), out);
    return r.ec == std::errc() && r.ptr == lit.data() + lit.size();
}

bool Conv<std::int64_t>::from_literal(std::string_view lit, std::int64_t& out) { return integer_literal(lit, out); }
bool Conv<std::uint64_t>::from_literal(std::string_view lit, std::uint64_t& out) { return integer_literal(lit, out); }
bool Conv<std::uint32_t>::from_literal(std::string_view lit, std::uint32_t& out) { return integer_literal(lit, out); }

bool Conv<double>::from_literal(std::string_view lit, double& out) {
    auto r = std::from_chars(lit.data(), lit.data() + lit.size(), out);
    return r.ec == std::errc() && r.ptr == lit.data() + lit.size();
}

// A number as a double: float fast path, then anything with __float__ or
// __index__. `what` describes the expected type for the message.
static bool number_of(PyObject* o, double& out, const ArgContext& ctx, std::string_view what) {
    if (PyFloat_CheckExact(o)) {
        out = PyFloat_AS_DOUBLE(o);
        return true;
    }
    if (PyUnicode_Check(o) || PyBytes_Check(o) || PyByteArray_Check(o) || o == Py_None) {
        raise_arg_type(ctx, what, o);
        return false;
    }
    double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            raise_arg_type(ctx, what, o);
        }
        return false;
    }
    out = v;
    return true;
}

bool Conv<double>::convert(PyObject* o, double& out, const ArgContext& ctx) {
    return number_of(o, out, ctx, "a real number");
}

bool Conv<bool>::convert(PyObject* o, bool& out, const ArgContext& ctx) {
    if (!PyBool_Check(o)) {
        raise_arg_type(ctx, "bool", o);
        return false;
    }
    out = o == Py_True;
    return true;
}

// ---- sequences ----------------------------------------------------------------------

// Walks a sequence (not str) item by item. Lists and tuples are read in
// place with the size re-read on every step, so an item conversion that runs
// Python code and shrinks the list cannot make us read past its end.
template <class Each>
static bool for_each_item(PyObject* o, const ArgContext& ctx, std::string_view what, Each&& each) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) {
        raise_arg_type(ctx, what, o);
        return false;
    }
    if (PyList_Check(o) || PyTuple_Check(o)) {
        const bool list = PyList_Check(o);
        for (Py_ssize_t i = 0;; ++i) {
            Py_ssize_t size = list ? PyList_GET_SIZE(o) : PyTuple_GET_SIZE(o);
            if (i >= size) break;
            PyObject* item = list ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i);
            Py_INCREF(item);
            bool ok = each(item, static_cast<std::size_t>(i), size);
            Py_DECREF(item);
            if (!ok) return false;
        }
        return true;
    }
    Py_ssize_t size = PySequence_Size(o);
    if (size < 0) return false;
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item = PySequence_GetItem(o, i);
        if (!item) return false;
        bool ok = each(item, static_cast<std::size_t>(i), size);
        Py_DECREF(item);
        if (!ok) return false;
    }
    return true;
}

static std::string item_name(const ArgContext& ctx, std::size_t i) { return cat(ctx.parameter, "[", i, "]"); }

template <class V, class Narrow>
static bool number_list(PyObject* o, V& out, const ArgContext& ctx, Narrow narrow) {
    out.clear();
    return for_each_item(o, ctx, "a sequence of numbers", [&](PyObject* item, std::size_t i, Py_ssize_t size) {
        if (i == 0) out.reserve(static_cast<std::size_t>(size));
        double v = 0;
        if (PyFloat_CheckExact(item)) {
            v = PyFloat_AS_DOUBLE(item);
        } else {
            std::string name = item_name(ctx, i);
            if (!number_of(item, v, ArgContext{ctx.function, name}, "a real number")) return false;
        }
        out.push_back(narrow(v));
        return true;
    });
}

bool Conv<Floats32>::convert(PyObject* o, Floats32& out, const ArgContext& ctx) {
    return number_list(o, out, ctx, [](double v) { return narrow_to_float(v); });
}

bool Conv<Floats64>::convert(PyObject* o, Floats64& out, const ArgContext& ctx) {
    return number_list(o, out, ctx, [](double v) { return v; });
}

bool Conv<std::vector<std::optional<double>>>::convert(PyObject* o, std::vector<std::optional<double>>& out,
                                                       const ArgContext& ctx) {
    out.clear();
    return for_each_item(o, ctx, "a sequence of numbers or None", [&](PyObject* item, std::size_t i, Py_ssize_t) {
        if (item == Py_None) {
            out.emplace_back();
            return true;
        }
        double v = 0;
        std::string name = item_name(ctx, i);
        if (!number_of(item, v, ArgContext{ctx.function, name}, "a real number or None")) return false;
        out.emplace_back(v);
        return true;
    });
}

bool Conv<std::vector<std::string>>::convert(PyObject* o, std::vector<std::string>& out, const ArgContext& ctx) {
    out.clear();
    return for_each_item(o, ctx, "a sequence of str", [&](PyObject* item, std::size_t i, Py_ssize_t) {
        std::string name = item_name(ctx, i);
        std::string_view s;
        if (!Conv<std::string_view>::convert(item, s, ArgContext{ctx.function, name})) return false;
        out.emplace_back(s);
        return true;
    });
}

bool Conv<std::vector<Bytes>>::convert(PyObject* o, std::vector<Bytes>& out, const ArgContext& ctx) {
    out.clear();
    return for_each_item(o, ctx, "a sequence of bytes", [&](PyObject* item, std::size_t i, Py_ssize_t) {
        std::string name = item_name(ctx, i);
        ArgContext inner{ctx.function, name};
        if (PyBytes_Check(item)) {
            auto* p = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(item));
            out.emplace_back(p, p + PyBytes_GET_SIZE(item));
            return true;
        }
        if (PyByteArray_Check(item)) {
            auto* p = reinterpret_cast<const std::uint8_t*>(PyByteArray_AS_STRING(item));
            out.emplace_back(p, p + PyByteArray_GET_SIZE(item));
            return true;
        }
        // Any other sequence of integers 0..255 is a byte sequence too.
        Bytes bytes;
        bool ok = for_each_item(item, inner, "bytes", [&](PyObject* b, std::size_t k, Py_ssize_t) {
            std::string byte_name = item_name(inner, k);
            std::uint64_t v = 0;
            if (!convert_unsigned(b, v, 255, ArgContext{ctx.function, byte_name}, "must be in range(0, 256)"))
                return false;
            bytes.push_back(static_cast<std::uint8_t>(v));
            return true;
        });
        if (!ok) return false;
        out.push_back(std::move(bytes));
        return true;
    });
}

template <class Inner>
static bool nested_list(PyObject* o, std::vector<Inner>& out, const ArgContext& ctx) {
    out.clear();
    return for_each_item(o, ctx, "a sequence of sequences of numbers",
                         [&](PyObject* item, std::size_t i, Py_ssize_t size) {
                             if (i == 0) out.reserve(static_cast<std::size_t>(size));
                             std::string name = item_name(ctx, i);
                             Inner inner;
                             if (!Conv<Inner>::convert(item, inner, ArgContext{ctx.function, name})) return false;
                             out.push_back(std::move(inner));
                             return true;
                         });
}

bool Conv<std::vector<Floats32>>::convert(PyObject* o, std::vector<Floats32>& out, const ArgContext& ctx) {
    return nested_list(o, out, ctx);
}

bool Conv<std::vector<Floats64>>::convert(PyObject* o, std::vector<Floats64>& out, const ArgContext& ctx) {
    return nested_list(o, out, ctx);
}

bool Conv<LshRef>::convert(PyObject* o, LshRef& out, const ArgContext& ctx) {
    const crypto::LshHasher* h = lsh_unwrap(o);
    if (!h) {
        raise_arg_type(ctx, "LshHasher", o);
        return false;
    }
    out.hasher = h;
    return true;
}

// ---- results ----------------------------------------------------------------------------

PyObject* to_py(std::string_view s) {
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}

PyObject* to_py_bytes(ByteView b) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(b.data()), static_cast<Py_ssize_t>(b.size()));
}

PyObject* to_py(bool v) { return PyBool_FromLong(v); }
PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
PyObject* to_py(std::int64_t v) { return PyLong_FromLongLong(v); }
PyObject* to_py(std::uint64_t v) { return PyLong_FromUnsignedLongLong(v); }

template <class V, class Make>
static PyObject* make_list(const V& v, Make make) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(v.size()));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < v.size(); ++i) {
        PyObject* item = make(v[i]);
        if (!item) {
            Py_DECREF(list);
            return nullptr;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

PyObject* to_py(const std::vector<std::string>& v) {
    return make_list(v, [](const std::string& s) { return to_py(std::string_view(s)); });
}
PyObject* to_py(const std::vector<float>& v) {
    return make_list(v, [](float f) { return PyFloat_FromDouble(static_cast<double>(f)); });
}
PyObject* to_py(const std::vector<std::int64_t>& v) {
    return make_list(v, [](std::int64_t i) { return PyLong_FromLongLong(i); });
}

PyObject* ret_json(const std::expected<std::string, std::string>& r) {
    if (!r) {
        raise(PyExc_RuntimeError, r.error());
        return nullptr;
    }
    return to_py(*r);
}

PyObject* make_dict(std::initializer_list<std::pair<const char*, PyObject*>> items) {
    bool ok = true;
    for (const auto& [key, value] : items) ok = ok && value;
    PyObject* dict = ok ? PyDict_New() : nullptr;
    for (const auto& [key, value] : items) {
        if (dict && PyDict_SetItemString(dict, key, value) < 0) Py_CLEAR(dict);
        Py_XDECREF(value);
    }
    return dict;
}

// ---- registration ---------------------------------------------------------------------------

const char* intern_text(std::string text) {
    static std::mutex lock;
    static std::deque<std::string> texts;
    std::lock_guard<std::mutex> guard(lock);
    texts.push_back(std::move(text));
    return texts.back().c_str();
}

int add_functions(PyObject* module, const std::vector<PyMethodDef>& defs) {
    // Method definitions must outlive the function objects made from them.
    static std::deque<PyMethodDef> kept;
    PyObject* module_name = PyModule_GetNameObject(module);
    if (!module_name) return -1;
    int status = 0;
    for (const PyMethodDef& d : defs) {
        kept.push_back(d);
        PyObject* fn = PyCFunction_NewEx(&kept.back(), nullptr, module_name);
        if (!fn || PyModule_AddObjectRef(module, d.ml_name, fn) < 0) status = -1;
        Py_XDECREF(fn);
        if (status < 0) break;
    }
    Py_DECREF(module_name);
    return status;
}

}  // namespace kc::py
