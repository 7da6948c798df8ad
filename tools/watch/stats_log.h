// Reading the forced collections out of a server's statistics log, to mark
// them on the chart. Parsing plus one file read; the lines' format is the
// plugin's own (formats/stats_line.h).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "watch/sample.h"

namespace watch {

struct ForcedCollection {
  Time time;
  std::string trigger;  // "auto-timer", "rcon", ...
};

// Every forced-collection line in `text`; other lines (structure passes,
// damaged lines) are skipped. The log's times are the server's local time,
// read here in this machine's zone. LF or CR LF.
std::vector<ForcedCollection> ParseForcedCollections(std::string_view text);

// Reads the file (a regular file only); throws std::runtime_error naming it
// when it cannot be read.
std::vector<ForcedCollection> ReadForcedCollections(const std::filesystem::path& path);

}  // namespace watch
