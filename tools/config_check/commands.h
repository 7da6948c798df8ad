// The three commands of quillmoor-config: check a file, write the defaults
// into a plugin folder, explain the settings. Each returns the process's exit
// code. Only `init` writes; nothing reaches a host.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace config_tool {

inline constexpr int kExitClean = 0;     // check: the plugin runs the file as written
inline constexpr int kExitWarnings = 1;  // check: it runs, but corrects or ignores something
inline constexpr int kExitErrors = 2;    // check: settings lost, file replaced, or a dead command
inline constexpr int kExitTrouble = 3;   // bad command line, unreadable input, refused write

struct CheckOptions {
  bool as_json = false;    // one JSON document on `out`, whatever happens
  bool effective = false;  // every setting the plugin will run, not only the differences
};

// `path`: a PluginConfig.json, a plugin folder holding one, or a server
// directory (…/ArkApi/Plugins/Quillmoor/PluginConfig.json under it). The file
// is read as the plugin reads it: a regular file of at most 1 MiB, never a
// FIFO or a device.
int RunCheck(const std::filesystem::path& path, const CheckOptions& options, std::ostream& out,
             std::ostream& err);

// Checks each of `paths` (several servers) as RunCheck does and prints one
// line per server on `out`, unreadable ones too (the first problem and the
// counts), then a total; with
// `options.as_json` one document {"exit_code", "servers": [report, ...]}.
// `options.effective` is ignored. Returns the highest exit code of all: one
// unreadable file makes the fleet's 3.
int RunFleetCheck(const std::vector<std::filesystem::path>& paths, const CheckOptions& options,
                  std::ostream& out);

// For a failure outside RunCheck (the command line, memory): `message` on
// `err`, and with `as_json` a report of the same shape on `out`. Returns
// kExitTrouble.
int ReportTrouble(std::string_view message, bool as_json, std::ostream& out, std::ostream& err);

// Writes PluginConfig.json (defaults) and PluginConfig.guide.json as the
// plugin writes them into `dir`'s plugin folder when `dir` is a server
// directory (it holds the framework's folder; the plugin folder is created
// below it if missing), else into the existing folder `dir`, both to temporary files
// first and renamed into place only when both are complete: a full disk or a
// size limit leaves the old pair (or nothing), never a part of a file. A link
// at either name is replaced, never written through. Refuses to replace
// anything at PluginConfig.json's name unless `force`.
int RunInit(const std::filesystem::path& dir, bool force, std::ostream& out, std::ostream& err);

// Carries the values of an outdated PluginConfig.json into a document of the
// current version (migrate.h) and prints each value carried, moved, changed
// or dropped. `path` is a file or folder as for RunCheck. The source is that
// file when it is outdated; when it is current (the plugin has replaced it)
// or absent, the newest backup beside it (config/backup_name.h) that is
// outdated. The result replaces the file atomically, after a copy of what
// it replaces is kept under the next free backup name; a current file that
// is not the plain defaults document (the operator's own settings) is
// replaced only with `force`. With `dry_run` nothing is written. Returns 0
// when every value was carried as written, 1 when one was changed or
// dropped, 3 when nothing could be done (nothing is then changed).
int RunMigrate(const std::filesystem::path& path, bool dry_run, bool force, std::ostream& out,
               std::ostream& err);

// The guide's text, range and default of the setting `key` ("Section.Key" or
// its last part, any case), or of every setting when `key` is empty.
int RunExplain(const std::string& key, std::ostream& out, std::ostream& err);

}  // namespace config_tool
