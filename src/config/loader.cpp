#include "config/loader.h"

#include <spdlog/logger.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>
#include <type_traits>
#include <utility>

#include "common/log.h"
#include "config/default_document.h"
#include "config/document_files.h"
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
void ReadSettings(const json& doc, Config& config) {
  ForEachSetting([&](const auto& setting) {
    if (const json* section = SectionOf(doc, setting)) {
      ReadSetting(*section, setting.key, setting.field(config));
    }
  });
}

template <typename T>
void Clamp(T& field, const Range<T>& range, const std::string& name) {
  ClampSetting(field, range.low, range.high, name);
}

// Applied whatever the sections' Enabled flags say, so that the whole record
// is in range, not only the parts in use.
void CheckRanges(Config& config) {
  ForEachSetting([&](const auto& setting) {
    if constexpr (std::remove_cvref_t<decltype(setting)>::kHasRange) {
      Clamp(setting.field(config), setting.range, setting.KeyPath());
    }
  });

  auto& freq = config.StructureNetFreq;
  if (freq.MinNetUpdateFreq > freq.NetUpdateFreq) {
    Log().warn(
        "[Quillmoor] Config: 'StructureNetFreq.MinNetUpdateFreq' ({:g}) > 'NetUpdateFreq' ({:g}), "
        "swapped.",
        static_cast<double>(freq.MinNetUpdateFreq), static_cast<double>(freq.NetUpdateFreq));
    std::swap(freq.MinNetUpdateFreq, freq.NetUpdateFreq);
  }
}

// Only an absent file may be created. One that is there but cannot be read
// (locked by an editor, a directory, a broken link) is the operator's and
// must survive; so must the case where we cannot even tell.
bool IsAbsent(const std::string& path) {
  std::error_code ec;
  return std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found;
}

// Moves an outdated file out of the way before it is replaced, so that the
// operator's values are not lost with it. Returns whether `path` is free.
bool KeepBackup(const std::string& path) {
  const std::string backup = path + ".bak";
  std::error_code ec;
  std::filesystem::rename(path, backup, ec);  // replaces an older backup
  if (ec) {
    Log().error(
        "[Quillmoor] PluginConfig.json could not be kept as {} ({}); the outdated file is left "
        "unchanged and the defaults are used.",
        backup, ec.message());
    return false;
  }
  Log().info("[Quillmoor] Outdated PluginConfig.json kept as: {}", backup);
  return true;
}

}  // namespace

Config LoadConfig(const std::string& folder) {
  Config config;
  const std::string path = folder + "/PluginConfig.json";
  const json defaults = BuildDefaultDocument(config);

  std::ifstream in(path);
  // A directory opens for reading here and only fails on the first read.
  std::error_code ec;
  if (!in.is_open() || std::filesystem::is_directory(path, ec)) {
    if (IsAbsent(path)) {
      WriteDefaultConfig(path, defaults, "not found");
    } else {
      Log().error(
          "[Quillmoor] PluginConfig.json exists but cannot be read: {}. Using defaults; the file "
          "is left unchanged.",
          path);
    }
    WriteConfigGuide(folder);
    return config;
  }

  try {
    json doc;
    in >> doc;  // the first complete value; whatever follows it is ignored
    in.close();

    std::int32_t version = 0;
    ReadSetting(doc, "ConfigVersion", version);
    if (version != kConfigVersion) {
      Log().warn(
          "[Quillmoor] PluginConfig.json version mismatch (found: {}, expected: {}) — "
          "regenerating with new defaults.",
          version, kConfigVersion);
      if (KeepBackup(path)) {
        WriteDefaultConfig(path, defaults, "outdated, replaced");
      }
      WriteConfigGuide(folder);
      return config;
    }

    ReadSettings(doc, config);
  } catch (const std::exception& e) {
    Log().error("[Quillmoor] Config parse error: {}", e.what());
  }

  CheckRanges(config);
  WriteConfigGuide(folder);
  return config;
}

void ClampSetting(std::int32_t& field, std::int32_t low, std::int32_t high,
                  const std::string& name) {
  if (low <= field && field <= high) {
    return;
  }
  Log().warn("[Quillmoor] Config: '{}' value {} is out of range [{}, {}], clamped.", name, field,
             low, high);
  field = field < low ? low : high;
}

void ClampSetting(float& field, float low, float high, const std::string& name) {
  if (low <= field && field <= high) {
    return;
  }
  Log().warn("[Quillmoor] Config: '{}' value {:g} is out of range [{:g}, {:g}], clamped.", name,
             static_cast<double>(field), static_cast<double>(low), static_cast<double>(high));
  field = field < low ? low : high;
}

}  // namespace Quillmoor
