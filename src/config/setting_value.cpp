#include "config/setting_value.h"

#include <charconv>

namespace Quillmoor {

nlohmann::json SettingValue(float value, FloatForm form) {
  if (form == FloatForm::kWidened) {
    return static_cast<double>(value);
  }
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  double shown = 0.0;
  std::from_chars(text, written.ptr, shown);
  return shown;
}

}  // namespace Quillmoor
