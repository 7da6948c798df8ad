#include "watch/table.h"

#include <algorithm>

#include <fmt/format.h>

namespace watch {

namespace {

std::string Count(const std::optional<std::int64_t>& n) {
  return n ? fmt::format("{}", *n) : std::string("-");
}

std::string Signed(const std::optional<std::int64_t>& n) {
  return n ? fmt::format("{:+}", *n) : std::string("-");
}

}  // namespace

Table::Table(const std::vector<std::string>& servers) {
  for (const auto& s : servers) {
    rows_.push_back(Row{s, {}, {}, {}, {}, "waiting", {}});
  }
}

std::string Table::Add(const Sample& sample) {
  auto it = std::find_if(rows_.begin(), rows_.end(),
                         [&](const Row& r) { return r.server == sample.server; });
  if (it == rows_.end()) {
    rows_.push_back(Row{sample.server, {}, {}, {}, {}, "waiting", {}});
    it = rows_.end() - 1;
  }
  Row& row = *it;
  std::string line = fmt::format("{} {} ", FormatTime(sample.time), sample.server);
  switch (sample.status) {
    case Status::kOk: {
      const std::int64_t n = *sample.objects;
      row.change = row.now ? std::optional<std::int64_t>(n - *row.now) : std::nullopt;
      row.now = n;
      row.min = row.min ? std::min(*row.min, n) : n;
      row.max = row.max ? std::max(*row.max, n) : n;
      row.state = "ok";
      line += fmt::format("{} {} ok", n, Signed(row.change));
      break;
    }
    case Status::kForcedGc:
      line += fmt::format("- - forced-gc {}", sample.detail);
      return line;  // a marker: the row's state is the poll's
    default:
      // The change is measured between counts; after a gap it restarts.
      row.now.reset();
      row.change.reset();
      row.state = std::string(StatusName(sample.status));
      row.last_error = sample.detail;
      line += fmt::format("- - {}: {}", StatusName(sample.status), sample.detail);
      break;
  }
  return line;
}

std::string Table::Render() const {
  std::size_t width = 6;
  for (const auto& r : rows_) {
    width = std::max(width, r.server.size());
  }
  std::string out = fmt::format("{:<{}}  {:>12}  {:>10}  {:>12}  {:>12}  {:<11}  {}\n", "SERVER",
                                width, "OBJECTS", "CHANGE", "MIN", "MAX", "STATE", "LAST ERROR");
  for (const auto& r : rows_) {
    out += fmt::format("{:<{}}  {:>12}  {:>10}  {:>12}  {:>12}  {:<11}  {}\n", r.server, width,
                       r.now ? Count(r.now) : (r.state == "ok" ? "-" : r.state), Signed(r.change),
                       Count(r.min), Count(r.max), r.state, r.last_error);
  }
  return out;
}

}  // namespace watch
