#include "watch/chart_layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>

#include <fmt/format.h>

namespace watch {

namespace {

constexpr Rgb kBackground{255, 255, 255};
constexpr Rgb kInk{40, 40, 40};
constexpr Rgb kGrid{225, 225, 225};
constexpr Rgb kGrey{140, 140, 140};
// One per server, in the order of their names: colours that stay apart for
// the colour-blind.
constexpr std::array<Rgb, 8> kSeries = {{{0, 114, 178},
                                         {213, 94, 0},
                                         {0, 158, 115},
                                         {204, 121, 167},
                                         {230, 159, 0},
                                         {86, 180, 233},
                                         {120, 70, 20},
                                         {0, 0, 0}}};

// Margins around the plotting area: tick labels on the left, two lines of
// time labels below, the legend on the right.
constexpr double kLeft = 80, kTop = 44, kRight = 250, kBottom = 78;
constexpr double kTickFont = 12, kLegendFont = 13;
constexpr double kMarkSize = 6;
// A count further from the previous than this many of the usual spacings
// starts a new line: nobody looked in between.
constexpr double kGapFactor = 3;

enum class MarkKind { kAutoGc, kRcon, kSent };

struct Mark {
  double t;
  MarkKind kind;
};

struct Run {
  std::vector<std::pair<double, double>> points;  // (seconds, count)
  int run = 0;                                    // index of the watcher's run
};

// One server's observations, taken apart.
struct Series {
  std::vector<Run> pieces;  // counts not interrupted by a failure or a start
  std::vector<std::pair<double, double>> outages;
  std::vector<Mark> marks;
  std::optional<double> down_since, down_last;
  bool open = false;

