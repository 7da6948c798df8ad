// Where a key of PluginConfig.json belongs: the sections (or the top level)
// that hold a setting of that exact name, from the settings table. The
// checker tells an operator where to move a key written in the wrong place;
// migrate carries such a value to its place. Pure; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace config_tool {

// The sections whose settings include `key`, in table order; "" stands for
// the top level. Empty when no setting has that name ("ConfigVersion" and
// the sections' own names are not settings).
std::vector<std::string_view> HomesOf(std::string_view key);

// "the top level", "AutoGC", or "one of AutoGC, GCCVars or PhysicsCVars":
// where to move a key whose HomesOf is `homes` (not empty).
std::string HomeText(const std::vector<std::string_view>& homes);

// `key` under `section`: "AutoGC.IntervalMinutes", or "VerboseLogging" at
// the top level.
std::string PathOf(std::string_view section, std::string_view key);

// The value of `key` under `section` ("" for the top level) in `doc`, or
// nullptr when either is missing or the section is not an object. Points
// into `doc`.
const nlohmann::json* MemberOf(const nlohmann::json& doc, std::string_view section,
                               std::string_view key);

}  // namespace config_tool
