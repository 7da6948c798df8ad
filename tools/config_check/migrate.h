// Carrying the values of an outdated PluginConfig.json (an older
// ConfigVersion, which the plugin sets aside and replaces with the defaults)
// into a document of the current version, by the plugin's own reading rules:
// each value is read as the plugin would read it in its place, so what the
// new document holds is what the plugin will run. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"

namespace config_tool {

struct CarriedValue {
  enum class Outcome {
    kCarried,  // runs as written
    kMoved,    // found in another section or level, carried to its place
    kChanged,  // carried, but the plugin runs another value (clamped, cut, swapped)
    kDropped,  // not carried: not a setting of this version, or unreadable as one
  };
  Outcome outcome = Outcome::kCarried;
  std::string key_path;  // where it was in the old file ("AutoGC.Foo", "Foo")
  std::string written;   // the old value as written, shortened
  std::string result;    // the value in the new document; empty when dropped
  std::string why;       // for kMoved, kChanged and kDropped: one plain clause
};

struct Migration {
  // Empty when the old text cannot be carried at all; then `values` is empty.
  std::string error;
  std::int32_t old_version = 0;      // 0 when the old file has none
  Quillmoor::Config config;          // what the new document makes the plugin run
  std::string document;              // the new document's text, 2-space indented
  std::vector<CarriedValue> values;  // in the order of the settings table, then dropped keys
  std::size_t defaults_kept = 0;     // settings the old file did not set
};

// Carries `old_text`, a PluginConfig.json of any version as a text-mode
// stream reads it. Refuses (sets `error`) text that is not a JSON object and
// a version newer than this plugin's; carries an old version's values and
// also a current one's (the caller decides which files it offers).
Migration MigrateText(std::string_view old_text);

// "carried", "moved", "changed", "dropped".
std::string_view OutcomeName(CarriedValue::Outcome outcome);

}  // namespace config_tool
