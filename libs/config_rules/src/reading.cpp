#include "config/reading.h"

#include <exception>
#include <nlohmann/json.hpp>
#include <sstream>
#include <type_traits>
#include <utility>

#include "config/settings.h"
#include "config/typed_read.h"

namespace Quillmoor {
namespace {

using detail::ReadSetting;
using nlohmann::json;

// The section that holds `setting`, or nullptr when it is to be skipped.
// REQUIRES: `doc` is an object (the version read has checked that).
template <typename S>
const json* SectionOf(const json& doc, const S& setting) {
  if (setting.section.empty()) {
    return &doc;
  }
  static const json kAbsent;
  const auto it = doc.find(setting.section);
  if (it != doc.end()) {
    return &*it;
  }
  // Without a presence test an absent section reads as null, so the read
  // fails as value() on null does.
  return FindSection(setting.section)->lookup == Lookup::kWithoutPresenceTest ? &kAbsent : nullptr;
}

// Each value goes into its field as soon as it is read, so a type error
// leaves everything before it read and everything after it at its default.
// `at` names the read under way when an exception leaves.
void ReadSettings(const json& doc, Config& config, std::string& at) {
  ForEachSetting([&](const auto& setting) {
    at = setting.KeyPath();
    if (const json* section = SectionOf(doc, setting)) {
      ReadSetting(*section, setting.key, setting.field(config));
    }
  });
}

// Parses, checks the version and reads the settings into `reading`, stopping
// at the first error.
void Read(std::string_view text, ConfigReading& reading) {
  std::string at;
  try {
    json doc;
    // A stream, not json::parse: only the first complete value is read, so
    // text after the closing brace is ignored, as it always has been.
    std::istringstream in{std::string(text)};
    in >> doc;

    at = "ConfigVersion";
    std::int32_t version = 0;
    ReadSetting(doc, "ConfigVersion", version);
    reading.version = VersionCheck{version, version != kConfigVersion};
    if (reading.version->mismatch) {
      return;
    }
    ReadSettings(doc, reading.config, at);
  } catch (const std::exception& e) {
    reading.error = ReadError{e.what(), at};
  }
}

template <typename T>
void CheckRange(T& field, const Range<T>& range, std::string key_path, std::vector<Clamp>& clamps) {
  if (range.low <= field && field <= range.high) {
    return;
  }
  const T found = field;
  field = field < range.low ? range.low : range.high;
  clamps.push_back(Clamp{std::move(key_path), found, range.low, range.high, field});
}

// Applied whatever the sections' Enabled flags say, so that the whole record
// is in range, not only the parts in use.
void CheckRanges(ConfigReading& reading) {
  ForEachSetting([&](const auto& setting) {
    if constexpr (std::remove_cvref_t<decltype(setting)>::kHasRange) {
      CheckRange(setting.field(reading.config), setting.range, setting.KeyPath(), reading.clamps);
    }
  });

  float& lower = kFrequencyOrder.lower(reading.config);
  float& upper = kFrequencyOrder.upper(reading.config);
  if (lower > upper) {
    reading.swap = FrequencySwap{lower, upper};
    std::swap(lower, upper);
  }
}

}  // namespace

ConfigReading ReadConfig(std::string_view text) {
  ConfigReading reading;
  Read(text, reading);
  if (reading.version && reading.version->mismatch) {
    return reading;
  }
  CheckRanges(reading);
  return reading;
}

}  // namespace Quillmoor
