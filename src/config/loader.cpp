#include "config/loader.h"

namespace Quillmoor {

Config LoadConfig() {
  return Config{};
}

void ClampSetting(std::int32_t& field, std::int32_t low, std::int32_t high, const std::string&) {
  if (field < low)
    field = low;
  if (field > high)
    field = high;
}
void ClampSetting(float& field, float low, float high, const std::string&) {
  if (field < low)
    field = low;
  if (field > high)
    field = high;
}

}  // namespace Quillmoor
