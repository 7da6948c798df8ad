// The configuration guide, PluginConfig.guide.json: a read-only companion to
// PluginConfig.json that explains each setting and shows its built-in
// default. Pure: builds values and touches nothing; any thread.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <type_traits>

#include "config/settings.h"

namespace Quillmoor {

// The guide's content. Constant: it shows the defaults of Config{}, not the
// loaded values, and the texts of the settings table.
nlohmann::json BuildGuideDocument();

namespace detail {
std::string RangeText(std::int32_t low, std::int32_t high);
std::string RangeText(float low, float high);
std::string FillInfo(std::string_view info, std::string_view range, std::string_view order);
}  // namespace detail

// A setting's text as the guide shows it: its row's info with "{range}"
// written out from the row's range ("Range: 0.05-10") and "{order}" from the
// ordering it is the lower end of ("Must be <= NetUpdateFreq").
template <typename S>
std::string InfoText(const S& setting) {
  std::string range;
  if constexpr (S::kHasRange) {
    range = detail::RangeText(setting.range.low, setting.range.high);
  }
  std::string order;
  if constexpr (std::is_same_v<decltype(setting.field), decltype(kFrequencyOrder.lower)>) {
    order = "Must be <= " + std::string(SettingOf(kFrequencyOrder.upper).key);
  }
  return detail::FillInfo(setting.info, range, order);
}

}  // namespace Quillmoor
