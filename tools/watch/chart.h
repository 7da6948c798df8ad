// The chart file: object counts over time, one line per server, with the
// collections marked (laid out by chart_layout.h), as SVG written here or
// PNG drawn with PLplot, whose state is process-wide: call from one thread,
// one chart at a time.
#pragma once

#include <filesystem>
#include <vector>

#include "watch/chart_layout.h"
#include "watch/sample.h"

namespace watch {

// Throws std::invalid_argument unless `path` ends in ".svg" or ".png"
// (any case): the file type follows the name.
void CheckChartPath(const std::filesystem::path& path);

// Whether a chart can be written at `path`: a scratch file is created beside
// it and removed, so that a run learns at its start, not its end, that its
// chart would be lost. Throws std::runtime_error with the reason.
void CheckChartFolder(const std::filesystem::path& path);

// Draws the chart of LayoutChart(samples, marks) into a new file beside
// `path`, checks that it is complete and on disk, and renames it over
// `path`; the name is taken literally. Throws std::runtime_error when there
// is no count to draw, the file cannot be written (a full disk, a size
// limit), or the PLplot device is missing; `path` is then left as it was.
void DrawChart(const std::filesystem::path& path, const std::vector<Sample>& samples,
               const std::vector<LogMarks>& marks);

}  // namespace watch
