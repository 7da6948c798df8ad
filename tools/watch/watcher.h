// The watcher's two runs: the live poll of every server (one thread, Asio
// coroutines, one request in flight per server) and the chart from a CSV
// file. Each returns the process's exit code (see options.h).
#pragma once

#include <ostream>

#include "watch/options.h"

namespace watch {

// Polls until SIGINT, SIGTERM or the duration stops it; then the CSV file is
// complete and the chart is drawn. Writes the table to `out` (redrawn in
// place when `terminal`, one line per observation otherwise) and problems
// to `err`.
int RunWatch(const WatchOptions& options, std::ostream& out, std::ostream& err, bool terminal);

// Draws options.plot from options.plot_from_csv and the statistics logs.
int RunPlot(const WatchOptions& options, std::ostream& err);

}  // namespace watch
