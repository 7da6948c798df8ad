#include "config/loader.h"

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <variant>

#include "common/log.h"
#include "config/default_document.h"
#include "config/document_files.h"
#include "config/reading.h"

namespace Quillmoor {
namespace {

using nlohmann::json;

std::string Shown(const SettingNumber& number) {
  if (const float* value = std::get_if<float>(&number)) {
    return fmt::format("{:g}", static_cast<double>(*value));
  }
  return fmt::format("{}", std::get<std::int32_t>(number));
}

// The lines for a file that was read (not outdated), in the order decided.
void Report(const ConfigReading& reading) {
  if (reading.error) {
    Log().error("[Quillmoor] Config parse error: {}", reading.error->message);
  }
  for (const Clamp& clamp : reading.clamps) {
    Log().warn("[Quillmoor] Config: '{}' value {} is out of range [{}, {}], clamped.",
               clamp.key_path, Shown(clamp.found), Shown(clamp.low), Shown(clamp.high));
  }
  if (reading.swap) {
    Log().warn(
        "[Quillmoor] Config: 'StructureNetFreq.MinNetUpdateFreq' ({:g}) > 'NetUpdateFreq' ({:g}), "
        "swapped.",
        static_cast<double>(reading.swap->min_before),
        static_cast<double>(reading.swap->net_before));
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
  const std::string path = folder + "/PluginConfig.json";
  const json defaults = BuildDefaultDocument(Config{});

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
    return Config{};
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  in.close();

  const ConfigReading reading = ReadConfig(text);
  if (reading.version && reading.version->mismatch) {
    Log().warn(
        "[Quillmoor] PluginConfig.json version mismatch (found: {}, expected: {}) — "
        "regenerating with new defaults.",
        reading.version->found, kConfigVersion);
    if (KeepBackup(path)) {
      WriteDefaultConfig(path, defaults, "outdated, replaced");
    }
  } else {
    Report(reading);
  }
  WriteConfigGuide(folder);
  return reading.config;
}

}  // namespace Quillmoor
