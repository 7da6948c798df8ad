#include "config/loader.h"

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <variant>

#include "common/log.h"
#include "config/backup_name.h"
#include "config/config_file.h"
#include "config/default_document.h"
#include "config/document_files.h"
#include "config/reading.h"
#include "config/settings.h"
#include "config/whole_file.h"
#include "formats/plugin_files.h"

namespace Quillmoor {
namespace {

using formats::kConfigFile;
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
        "[Quillmoor] Config: '{}' ({:g}) > '{}' ({:g}), swapped.",
        SettingOf(kFrequencyOrder.lower).KeyPath(), static_cast<double>(reading.swap->lower_before),
        SettingOf(kFrequencyOrder.upper).key, static_cast<double>(reading.swap->upper_before));
  }
}

// Keeps an outdated file under a free backup name and replaces it with the
// defaults, or, if it cannot be kept, leaves it as it is: its values are
// never lost. The warning says which of the two happens.
void ReplaceOutdated(const std::string& path, const json& defaults, std::int32_t found) {
  const std::string backup = FreeBackupName(path);
  std::error_code ec;
  // Checked and moved in two steps: a backup created by someone else in
  // between would be replaced (rename replaces on every platform).
  std::filesystem::rename(path, backup, ec);
  if (ec) {
    Log().warn(
        "[Quillmoor] {} version mismatch (found: {}, expected: {}) — keeping it unchanged and "
        "using the defaults.",
        kConfigFile, found, kConfigVersion);
    Log().error(
        "[Quillmoor] {} could not be kept as {} ({}); the outdated file is left unchanged and the "
        "defaults are used.",
        kConfigFile, backup, ec.message());
    return;
  }
  // The new file is written before anything is said: on a full disk the
  // outdated one goes back to its name, so that the folder never holds a
  // backup and no config.
  if (!WriteWholeFile(path, defaults.dump(2))) {
    std::error_code back;
    std::filesystem::rename(backup, path, back);
    Log().warn(
        "[Quillmoor] {} version mismatch (found: {}, expected: {}) — keeping it unchanged and "
        "using the defaults.",
        kConfigFile, found, kConfigVersion);
    if (!back) {
      Log().error(
          "[Quillmoor] {} could not be regenerated at: {} (is the disk full?); the outdated file "
          "is left unchanged and the defaults are used.",
          kConfigFile, path);
    } else {
      Log().error(
          "[Quillmoor] {} could not be regenerated at: {}, nor put back ({}): the folder holds no "
          "{}, its values are kept in {}. The defaults are used.",
          kConfigFile, path, back.message(), kConfigFile, backup);
    }
    return;
  }
  Log().warn(
      "[Quillmoor] {} version mismatch (found: {}, expected: {}) — regenerating with new "
      "defaults.",
      kConfigFile, found, kConfigVersion);
  Log().info("[Quillmoor] Outdated {} kept as: {}", kConfigFile, backup);
  Log().info("[Quillmoor] {} outdated, replaced — generated with defaults at: {}", kConfigFile,
             path);
}

}  // namespace

Config LoadConfig(const std::string& folder) {
  using State = ConfigFileText::State;
  const std::string path = folder + "/" + kConfigFile;
  const json defaults = BuildDefaultDocument(Config{});

  const ConfigFileText file = ReadConfigFile(path);
  switch (file.state) {
    case State::kRead:
      break;
    case State::kAbsent:
      WriteDefaultConfig(path, defaults, "not found");
      break;
    case State::kUnknown:
      Log().error(
          "[Quillmoor] {} cannot be read, and whether it exists cannot be told: {} ({}). Using "
          "defaults; the file is left unchanged.",
          kConfigFile, path, file.error);
      break;
    case State::kUnreadable:
      Log().error(
          "[Quillmoor] {} exists but cannot be read: {} ({}). Using defaults; the file is left "
          "unchanged.",
          kConfigFile, path, file.error);
      break;
    case State::kTooLarge:
      Log().error(
          "[Quillmoor] {} exists but cannot be read: {} is larger than 1 MiB. Using defaults; the "
          "file is left unchanged.",
          kConfigFile, path);
      break;
  }
  if (file.state != State::kRead) {
    WriteConfigGuide(folder);
    return Config{};
  }

  const ConfigReading reading = ReadConfig(file.text);
  if (reading.version && reading.version->mismatch) {
    ReplaceOutdated(path, defaults, reading.version->found);
  } else {
    Report(reading);
  }
  WriteConfigGuide(folder);
  return reading.config;
}

}  // namespace Quillmoor
