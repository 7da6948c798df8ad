// The three commands of quillmoor-config: check a file, write the defaults
// into a plugin folder, explain the settings. Each returns the process's exit
// code. Only `init` writes; nothing reaches a host.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

namespace config_tool {

inline constexpr int kExitClean = 0;     // check: the plugin runs the file as written
inline constexpr int kExitWarnings = 1;  // check: it runs, but corrects or ignores something
inline constexpr int kExitErrors = 2;    // check: settings lost, file replaced, or a dead command
inline constexpr int kExitTrouble = 3;   // bad command line, unreadable input, refused write

// `path`: a PluginConfig.json, a plugin folder holding one, or a server
// directory (…/ArkApi/Plugins/Quillmoor/PluginConfig.json under it).
int RunCheck(const std::filesystem::path& path, bool as_json, std::ostream& out, std::ostream& err);

// Writes PluginConfig.json (defaults) and PluginConfig.guide.json into the
// existing folder `dir` as the plugin writes them. Refuses to replace an
// existing PluginConfig.json unless `force`.
int RunInit(const std::filesystem::path& dir, bool force, std::ostream& out, std::ostream& err);

// The guide's text, range and default of the setting `key` ("Section.Key" or
// its last part, any case), or of every setting when `key` is empty.
int RunExplain(const std::string& key, std::ostream& out, std::ostream& err);

}  // namespace config_tool
