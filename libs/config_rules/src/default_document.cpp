#include "config/default_document.h"

#include <nlohmann/json.hpp>

#include "config/setting_value.h"
#include "config/settings.h"

namespace Quillmoor {

nlohmann::json BuildDefaultDocument(const Config& config) {
  nlohmann::json document = {{"ConfigVersion", kConfigVersion}};
  ForEachSetting([&](const auto& setting) {
    SlotOf(document, setting) = SettingValue(setting.field(config), FloatForm::kWidened);
  });
  return document;
}

}  // namespace Quillmoor
