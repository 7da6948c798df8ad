// The chart laid out in pixels, independent of the file type: a scene of
// lines, filled shapes and texts that svg_file and the PNG renderer draw
// as they are. Everything that makes the chart readable is decided here:
// which observations a line joins, the ticks and their labels, the marks of
// the collections and the legend. Pure; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "watch/sample.h"
#include "watch/stats_log.h"

namespace watch {

// Collections read from one server's statistics log. `server` names the
// server whose colour the marks take; empty marks them in grey on the top
// edge.
struct LogMarks {
  std::string server;
  std::vector<ForcedCollection> collections;
};

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

struct Point {
  double x = 0, y = 0;  // pixels from the top left corner
};

struct Polyline {
  std::vector<Point> points;
  Rgb colour;
  double width = 1;
};

struct Polygon {
  std::vector<Point> points;
  Rgb colour;
  double opacity = 1;
};

struct Label {
  enum class Anchor { kStart, kMiddle, kEnd };
  Point at;  // the middle of the text's height at the anchor
  std::string text;
  double size = 13;  // pixels
  Rgb colour;
  Anchor anchor = Anchor::kStart;
  bool vertical = false;  // read from bottom to top
};

struct Scene {
  int width = 0, height = 0;
  Rgb background;
  std::vector<Polygon> areas;  // drawn first, under the lines
  std::vector<Polyline> lines;
  std::vector<Polygon> shapes;  // over the lines
  std::vector<Label> labels;    // drawn last
};

inline constexpr int kChartWidth = 1200, kChartHeight = 640;

// Lays out `samples` (any order; ok counts as one line per server, broken
// wherever the server did not answer, at every start row, and wherever no
// count came for more than three times the server's usual poll spacing in
// that run; outages shaded; forced-gc rows as marks) and the collections of
// `marks` that fall in the samples' time span. Times in UTC. Throws
// std::runtime_error when there is no count to draw.
Scene LayoutChart(std::vector<Sample> samples, const std::vector<LogMarks>& marks,
                  int width = kChartWidth, int height = kChartHeight);

// The label of a count axis tick at `value`, for ticks `step` apart on an
// axis whose largest magnitude is `largest`: plain up to 9999, then in k
// (below a million), M or G, with the decimals the step needs ("950",
// "12.5k", "1.2M").
std::string CountLabel(double value, double step, double largest);

// The step between time ticks, in seconds, for a span: a round step (1, 2,
// 5, 10, 15, 30 s; 1, 2, 5, 10, 15, 30 min; 1, 2, 3, 6, 12 h; days) that
// gives at most `max_ticks` ticks.
double TimeStep(double span_seconds, int max_ticks);

}  // namespace watch
