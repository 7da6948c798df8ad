#include "watch/table.h"

#include <algorithm>
#include <array>

#include <fmt/format.h>

namespace watch {

namespace {

// U+2026, one column wide.
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
constexpr std::size_t kGap = 2;
constexpr std::size_t kMinName = 6, kMaxName = 16;
constexpr std::size_t kMinError = 16;

std::string Count(const std::optional<std::int64_t>& n) {
  return n ? fmt::format("{}", *n) : std::string("-");
}

std::string Signed(const std::optional<std::int64_t>& n) {
  return n ? fmt::format("{:+}", *n) : std::string("-");
}

// Columns that `text` takes: everything here is ASCII but the ellipsis.
std::size_t Columns(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0u) != 0x80u;
  }));
}

// `text` in at most `width` columns, cut before a character.
std::string Fit(std::string_view text, std::size_t width) {
  if (Columns(text) <= width) {
    return std::string(text);
  }
  std::size_t at = 0, columns = 0;
  while (at < text.size() && columns + 1 < width) {
    ++at;
    ++columns;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0u) == 0x80u) {
      ++at;
    }
  }
  return width == 0 ? std::string() : std::string(text.substr(0, at)) + std::string(kEllipsis);
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
  const std::string fill(width - std::min(width, Columns(text)), ' ');
  return right ? fill + text : text + fill;
}

// "45s", "2m05s", "3h07m", "2d04h": short enough for any width.
std::string Age(std::chrono::milliseconds age) {
  const auto s = std::max<std::int64_t>(0, age.count() / 1000);
  if (s < 60) {
    return fmt::format("{}s", s);
  }
  if (s < 3600) {
    return fmt::format("{}m{:02}s", s / 60, s % 60);
  }
  if (s < 86400) {
    return fmt::format("{}h{:02}m", s / 3600, s % 3600 / 60);
  }
  return fmt::format("{}d{:02}h", s / 86400, s % 86400 / 3600);
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F) {
      out += fmt::format("\\x{:02x}", b);
    } else {
      out += c;
    }
  }
  return out;
}

Table::Table(const std::vector<std::string>& servers) {
  for (const auto& s : servers) {
    rows_.push_back(Row(s));
  }
}

std::string Table::Add(const Sample& sample) {
  if (sample.status == Status::kStart) {
    return {};
  }
  auto it = std::find_if(rows_.begin(), rows_.end(),
                         [&](const Row& r) { return r.server == sample.server; });
  if (it == rows_.end()) {
    rows_.push_back(Row(sample.server));
    it = rows_.end() - 1;
  }
  Row& row = *it;
  std::optional<std::int64_t> objects, change;
  switch (sample.status) {
    case Status::kOk: {
      const std::int64_t n = *sample.objects;
      row.change = row.now ? std::optional<std::int64_t>(n - *row.now) : std::nullopt;
      row.now = n;
      row.min = row.min ? std::min(*row.min, n) : n;
      row.max = row.max ? std::max(*row.max, n) : n;
      row.state = "ok";
      row.error.clear();
      row.failing.reset();
      objects = n;
      change = row.change;
      break;
    }
    case Status::kForcedGc:
      break;  // a marker: the row's state is the poll's
    default:
      // The change is measured between counts; after a gap it restarts.
      row.now.reset();
      row.change.reset();
      row.state = std::string(StatusName(sample.status));
      row.error = Printable(sample.detail);
      if (!row.failing) {
        row.failing = sample.time;
      }
      break;
  }
  std::string line = fmt::format("{} {} {} {} {}", FormatTime(sample.time), sample.server,
                                 Count(objects), Signed(change), StatusName(sample.status));
  if (sample.status != Status::kOk && !sample.detail.empty()) {
    line += ": " + Printable(sample.detail);
  }
  return line;
}

std::string Table::Render(std::size_t width, Time now) const {
  using Cells = std::array<std::string, 6>;
  constexpr std::array<bool, 6> kRight = {false, true, true, true, true, false};
  std::vector<Cells> lines{{"SERVER", "OBJECTS", "CHANGE", "MIN", "MAX", "LAST ERROR"}};
  for (const auto& r : rows_) {
    std::string error;
    if (r.failing) {
      error = Age(now - *r.failing) + " " + r.error;
    }
    lines.push_back({r.server, r.now ? Count(r.now) : r.state, Signed(r.change), Count(r.min),
                     Count(r.max), error});
  }
  std::array<std::size_t, 6> widths{};
  for (const auto& cells : lines) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max(widths[i], cells[i].size());
    }
  }
  // Lines stay one column short of the width: some terminals wrap a line
  // that fills the last column. The name gives way first, then the error.
  const std::size_t usable = width > 0 ? width - 1 : 0;
  widths[0] = std::clamp(widths[0], kMinName, kMaxName);
  const auto fixed = [&] {
    std::size_t sum = 0;
    for (std::size_t i = 0; i + 1 < widths.size(); ++i) {
      sum += widths[i] + kGap;
    }
    return sum;
  };
  while (widths[0] > kMinName && fixed() + kMinError > usable) {
    --widths[0];
  }
  widths[5] = usable > fixed() ? usable - fixed() : 0;

  std::string out;
  for (const auto& cells : lines) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      line += Pad(Fit(cells[i], widths[i]), i + 1 < cells.size() ? widths[i] : 0, kRight[i]);
      if (i + 1 < cells.size()) {
        line += std::string(kGap, ' ');
      }
    }
    line.erase(line.find_last_not_of(' ') + 1);
    // Numbers too long for even the narrowest layout: cut the line itself.
    out += Fit(line, usable);
    out += '\n';
  }
  return out;
}

}  // namespace watch
