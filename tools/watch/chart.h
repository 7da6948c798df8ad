// The chart: object counts over time, one line per server, with the forced
// collections marked. Drawn with PLplot, whose state is process-wide: call
// from one thread, one chart at a time.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "watch/sample.h"
#include "watch/stats_log.h"

namespace watch {

// Collections read from one server's statistics log. `server` names the
// server whose colour the marks take; empty marks them in grey.
struct LogMarks {
  std::string server;
  std::vector<ForcedCollection> collections;
};

// Throws std::invalid_argument unless `path` ends in ".svg" or ".png"
// (any case): the file type follows the name.
void CheckChartPath(const std::filesystem::path& path);

// Draws `samples` (ok rows as lines, broken where a server was down;
// forced-gc rows as triangles) and the collections of `marks` that fall in
// the samples' time span (dashed vertical lines) into `path`, replacing it.
// Throws std::runtime_error when there is no count to draw, the file cannot
// be written, or the PLplot device is missing; the file is then left as it
// was.
void DrawChart(const std::filesystem::path& path, const std::vector<Sample>& samples,
               const std::vector<LogMarks>& marks);

}  // namespace watch
