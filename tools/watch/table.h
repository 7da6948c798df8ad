// The live view: one row per server with its object count now, the change
// since its previous count, the least and most seen in this run, and the
// last error. Used on the watcher's one thread; it only builds text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "watch/sample.h"

namespace watch {

class Table {
 public:
  // Rows in the order given.
  explicit Table(const std::vector<std::string>& servers);

  // Takes one observation into its server's row and returns it as one
  // plain line (for output that is not a terminal). A server that is down
  // keeps its counts but shows "down", never a count of zero.
  std::string Add(const Sample& sample);

  // The whole table, a header and one line per server, each ending in '\n'.
  std::string Render() const;
  std::size_t line_count() const { return rows_.size() + 1; }

 private:
  struct Row {
    std::string server;
    std::optional<std::int64_t> now;
    std::optional<std::int64_t> change;
    std::optional<std::int64_t> min, max;
    std::string state = "waiting";
    std::string last_error;
  };
  std::vector<Row> rows_;
};

}  // namespace watch
