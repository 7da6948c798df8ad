// The reading rules of PluginConfig.json as one pure function: the file's
// text in; the record and every decision taken on the way, in order, out.
// Touches no file, logger or host and keeps no state; any thread. LoadConfig
// turns the decisions into its log lines and file writes; an offline checker
// can call it (and walk settings.h) to explain a file without a server.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "config/config.h"

namespace Quillmoor {

// A number as its field holds it; found, bounds and result of one clamp are
// always of the same alternative.
using SettingNumber = std::variant<std::int32_t, float>;

struct VersionCheck {
  std::int32_t found;  // "ConfigVersion" read as an integer setting; 0 when absent
  bool mismatch;       // found != kConfigVersion
  bool operator==(const VersionCheck&) const = default;
};

struct ReadError {
  std::string message;  // the JSON library's own text ("[json.exception.type_error.302] ...")
  // The read that failed: "ConfigVersion", or a setting's key path such as
  // "GCCVars.NumRetriesBeforeForcingGC". That setting and every one after it
  // in the table keep their defaults; those before it hold what was read.
  // Empty when the text is not JSON at all: nothing was read.
  std::string key_path;
  bool operator==(const ReadError&) const = default;
};

struct Clamp {
  std::string key_path;
  SettingNumber found;
  SettingNumber low;
  SettingNumber high;
  SettingNumber used;  // low if found was below low, else high
  bool operator==(const Clamp&) const = default;
};

// The ordering kFrequencyOrder (settings.h) found crossed, both values
// already clamped: the two were exchanged.
struct FrequencySwap {
  float lower_before;  // kFrequencyOrder.lower, as read
  float upper_before;  // kFrequencyOrder.upper, as read
  bool operator==(const FrequencySwap&) const = default;
};

// The decisions, in the order they are taken. Exactly one of three paths:
// - `version` set and mismatched: the file is outdated; `config` is Config{},
//   no error, clamp or swap. The caller is to keep and replace the file.
// - `error` set: the text is not JSON, is not an object, or a value has the
//   wrong type; `config` holds what was read before it, then range-checked.
// - neither: every setting read, absent ones at their defaults, then
//   range-checked.
// On the last two paths `clamps` lists every range correction, in table
// order and `swap` the exchange of the two frequencies; `config` is in
// range. The force-GC command's name is kept as written, empty included.
struct ConfigReading {
  Config config;
  std::optional<VersionCheck> version;  // unset when the read stopped before it
  std::optional<ReadError> error;
  std::vector<Clamp> clamps;
  std::optional<FrequencySwap> swap;
};

// Reads `text`, the contents of PluginConfig.json as a text-mode stream gives
// them. Only the first complete JSON value is parsed; whatever follows it is
// ignored. Settings are read in table order, each with its type's rules
// (typed_read.h) and its default for an absent key; sections are looked up as
// settings.h says. Range checks and the swap apply whatever the sections'
// Enabled flags say. Every problem in `text` is a decision, never an
// exception; only running out of memory after the read throws.
ConfigReading ReadConfig(std::string_view text);

}  // namespace Quillmoor
