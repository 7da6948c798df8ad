// Checking a PluginConfig.json the way the plugin will read it: the plugin's
// own pure reader decides, and this turns each of its decisions, and what it
// silently passes over, into a finding with the key path, the place in the
// file, the value as written and how to mend it. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"
#include "config/config_file.h"

namespace config_tool {

enum class Severity {
  kNote,     // how the plugin reads it, with no loss (a section left out)
  kWarning,  // the plugin runs, but not the file as written (clamps, ignored keys)
  kError,    // settings are lost or the file is replaced, or a command cannot work
};

struct Finding {
  Severity severity = Severity::kNote;
  std::string key_path;             // "AutoGC.IntervalMinutes", "AutoGC", or "" for the whole file
  std::optional<std::size_t> line;  // 1-based, where the finding can be placed
  std::optional<std::size_t> column;  // 1-based, in characters
  std::string message;                // one plain sentence: what, and what the plugin does
  std::string fix;                    // what to write instead; empty when there is nothing to do
  std::string value;                  // the value as written, shortened; empty if none
  std::string detail;                 // the JSON library's own text, where it had one
};

// One setting as the plugin will run it beside what the file writes.
struct SettingOutcome {
  std::string key_path;
  std::string runs;                    // the value the plugin runs, as JSON
  std::optional<std::string> written;  // the file's value, shortened; nullopt if not in the file
  bool as_written = false;             // the plugin runs exactly what the file writes
};

struct CheckResult {
  std::vector<Finding> findings;   // in the order of the file; those with no place first
  Quillmoor::Config effective;     // the configuration the plugin will run
  bool defaults_document = false;  // the file is exactly the defaults document
  // Whether the plugin takes any value from the file. When not (not JSON, an
  // outdated version), it runs on the defaults and `settings` says nothing of
  // the file.
  bool values_read = false;
  std::vector<SettingOutcome> settings;  // every setting, in the order read
  bool unreadable = false;               // the plugin cannot read the file at all

  // 3 when unreadable, else 2 with an error, else 1 with a warning, else 0.
  int ExitCode() const;
};

// Checks `text`, the file's contents as a text-mode stream reads them.
CheckResult CheckConfigText(std::string_view text);

// The result for a file the plugin does not read (`file.state` is not kRead):
// with nothing at the name and `named_a_folder`, a note that the plugin will
// create it; otherwise unreadable, with the reason. Either way the plugin
// runs on the defaults.
CheckResult CheckUnreadFile(const Quillmoor::ConfigFileText& file, bool named_a_folder);

// A setting's value as the documents write it: text quoted, numbers and
// flags bare.
std::string ValueText(bool value);
std::string ValueText(std::int32_t value);
std::string ValueText(float value);
std::string ValueText(const std::string& value);

// "error", "warning", "note".
std::string_view SeverityName(Severity severity);

}  // namespace config_tool
