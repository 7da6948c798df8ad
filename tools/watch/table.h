// The live view: one row per server with its object count now (or its state
// while it has none), the change since its previous count, the least and
// most seen in this run, and the error it is failing with and for how long.
// Used on the watcher's one thread; it only builds text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "watch/sample.h"

namespace watch {

// `text` safe to print on a terminal: control characters, DEL and every
// byte outside ASCII as \xHH, so that a server's reply cannot move the
// cursor or recolour the screen.
std::string Printable(std::string_view text);

class Table {
 public:
  // Rows in the order given.
  explicit Table(const std::vector<std::string>& servers);

  // Takes one observation into its server's row and returns it as one
  // plain line (for output that is not a terminal), the same fields for
  // every status: "TIME SERVER OBJECTS CHANGE STATUS", "-" for a number it
  // has not, then ": DETAIL" when there is one (printable, never cut). A
  // server that is down keeps its least and most but shows "down", never a
  // count of zero.
  std::string Add(const Sample& sample);

  // The whole table, a header and one line per server, each ending in '\n'
  // and shorter than `width` columns: long names and errors are cut with an
  // ellipsis. `now` dates the errors.
  std::string Render(std::size_t width, Time now) const;
  std::size_t line_count() const { return rows_.size() + 1; }

 private:
  struct Row {
    explicit Row(std::string name) : server(std::move(name)) {}
    std::string server;
    std::optional<std::int64_t> now;
    std::optional<std::int64_t> change;
    std::optional<std::int64_t> min, max;
    std::string state = "waiting";
    std::string error;            // while failing: the latest reason
    std::optional<Time> failing;  // since when, while failing
  };
  std::vector<Row> rows_;
};

}  // namespace watch
