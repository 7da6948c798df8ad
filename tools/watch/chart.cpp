#include "watch/chart.h"

#include <plplot.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <fstream>
#include <optional>
#include <stdexcept>

#include <fmt/format.h>

#include "formats/replies.h"

namespace watch {

namespace {

struct Rgb {
  PLINT r, g, b;
};

// Pens 0 (background) and 1 (axes and text) first, then one per server:
// colours that stay apart for the colour-blind, then grey for unnamed marks.
constexpr Rgb kBackground{255, 255, 255};
constexpr Rgb kInk{40, 40, 40};
constexpr std::array<Rgb, 8> kSeries = {{{0, 114, 178},
                                         {213, 94, 0},
                                         {0, 158, 115},
                                         {204, 121, 167},
                                         {230, 159, 0},
                                         {86, 180, 233},
                                         {120, 70, 20},
                                         {0, 0, 0}}};
constexpr PLINT kFirstSeriesPen = 2;
constexpr PLINT kGreyPen = kFirstSeriesPen + static_cast<PLINT>(kSeries.size());
constexpr PLINT kWidth = 1200, kHeight = 640;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool IsPng(const std::filesystem::path& path) {
  return Lower(path.extension().string()) == ".png";
}

bool HasDevice(const char* wanted) {
  std::array<const char*, 128> menu{}, names{};
  int n = static_cast<int>(names.size());
  const char** m = menu.data();
  const char** d = names.data();
  plgDevs(&m, &d, &n);
  for (int i = 0; i < n; ++i) {
    if (d[i] != nullptr && std::string_view(d[i]) == wanted) {
      return true;
    }
  }
  return false;
}

// Tick labels that suit the span shown.
const char* TimeFormat(double span_seconds) {
  if (span_seconds <= 2 * 86400.0) {
    return "%H:%M:%S";
  }
  return "%m-%d %H:%M";
}

// Sets up pens and device; PLplot prompts on the terminal for a device it
// does not know, so the device is checked first.
void Begin(const std::filesystem::path& path, const std::string& tmp) {
  const char* device = IsPng(path) ? "pngcairo" : "svg";
  if (!HasDevice(device)) {
    throw std::runtime_error(fmt::format("PLplot has no '{}' device{}", device,
                                         IsPng(path) ? ": install plplot-driver-cairo" : ""));
  }
  plsdev(device);
  plsfnam(tmp.c_str());
  plspage(0, 0, kWidth, kHeight, 0, 0);
  plscolbg(kBackground.r, kBackground.g, kBackground.b);
  plscol0(1, kInk.r, kInk.g, kInk.b);
  for (std::size_t i = 0; i < kSeries.size(); ++i) {
    plscol0(kFirstSeriesPen + static_cast<PLINT>(i), kSeries[i].r, kSeries[i].g, kSeries[i].b);
  }
  plscol0(kGreyPen, 140, 140, 140);
  plinit();
}

}  // namespace

void CheckChartPath(const std::filesystem::path& path) {
  const std::string ext = Lower(path.extension().string());
  if (ext != ".svg" && ext != ".png") {
    throw std::invalid_argument(
        fmt::format("chart file '{}' must end in .svg or .png", path.string()));
  }
}

void DrawChart(const std::filesystem::path& path, const std::vector<Sample>& samples,
               const std::vector<LogMarks>& marks) {
  CheckChartPath(path);
  // Servers in order of first appearance; each gets the next pen.
  std::vector<std::string> servers;
  double t0 = 0, t1 = 0, y0 = 0, y1 = 0;
  bool any = false, have_time = false;
  for (const auto& s : samples) {
    if (std::find(servers.begin(), servers.end(), s.server) == servers.end()) {
      servers.push_back(s.server);
    }
    const double t = EpochSeconds(s.time);
    t0 = have_time ? std::min(t0, t) : t;
    t1 = have_time ? std::max(t1, t) : t;
    have_time = true;
    if (s.objects) {
      const auto y = static_cast<double>(*s.objects);
      y0 = any ? std::min(y0, y) : y;
      y1 = any ? std::max(y1, y) : y;
      any = true;
    }
  }
  if (!any) {
    throw std::runtime_error("no object count to draw");
  }
  // By name, so that a chart from the CSV file matches the live run's.
  std::sort(servers.begin(), servers.end());
  const auto pen = [&](const std::string& server) {
    const auto it = std::find(servers.begin(), servers.end(), server);
    if (it == servers.end()) {
      return kGreyPen;
    }
    return kFirstSeriesPen +
           static_cast<PLINT>(static_cast<std::size_t>(it - servers.begin()) % kSeries.size());
  };
  if (t1 - t0 < 1.0) {
    t1 = t0 + 1.0;
  }
  const double pad = std::max((y1 - y0) * 0.08, std::max(1.0, std::abs(y1) * 0.01));
  y0 -= pad;
  y1 += pad;

  // PLplot writes as it draws and ends the process on a file it cannot
  // open: draw into a file beside the target, known to be writable, and
  // move it into place only when the chart is complete.
  const std::string tmp = path.string() + ".tmp";
  if (!std::ofstream(tmp, std::ios::binary)) {
    throw std::runtime_error(fmt::format("cannot write {}", tmp));
  }
  Begin(path, tmp);
  pladv(0);
  plvpor(0.08, 0.74, 0.12, 0.88);  // the legend goes on the right
  plwind(t0, t1, y0, y1);
  plcol0(1);
  plschr(0, 0.9);
  pltimefmt(TimeFormat(t1 - t0));
  plbox("bcnstd", 0, 0, "bcnstv", 0, 0);
  const std::string objects = fmt::format("Engine objects ({})", formats::kObjectCountKey);
  pllab("Time (UTC)", objects.c_str(), "Quillmoor: object count over time");

  // Collections from the statistics logs: dashed vertical lines.
  pllsty(2);
  bool any_log_mark = false;
  for (const auto& m : marks) {
    plcol0(m.server.empty() ? kGreyPen : pen(m.server));
    for (const auto& c : m.collections) {
      const double t = EpochSeconds(c.time);
      if (t >= t0 && t <= t1) {
        pljoin(t, y0, t, y1);
        any_log_mark = true;
      }
    }
  }
  pllsty(1);
  plwidth(2.0);

  bool any_sent = false;
  for (const auto& server : servers) {
    plcol0(pen(server));
    std::vector<PLFLT> xs, ys;
    std::optional<PLFLT> last_y;
    const auto flush = [&] {
      if (xs.size() == 1) {
        plstring(1, xs.data(), ys.data(), "#(210)");
      } else if (xs.size() > 1) {
        plline(static_cast<PLINT>(xs.size()), xs.data(), ys.data());
      }
      xs.clear();
      ys.clear();
    };
    for (const auto& s : samples) {
      if (s.server != server) {
        continue;
      }
      if (s.status == Status::kOk) {
        xs.push_back(EpochSeconds(s.time));
        ys.push_back(static_cast<double>(*s.objects));
        last_y = ys.back();
      } else if (s.status == Status::kForcedGc) {
        // A triangle on the server's line where the watcher forced a
        // collection (on the top edge before its first count).
        PLFLT x = EpochSeconds(s.time), y = last_y ? *last_y : y1 - pad * 0.3;
        plstring(1, &x, &y, "#(852)");
        any_sent = true;
      } else {
        flush();  // down or failing: a gap, never a fall to zero
      }
    }
    flush();
  }
  plwidth(1.0);

  // Legend: one line per server, then the two kinds of marks when present.
  std::vector<std::string> labels;
  for (const auto& server : servers) {
    const bool answered = std::any_of(samples.begin(), samples.end(), [&](const Sample& x) {
      return x.server == server && x.status == Status::kOk;
    });
    labels.push_back(answered ? server : server + " (no answer)");
  }
  std::vector<PLINT> opts(servers.size(), PL_LEGEND_LINE), colors, styles(servers.size(), 1),
      symbol_numbers, symbol_colors;
  std::vector<PLFLT> widths(servers.size(), 2.0), scales;
  std::vector<const char*> symbols;
  for (const auto& s : servers) {
    colors.push_back(pen(s));
  }
  if (any_log_mark) {
    labels.push_back("GC forced (stats log)");
    opts.push_back(PL_LEGEND_LINE);
    colors.push_back(kGreyPen);
    styles.push_back(2);
    widths.push_back(1.0);
  }
  if (any_sent) {
    labels.push_back("force-GC sent");
    opts.push_back(PL_LEGEND_SYMBOL);
    colors.push_back(1);
    styles.push_back(1);
    widths.push_back(1.0);
  }
  const std::size_t n = labels.size();
  symbol_colors.assign(colors.begin(), colors.end());
  scales.assign(n, 1.0);
  symbol_numbers.assign(n, 1);
  symbols.assign(n, "#(852)");
  std::vector<const char*> texts;
  for (const auto& l : labels) {
    texts.push_back(l.c_str());
  }
  std::vector<PLINT> text_colors(n, 1);
  PLFLT lw = 0, lh = 0;
  pllegend(&lw, &lh, PL_LEGEND_BACKGROUND | PL_LEGEND_BOUNDING_BOX,
           PL_POSITION_RIGHT | PL_POSITION_OUTSIDE, 0.015, 0.0, 0.03, 0, 1, 1, 0, 0,
           static_cast<PLINT>(n), opts.data(), 1.0, 0.8, 2.0, 0.0, text_colors.data(), texts.data(),
           nullptr, nullptr, nullptr, nullptr, colors.data(), styles.data(), widths.data(),
           symbol_colors.data(), scales.data(), symbol_numbers.data(), symbols.data());
  plend();

  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    throw std::runtime_error(fmt::format("cannot write {}", path.string()));
  }
}

}  // namespace watch
