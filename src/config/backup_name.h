// The names under which an outdated PluginConfig.json is kept: the plugin
// moves it there before writing the defaults, and quillmoor-config migrate
// reads the newest of them and keeps what it replaces the same way. Any
// thread; only looks at names.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Quillmoor {

// The `n`th backup name of `path`: `path` + ".bak" for 0, then
// `path` + ".1.bak", ".2.bak", ...
std::string BackupName(const std::string& path, unsigned n);

// The first of BackupName(path, 0), (path, 1), ... that nothing has (not
// even a broken link): an older backup is never replaced. Only a name known
// to be taken is passed over; if that cannot be told, the caller's rename or
// copy reports it. A later number is a later backup.
std::string FreeBackupName(const std::string& path);

// `n` when `file_name` is the `n`th backup name of a file named
// `config_name` (both without a folder), else nullopt.
std::optional<unsigned> BackupNumber(std::string_view config_name, std::string_view file_name);

}  // namespace Quillmoor
