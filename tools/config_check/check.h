// Checking a PluginConfig.json the way the plugin will read it: the plugin's
// own pure reader decides, and this turns each of its decisions, and what it
// silently passes over, into a finding with the key path. Pure; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"

namespace config_tool {

enum class Severity {
  kNote,     // how the plugin reads it, with no loss (a section left out)
  kWarning,  // the plugin runs, but not the file as written (clamps, ignored keys)
  kError,    // settings are lost or the file is replaced, or a command cannot work
};

struct Finding {
  Severity severity = Severity::kNote;
  std::string key_path;             // "AutoGC.IntervalMinutes", "AutoGC", or "" for the whole file
  std::optional<std::size_t> line;  // 1-based; only where the JSON parser gives one
  std::string message;
};

struct CheckResult {
  std::vector<Finding> findings;   // in the order the plugin meets them
  Quillmoor::Config effective;     // the configuration the plugin will run
  bool defaults_document = false;  // the file is exactly the defaults document

  // 2 with an error, else 1 with a warning, else 0.
  int ExitCode() const;
};

// Checks `text`, the file's contents as a text-mode stream reads them.
CheckResult CheckConfigText(std::string_view text);

// "error", "warning", "note".
std::string_view SeverityName(Severity severity);

}  // namespace config_tool
