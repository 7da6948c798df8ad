#include "config/typed_read.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>

namespace Quillmoor::detail {
namespace {

using nlohmann::json;
using value_t = json::value_t;

// The library converts numbers to the field type with a plain cast, which is
// undefined for 1e10 into an int32 and wraps 3000000000 to a negative
// number (and 4294967299 to 3, a valid version). Saturating instead lets the
// range check see a value on the right side of the range.
template <typename Int, typename Source>
Int SaturateInteger(Source value) {
  if (std::cmp_less(value, std::numeric_limits<Int>::min())) {
    return std::numeric_limits<Int>::min();
  }
  if (std::cmp_greater(value, std::numeric_limits<Int>::max())) {
    return std::numeric_limits<Int>::max();
  }
  return static_cast<Int>(value);
}

template <typename Int>
Int TruncateToInteger(double value) {
  // The parser never yields NaN or infinity; the first test only keeps the
  // cast below defined for every double.
  if (std::isnan(value)) {
    return 0;
  }
  // Both bounds are exact in a double for any Int up to 32 bits.
  if (value <= static_cast<double>(std::numeric_limits<Int>::min())) {
    return std::numeric_limits<Int>::min();
  }
  if (value >= static_cast<double>(std::numeric_limits<Int>::max())) {
    return std::numeric_limits<Int>::max();
  }
  return static_cast<Int>(value);  // truncates toward zero
}

float SaturateFloat(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) {
    return std::numeric_limits<float>::max();
  }
  if (value < -kMax) {
    return std::numeric_limits<float>::lowest();
  }
  return static_cast<float>(value);
}

// The element at `key`, or null if absent; throws as value() does when
// `section` is not an object.
const json* Find(const json& section, std::string_view key) {
  if (!section.is_object()) {
    throw json::type_error::create(
        306, std::string("cannot use value() with ") + section.type_name(), &section);
  }
  const auto it = section.find(key);
  return it == section.end() ? nullptr : &*it;
}

}  // namespace

void ReadSetting(const json& section, std::string_view key, bool& field) {
  if (const json* v = Find(section, key)) {
    field = v->get<bool>();
  }
}

void ReadSetting(const json& section, std::string_view key, std::string& field) {
  if (const json* v = Find(section, key)) {
    field = v->get<std::string>();
  }
}

void ReadSetting(const json& section, std::string_view key, std::int32_t& field) {
  const json* v = Find(section, key);
  if (v == nullptr) {
    return;
  }
  switch (v->type()) {
    case value_t::number_integer:
      field = SaturateInteger<std::int32_t>(v->get<json::number_integer_t>());
      break;
    case value_t::number_unsigned:
      field = SaturateInteger<std::int32_t>(v->get<json::number_unsigned_t>());
      break;
    case value_t::number_float:
      field = TruncateToInteger<std::int32_t>(v->get<json::number_float_t>());
      break;
    case value_t::boolean:
      field = v->get<bool>() ? 1 : 0;
      break;
    default:
      field = v->get<std::int32_t>();  // throws the library's own type error
      break;
  }
}

void ReadSetting(const json& section, std::string_view key, float& field) {
  const json* v = Find(section, key);
  if (v == nullptr) {
    return;
  }
  switch (v->type()) {
    case value_t::number_integer:
      field = static_cast<float>(v->get<json::number_integer_t>());
      break;
    case value_t::number_unsigned:
      field = static_cast<float>(v->get<json::number_unsigned_t>());
      break;
    case value_t::number_float:
      field = SaturateFloat(v->get<json::number_float_t>());
      break;
    case value_t::boolean:
      field = v->get<bool>() ? 1.0f : 0.0f;
      break;
    default:
      field = v->get<float>();  // throws the library's own type error
      break;
  }
}

}  // namespace Quillmoor::detail