  void Close() {
    open = false;
    if (down_since) {
      outages.emplace_back(*down_since, *down_last);
      down_since.reset();
    }
  }
};

double Median(std::vector<double> v) {
  const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

// Each piece cut wherever a step is longer than kGapFactor times the median
// step of that run of the watcher.
std::vector<std::vector<std::pair<double, double>>> CutAtGaps(const std::vector<Run>& pieces) {
  std::map<int, std::vector<double>> steps;
  for (const auto& p : pieces) {
    for (std::size_t i = 1; i < p.points.size(); ++i) {
      steps[p.run].push_back(p.points[i].first - p.points[i - 1].first);
    }
  }
  std::map<int, double> limit;
  for (auto& [run, v] : steps) {
    limit[run] = kGapFactor * Median(std::move(v));
  }
  std::vector<std::vector<std::pair<double, double>>> out;
  for (const auto& p : pieces) {
    out.emplace_back();
    for (std::size_t i = 0; i < p.points.size(); ++i) {
      if (i > 0 && p.points[i].first - p.points[i - 1].first > limit[p.run]) {
        out.emplace_back();
      }
      out.back().push_back(p.points[i]);
    }
  }
  return out;
}

// Points closer than a pixel apart in x add nothing but bytes: per pixel
// column keep the first, the least, the most and the last, in time order.
std::vector<Point> Decimate(const std::vector<Point>& in) {
  std::vector<Point> out;
  std::size_t i = 0;
  while (i < in.size()) {
    const double column = std::floor(in[i].x);
    std::size_t j = i, lo = i, hi = i;
    while (j < in.size() && std::floor(in[j].x) == column) {
      lo = in[j].y < in[lo].y ? j : lo;
      hi = in[j].y > in[hi].y ? j : hi;
      ++j;
    }
    std::array<std::size_t, 4> keep = {i, std::min(lo, hi), std::max(lo, hi), j - 1};
    for (std::size_t k = 0; k < keep.size(); ++k) {
      if (k == 0 || keep[k] != keep[k - 1]) {
        out.push_back(in[keep[k]]);
      }
    }
    i = j;
  }
  return out;
}

// A round step of 1, 2 or 5 times a power of ten, about span / 6; counts
// are whole, and so are their steps.
double CountStep(double span) {
  const double raw = std::max(span / 6, 1.0);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (const double f : {1.0, 2.0, 5.0}) {
    if (f * power >= raw) {
      return f * power;
    }
  }
  return 10 * power;
}

std::tm Utc(double seconds) {
  const auto t = static_cast<std::time_t>(std::floor(seconds));
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

void Shape(Scene& scene, MarkKind kind, Point at, Rgb colour) {
  const double s = kMarkSize;
  std::vector<Point> points;
  switch (kind) {
    case MarkKind::kAutoGc:  // pointing down at the line from above
      points = {{at.x - s, at.y - 2 * s}, {at.x + s, at.y - 2 * s}, {at.x, at.y}};
      break;
    case MarkKind::kRcon:  // on the line
      points = {{at.x, at.y - s}, {at.x + s, at.y}, {at.x, at.y + s}, {at.x - s, at.y}};
      break;
    case MarkKind::kSent:  // pointing up at the line from below
      points = {{at.x - s, at.y + 2 * s}, {at.x + s, at.y + 2 * s}, {at.x, at.y}};
      break;
  }
  scene.shapes.push_back({std::move(points), colour, 1.0});
}

}  // namespace

std::string CountLabel(double value, double step, double largest) {
  double scale = 1;
  const char* suffix = "";
  if (largest >= 1e9) {
    scale = 1e9;
    suffix = "G";
  } else if (largest >= 1e6) {
    scale = 1e6;
    suffix = "M";
  } else if (largest >= 1e4) {
    scale = 1e3;
    suffix = "k";
  }
  int decimals = 0;
  while (decimals < 3) {
    const double scaled = step / scale * std::pow(10.0, decimals);
    if (std::abs(scaled - std::round(scaled)) < 1e-6) {
      break;
    }
    ++decimals;
  }
  return fmt::format("{:.{}f}{}", value / scale, decimals, value == 0 ? "" : suffix);
}

double TimeStep(double span_seconds, int max_ticks) {
  static constexpr std::array<double, 20> kSteps = {1,     2,     5,     10,    15,     30,    60,
                                                    120,   300,   600,   900,   1800,   3600,  7200,
                                                    10800, 21600, 43200, 86400, 172800, 604800};
  for (const double s : kSteps) {
    if (span_seconds / s <= max_ticks) {
      return s;
    }
  }
  return std::ceil(span_seconds / max_ticks / 604800) * 604800;
}

Scene LayoutChart(std::vector<Sample> samples, const std::vector<LogMarks>& marks, int width,
                  int height) {
  std::stable_sort(samples.begin(), samples.end(),
                   [](const Sample& a, const Sample& b) { return a.time < b.time; });
  // Servers by name, so that a chart from the CSV file matches the live
  // run's colours.
  std::map<std::string, Series> series;
  double t0 = 0, t1 = 0, y0 = 0, y1 = 0;
  bool any_time = false, any_count = false;
  int run = 0;
  for (const auto& s : samples) {
    const double t = EpochSeconds(s.time);
    if (s.status == Status::kStart) {
      ++run;
      for (auto& [name, data] : series) {
        data.Close();
      }
      continue;
    }
    t0 = any_time ? std::min(t0, t) : t;
    t1 = any_time ? std::max(t1, t) : t;
    any_time = true;
    Series& data = series[s.server];
    if (s.status == Status::kOk) {
      const auto y = static_cast<double>(*s.objects);
      y0 = any_count ? std::min(y0, y) : y;
      y1 = any_count ? std::max(y1, y) : y;
      any_count = true;
      if (data.down_since) {
        data.outages.emplace_back(*data.down_since, t);
        data.down_since.reset();
      }
      if (!data.open) {
        data.pieces.push_back({{}, run});
        data.open = true;
      }
      data.pieces.back().points.emplace_back(t, y);
    } else if (s.status == Status::kForcedGc) {
      data.marks.push_back({t, MarkKind::kSent});
    } else {
      data.open = false;
      if (!data.down_since) {
        data.down_since = t;
      }
      data.down_last = t;
    }
  }
  if (!any_count) {
    throw std::runtime_error("no object count to draw");
  }
  for (auto& [name, data] : series) {
    data.Close();
  }
  for (const auto& log : marks) {
    for (const auto& c : log.collections) {
      const double t = EpochSeconds(c.time);
      if (t >= t0 && t <= t1) {
        // Unnamed logs, and logs of servers not seen, go to a series of
        // their own, drawn in grey on the top edge.
        series[series.count(log.server) != 0 ? log.server : ""].marks.push_back(
            {t, c.trigger == "auto-timer" ? MarkKind::kAutoGc : MarkKind::kRcon});
      }
    }
  }

  // Axes: counts on round steps, times on round steps of UTC.
  if (t1 - t0 < 1) {
    t1 = t0 + 1;
  }
  double step = y1 > y0 ? CountStep(y1 - y0) : CountStep(std::max(1.0, std::abs(y1)));
  double lo = std::floor(y0 / step) * step, hi = std::ceil(y1 / step) * step;
  if (hi - lo < step / 2) {
    lo -= step;
    hi += step;
  }
  if (y0 >= 0) {
    lo = std::max(lo, 0.0);
  }
  Scene scene;
  scene.width = width;
  scene.height = height;
  scene.background = kBackground;
  const double left = kLeft, top = kTop, right = width - kRight, bottom = height - kBottom;
  const auto X = [&](double t) { return left + (t - t0) / (t1 - t0) * (right - left); };
  const auto Y = [&](double v) { return bottom - (v - lo) / (hi - lo) * (bottom - top); };

  const double largest = std::max(std::abs(lo), std::abs(hi));
  for (double v = lo; v <= hi + step / 2; v += step) {
    scene.lines.push_back({{{left, Y(v)}, {right, Y(v)}}, kGrid, 1});
    scene.labels.push_back({{left - 8, Y(v)},
                            CountLabel(v, step, largest),
                            kTickFont,
                            kInk,
                            Label::Anchor::kEnd,
                            false});
  }
  const double tstep = TimeStep(t1 - t0, 8);
  std::optional<int> last_day;
  for (double t = std::ceil(t0 / tstep) * tstep; t <= t1; t += tstep) {
    const std::tm tm = Utc(t);
    scene.lines.push_back({{{X(t), top}, {X(t), bottom}}, kGrid, 1});
    scene.lines.push_back({{{X(t), bottom}, {X(t), bottom + 5}}, kInk, 1});
    std::string text =
        tstep >= 86400
            ? fmt::format("{:04}-{:02}-{:02}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday)
        : tstep >= 60 ? fmt::format("{:02}:{:02}", tm.tm_hour, tm.tm_min)
                      : fmt::format("{:02}:{:02}:{:02}", tm.tm_hour, tm.tm_min, tm.tm_sec);
    scene.labels.push_back(
        {{X(t), bottom + 16}, std::move(text), kTickFont, kInk, Label::Anchor::kMiddle, false});
    // The date under the first tick and under every tick of a new day.
    const int day = tm.tm_year * 400 + tm.tm_yday;
    if (tstep < 86400 && last_day != day) {
      scene.labels.push_back(
          {{X(t), bottom + 32},
           fmt::format("{:04}-{:02}-{:02}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
           kTickFont,
           kInk,
           Label::Anchor::kMiddle,
           false});
    }
    last_day = day;
  }
  scene.lines.push_back(
      {{{left, top}, {right, top}, {right, bottom}, {left, bottom}, {left, top}}, kInk, 1});
  scene.labels.push_back({{(left + right) / 2, top / 2},
                          "Engine objects over time",
                          18,
                          kInk,
                          Label::Anchor::kMiddle,
                          false});
  scene.labels.push_back(
      {{(left + right) / 2, bottom + 54}, "Time (UTC)", 14, kInk, Label::Anchor::kMiddle, false});
  scene.labels.push_back(
      {{18, (top + bottom) / 2}, "Engine objects", 14, kInk, Label::Anchor::kMiddle, true});

  // The servers' lines, outages under them and marks over them.
  std::vector<std::string> legend_names;
  std::vector<Rgb> legend_colours;
  bool any_outage = false;
  std::array<bool, 3> kinds{};
  std::size_t index = 0;
  for (const auto& [name, data] : series) {
    const Rgb colour = name.empty() ? kGrey : kSeries[index++ % kSeries.size()];
    if (!name.empty()) {
      legend_colours.push_back(colour);
      legend_names.push_back(data.pieces.empty() ? name + " (no answer)" : name);
    }
    for (const auto& [a, b] : data.outages) {
      const double xa = X(a), xb = std::max(X(b), xa + 2);
      scene.areas.push_back({{{xa, top}, {xb, top}, {xb, bottom}, {xa, bottom}}, colour, 0.15});
      any_outage = true;
    }
    std::vector<std::pair<double, double>> all;  // every count, for the marks' height
    for (const auto& piece : CutAtGaps(data.pieces)) {
      std::vector<Point> points;
      for (const auto& [t, v] : piece) {
        points.push_back({X(t), Y(v)});
        all.emplace_back(t, v);
      }
      if (points.size() == 1) {
        const Point p = points[0];
        scene.shapes.push_back(
            {{{p.x - 2, p.y - 2}, {p.x + 2, p.y - 2}, {p.x + 2, p.y + 2}, {p.x - 2, p.y + 2}},
             colour,
             1.0});
      } else {
        scene.lines.push_back({Decimate(points), colour, 2});
      }
    }
    for (const auto& m : data.marks) {
      // On the server's line: its last count at that time, else the first
      // after; on the top edge without any.
      double y = top + 2 * kMarkSize;
      const auto after = std::lower_bound(all.begin(), all.end(), std::make_pair(m.t, -1e300));
      if (after != all.begin()) {
        y = Y(std::prev(after)->second);
      } else if (after != all.end()) {
        y = Y(after->second);
      }
      Shape(scene, m.kind, {X(m.t), y}, colour);
      kinds[static_cast<std::size_t>(m.kind)] = true;
    }
  }

  // The legend, right of the plot: what each colour is, then each kind of
  // mark as it is drawn (in the server's colour on the chart).
  const double lx = right + 20;
  double ly = top + 8;
  for (std::size_t i = 0; i < legend_names.size(); ++i) {
    scene.lines.push_back({{{lx, ly}, {lx + 24, ly}}, legend_colours[i], 2});
    std::string name = legend_names[i];
    if (name.size() > 26) {
      name = name.substr(0, 25) + "\xE2\x80\xA6";
    }
    scene.labels.push_back(
        {{lx + 32, ly}, std::move(name), kLegendFont, kInk, Label::Anchor::kStart, false});
    ly += 22;
  }
  static constexpr std::array<const char*, 3> kKindNames = {
      "Auto-GC (stats log)", "ForceGC over RCON (stats log)", "ForceGC sent by the watcher"};
  if (std::any_of(kinds.begin(), kinds.end(), [](bool k) { return k; })) {
    ly += 8;
    scene.labels.push_back(
        {{lx, ly}, "Collections, in the server's colour:", 11, kInk, Label::Anchor::kStart, false});
    ly += 22;
    for (std::size_t k = 0; k < kinds.size(); ++k) {
      if (kinds[k]) {
        const double mid = k == 0 ? ly + kMarkSize : k == 2 ? ly - kMarkSize : ly;
        Shape(scene, static_cast<MarkKind>(k), {lx + 12, mid}, kGrey);
        scene.labels.push_back(
            {{lx + 32, ly}, kKindNames[k], kLegendFont, kInk, Label::Anchor::kStart, false});
        ly += 24;
      }
    }
  }
  if (any_outage) {
    ly += 4;
    scene.areas.push_back(
        {{{lx, ly - 8}, {lx + 24, ly - 8}, {lx + 24, ly + 8}, {lx, ly + 8}}, kGrey, 0.3});
    scene.labels.push_back(
        {{lx + 32, ly}, "no answer (shaded)", kLegendFont, kInk, Label::Anchor::kStart, false});
  }
  return scene;
}

}  // namespace watch
