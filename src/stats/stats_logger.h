// The statistics log in the plugin folder (its file name and line format are
// formats/plugin_files.h and formats/stats_line.h): one time-stamped line per
// forced collection and per structure pass, rotated at 5 MiB with three
// rotated files. Safe to call from any thread; the logging
// library's registry and sink lock internally.
#pragma once

#include <string>

namespace Quillmoor::StatsLogger {

// Opens the log in `folder` (which must exist) and registers it as
// "Quillmoor_stats". Never throws: a failure is one error line on the host
// log, and the statistics log stays absent.
void Init(const std::string& folder);

// Writes `message` verbatim as one line, if the log is open; otherwise does
// nothing. Never throws.
void Log(const std::string& message);

// Closes the log. Safe when it was never opened.
void Shutdown();

}  // namespace Quillmoor::StatsLogger
