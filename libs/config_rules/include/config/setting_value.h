// A setting's value as it is written into a JSON document. Pure; any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace Quillmoor {

// How a 32-bit float setting is written. kWidened: the float widened to
// double (0.2f as 0.20000000298023224), which reads back as exactly the same
// float; the defaults document that the plugin reads again. kShortest: the
// double nearest the float's shortest decimal text (0.2f as 0.2), what an
// operator should type; the guide.
enum class FloatForm { kWidened, kShortest };

template <typename T>
nlohmann::json SettingValue(const T& value, FloatForm /*form*/) {
  return value;
}
nlohmann::json SettingValue(float value, FloatForm form);

// The shortest text that reads back as exactly `value`: 0.2f as "0.2", its
// neighbour as "0.20000002", 5.0f as "5".
std::string ShortestText(float value);

}  // namespace Quillmoor
