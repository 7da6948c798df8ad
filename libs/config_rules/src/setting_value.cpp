#include "config/setting_value.h"

#include <charconv>

namespace Quillmoor {

nlohmann::json SettingValue(float value, FloatForm form) {
  if (form == FloatForm::kWidened) {
    return static_cast<double>(value);
  }
  const std::string text = ShortestText(value);
  double shown = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), shown);
  return shown;
}

std::string ShortestText(float value) {
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

}  // namespace Quillmoor
