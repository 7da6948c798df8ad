#include "config/default_document.h"

#include <nlohmann/json.hpp>

#include "config/settings.h"

namespace Quillmoor {
namespace {

template <typename T>
nlohmann::json DocumentValue(const T& value) {
  return value;
}

// Widened rather than re-rounded to a short decimal: 0.2f is written as
// 0.20000000298023224, which reads back as exactly the same float.
nlohmann::json DocumentValue(float value) {
  return static_cast<double>(value);
}

}  // namespace

nlohmann::json BuildDefaultDocument(const Config& config) {
  nlohmann::json document = {{"ConfigVersion", kConfigVersion}};
  ForEachSetting([&](const auto& setting) {
    SlotOf(document, setting) = DocumentValue(setting.field(config));
  });
  return document;
}

}  // namespace Quillmoor
