// A free JSON value (untyped objects such as a session-key grant). Objects
// keep their members sorted by key, so writing one back yields ascending
// key order; a repeated key keeps its last value.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "frame/json_reader.hpp"
#include "frame/json_writer.hpp"

namespace kc::json {

struct Value {
    enum class Kind : std::uint8_t { Null, Bool, Int, UInt, Double, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::int64_t int_value = 0;    // Kind::Int (negative integers)
    std::uint64_t uint_value = 0;  // Kind::UInt (non-negative integers)
    double double_value = 0;       // Kind::Double
    std::string string;
    std::vector<Value> array;
    std::vector<std::pair<std::string, Value>> object;  // sorted by key

    bool is_object() const { return kind == Kind::Object; }
    // The member with that key, or null when absent or not an object.
    const Value* get(std::string_view key) const;
};

Value to_value(Element e);
void write_value(Writer& w, const Value& v);
// Compact text of a value.
std::string to_compact_json(const Value& v);

}  // namespace kc::json
