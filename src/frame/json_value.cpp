#include "frame/json_value.hpp"

#include <algorithm>

namespace kc::json {

using simdjson::dom::element_type;

const Value* Value::get(std::string_view key) const {
    if (kind != Kind::Object) return nullptr;
    auto it = std::lower_bound(object.begin(), object.end(), key,
                               [](const auto& member, std::string_view k) { return member.first < k; });
    if (it == object.end() || it->first != key) return nullptr;
    return &it->second;
}

Value to_value(Element e) {
    Value v;
    switch (e.type()) {
        case element_type::NULL_VALUE: break;
        case element_type::BOOL:
            v.kind = Value::Kind::Bool;
            v.boolean = e.get_bool().value_unsafe();
            break;
        case element_type::INT64: {
            std::int64_t i = e.get_int64().value_unsafe();
            if (i >= 0) {
                v.kind = Value::Kind::UInt;
                v.uint_value = static_cast<std::uint64_t>(i);
            } else {
                v.kind = Value::Kind::Int;
                v.int_value = i;
            }
            break;
        }
        case element_type::UINT64:
            v.kind = Value::Kind::UInt;
            v.uint_value = e.get_uint64().value_unsafe();
            break;
        case element_type::DOUBLE:
            v.kind = Value::Kind::Double;
            v.double_value = e.get_double().value_unsafe();
            break;
        case element_type::STRING:
            v.kind = Value::Kind::String;
            v.string = std::string(e.get_string().value_unsafe());
            break;
        case element_type::ARRAY: {
            v.kind = Value::Kind::Array;
            Array items = e.get_array().value_unsafe();
            for (auto item : items) v.array.push_back(to_value(item));
            break;
        }
        case element_type::OBJECT: {
            v.kind = Value::Kind::Object;
            Object members = e.get_object().value_unsafe();
            for (auto field : members) {
                std::string key(field.key);
                auto it = std::lower_bound(v.object.begin(), v.object.end(), key,
                                           [](const auto& member, const std::string& k) { return member.first < k; });
                if (it != v.object.end() && it->first == key)
                    it->second = to_value(field.value);
                else
                    v.object.emplace(it, std::move(key), to_value(field.value));
            }
            break;
        }
    }
    return v;
}

void write_value(Writer& w, const Value& v) {
    switch (v.kind) {
        case Value::Kind::Null: w.null(); break;
        case Value::Kind::Bool: w.boolean(v.boolean); break;
        case Value::Kind::Int: w.integer(v.int_value); break;
        case Value::Kind::UInt: w.unsigned_integer(v.uint_value); break;
        case Value::Kind::Double: w.number(v.double_value); break;
        case Value::Kind::String: w.string(v.string); break;
        case Value::Kind::Array:
            w.begin_array();
            for (const auto& item : v.array) write_value(w, item);
            w.end_array();
            break;
        case Value::Kind::Object:
            w.begin_object();
            for (const auto& [key, item] : v.object) {
                w.key(key);
                write_value(w, item);
            }
            w.end_object();
            break;
    }
}

std::string to_compact_json(const Value& v) {
    Writer w;
    write_value(w, v);
    // Values read from a parsed document always hold valid UTF-8.
    return std::move(w).finish().value_or(std::string());
}

}  // namespace kc::json
