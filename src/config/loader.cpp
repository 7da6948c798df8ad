#include "config/loader.h"

#include <spdlog/logger.h>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>
#include <utility>

#include "common/log.h"
#include "config/default_document.h"
#include "config/guide.h"
#include "config/typed_read.h"
#include "plugin/folder.h"

namespace Quillmoor {
namespace {

using detail::ReadSetting;
using nlohmann::json;

// A section looked up without a presence test: an absent one reads as null,
// so its first read fails as value() on null does. REQUIRES: `doc` is an
// object (the version read has checked that).
const json& Section(const json& doc, const char* name) {
  static const json kAbsent;
  const auto it = doc.find(name);
  return it == doc.end() ? kAbsent : *it;
}

// Each value goes into its field as soon as it is read, so a type error
// leaves everything before it read and everything after it at its default.
void ReadSettings(const json& doc, Config& config) {
  const json& auto_gc = Section(doc, "AutoGC");
  ReadSetting(auto_gc, "Enabled", config.AutoGC.Enabled);
  ReadSetting(auto_gc, "IntervalMinutes", config.AutoGC.IntervalMinutes);

  ReadSetting(Section(doc, "Rcon"), "CommandName", config.Rcon.CommandName);

  if (const auto it = doc.find("GCCVars"); it != doc.end()) {
    auto& gc = config.GCCVars;
    ReadSetting(*it, "Enabled", gc.Enabled);
    ReadSetting(*it, "TimeBetweenPurgingSeconds", gc.TimeBetweenPurgingSeconds);
    ReadSetting(*it, "NumRetriesBeforeForcingGC", gc.NumRetriesBeforeForcingGC);
    ReadSetting(*it, "ActorClusteringEnabled", gc.ActorClusteringEnabled);
    ReadSetting(*it, "MaxObjectsNotConsideredByGC", gc.MaxObjectsNotConsideredByGC);
  }
  if (const auto it = doc.find("PhysicsCVars"); it != doc.end()) {
    auto& physics = config.PhysicsCVars;
    ReadSetting(*it, "Enabled", physics.Enabled);
    ReadSetting(*it, "ChaosMaxSubSteps", physics.ChaosMaxSubSteps);
    ReadSetting(*it, "ServerMaxFPS", physics.ServerMaxFPS);
  }
  if (const auto it = doc.find("StructureNetFreq"); it != doc.end()) {
    auto& freq = config.StructureNetFreq;
    ReadSetting(*it, "Enabled", freq.Enabled);
    ReadSetting(*it, "NetUpdateFreq", freq.NetUpdateFreq);
    ReadSetting(*it, "MinNetUpdateFreq", freq.MinNetUpdateFreq);
    ReadSetting(*it, "CheckIntervalSeconds", freq.CheckIntervalSeconds);
  }

  ReadSetting(doc, "VerboseLogging", config.VerboseLogging);
}

// Applied whatever the sections' Enabled flags say, so that the whole record
// is in range, not only the parts in use.
void CheckRanges(Config& config) {
  ClampSetting(config.AutoGC.IntervalMinutes, 1, 120, "AutoGC.IntervalMinutes");
  ClampSetting(config.GCCVars.TimeBetweenPurgingSeconds, 5.0f, 300.0f,
               "GCCVars.TimeBetweenPurgingSeconds");
  ClampSetting(config.GCCVars.NumRetriesBeforeForcingGC, 1, 20,
               "GCCVars.NumRetriesBeforeForcingGC");
  ClampSetting(config.PhysicsCVars.ChaosMaxSubSteps, 1, 8, "PhysicsCVars.ChaosMaxSubSteps");
  ClampSetting(config.PhysicsCVars.ServerMaxFPS, 10, 120, "PhysicsCVars.ServerMaxFPS");
  auto& freq = config.StructureNetFreq;
  ClampSetting(freq.NetUpdateFreq, 0.05f, 10.0f, "StructureNetFreq.NetUpdateFreq");
  ClampSetting(freq.MinNetUpdateFreq, 0.05f, 10.0f, "StructureNetFreq.MinNetUpdateFreq");
  ClampSetting(freq.CheckIntervalSeconds, 60, 3600, "StructureNetFreq.CheckIntervalSeconds");

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

Config LoadConfig() {
  Config config;
  const std::string folder = PluginFolder();
  const std::string path = folder + "/PluginConfig.json";
  const json defaults = detail::BuildDefaultDocument(config);

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
