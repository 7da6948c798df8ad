// Where the plugin keeps its files on a server: the plugin folder below the
// server's directory and the names of the files in it. Constant data.
#pragma once

namespace formats {

// Appended to the server's directory (which has no trailing separator) to
// give the plugin folder, on every system.
inline constexpr char kPluginFolder[] = "/ArkApi/Plugins/Quillmoor";

inline constexpr char kConfigFile[] = "PluginConfig.json";
inline constexpr char kGuideFile[] = "PluginConfig.guide.json";
// The line end of those two documents: what a text-mode stream of the
// system writes for a line feed.
#if defined(_WIN32)
inline constexpr char kDocumentLineEnd[] = "\r\n";
#else
inline constexpr char kDocumentLineEnd[] = "\n";
#endif
// The live statistics log; its rotated files insert ".1" to ".3" before the
// extension.
inline constexpr char kStatsLogFile[] = "Quillmoor_stats.log";

}  // namespace formats
