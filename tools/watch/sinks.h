// The watcher's outputs built from its options: the live table, the CSV file
// and the chart; and the `plot` subcommand, which is the chart alone fed
// from a CSV file. Used on the watcher's one thread.
#pragma once

#include <filesystem>
#include <ostream>
#include <vector>

#include "watch/chart_samples.h"
#include "watch/options.h"
#include "watch/sample.h"
#include "watch/sink.h"

namespace watch {

// Attaches to `outputs` every sink `options` asks for: the CSV file, the
// chart, the table on `out` (redrawn in place when `terminal`, one line per
// observation otherwise) and the Prometheus exporter. An output that cannot
// start is reported through outputs.Fail and the result is the exit code
// (kExitUsage when the exporter cannot listen, kExitFailure when the CSV
// file cannot be opened or no chart could be written where --plot says): the
// run must not begin. kExitOk otherwise. With `out_fd`, the table is
// written to that descriptor instead of `out`, never waiting for its reader
// (see quick_output.h).
int AttachSinks(const WatchOptions& options, std::ostream& out, bool terminal, Outputs& outputs,
                int out_fd = -1);

// Keeps the observations (in bounded memory: see chart_samples.h) and draws
// them when finished, with the forced collections of `logs`. A log that cannot be read costs its
// marks, not the chart. Reports through `reporter`, which must outlive the sink.
class ChartSink final : public Sink {
 public:
  // Throws std::runtime_error when no chart could be written at `path`, so
  // that the run does not begin.
  ChartSink(std::filesystem::path path, std::vector<StatsLogSpec> logs, Reporter& reporter);

  void Add(const Sample& sample) override { samples_.Add(sample); }
  void Finish() override;

 private:
  std::filesystem::path path_;
  std::vector<StatsLogSpec> logs_;
  Reporter& reporter_;
  ChartSamples samples_;
};

// Draws options.plot from options.plot_from_csv and the statistics logs;
// lines of the CSV file that are not rows are skipped and counted. Problems
// go to `err`. Returns the process's exit code.
int RunPlot(const WatchOptions& options, std::ostream& err);

}  // namespace watch
