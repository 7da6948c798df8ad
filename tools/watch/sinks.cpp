#include "watch/sinks.h"

#include <memory>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "watch/chart.h"
#include "watch/csv.h"
#include "watch/metrics_sink.h"
#include "watch/table.h"

namespace watch {

namespace {

class TableSink final : public Sink {
 public:
  TableSink(const std::vector<ServerSpec>& servers, std::ostream& out, bool terminal)
      : table_(Names(servers)), out_(out), terminal_(terminal) {}

  void Start() override {
    if (terminal_) {
      Redraw();
    }
  }

  void Add(const Sample& sample) override {
    const std::string line = table_.Add(sample);
    if (terminal_) {
      Redraw();
    } else {
      out_ << line << '\n' << std::flush;
    }
  }

  // The table starts again below the message.
  void Interrupted() override { drawn_ = 0; }

 private:
  static std::vector<std::string> Names(const std::vector<ServerSpec>& servers) {
    std::vector<std::string> names;
    for (const auto& s : servers) {
      names.push_back(s.name);
    }
    return names;
  }

  void Redraw() {
    if (drawn_ > 0) {
      // Up to the table's first line, then clear to the end of the screen.
      out_ << "\x1b[" << drawn_ << "F\x1b[J";
    }
    out_ << table_.Render() << std::flush;
    drawn_ = table_.line_count();
  }

  Table table_;
  std::ostream& out_;
  bool terminal_;
  std::size_t drawn_ = 0;
};

class CsvSink final : public Sink {
 public:
  explicit CsvSink(const std::filesystem::path& path) : writer_(path) {}

  // A failed write drops only this sink: the table and the chart still work,
  // and the exit code tells that the rows are incomplete.
  void Add(const Sample& sample) override {
    try {
      writer_.Write(sample);
    } catch (const std::exception& e) {
      throw std::runtime_error(fmt::format("{}; no more rows are written", e.what()));
    }
  }

 private:
  CsvWriter writer_;
};

}  // namespace

int AttachSinks(const WatchOptions& options, std::ostream& out, bool terminal, Outputs& outputs) {
  // Sinks get each observation in this order; none writes before Start.
  try {
    // Listening first: a port in use stops the run before a file is touched.
    // Attached last: a scrape never shows a count that the CSV file has not.
    std::unique_ptr<Sink> metrics;
    if (options.metrics) {
      metrics = std::make_unique<MetricsSink>(options, outputs);
    }
    if (!options.csv.empty()) {
      outputs.Attach(std::make_unique<CsvSink>(options.csv));
    }
    if (!options.plot.empty()) {
      outputs.Attach(std::make_unique<ChartSink>(options.plot, options.stats_logs, outputs));
    }
    if (!options.quiet) {
      outputs.Attach(std::make_unique<TableSink>(options.servers, out, terminal));
    }
    if (metrics) {
      outputs.Attach(std::move(metrics));
    }
  } catch (const ListenError& e) {
    outputs.Fail(e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    outputs.Fail(e.what());
    return kExitFailure;
  }
  return kExitOk;
}

void ChartSink::Finish() {
  std::vector<LogMarks> marks;
  for (const auto& log : logs_) {
    try {
      marks.push_back({log.server, ReadForcedCollections(log.path)});
    } catch (const std::exception& e) {
      reporter_.Fail(e.what());
    }
  }
  try {
    DrawChart(path_, samples_, marks);
  } catch (const std::exception& e) {
    reporter_.Fail(fmt::format("no chart: {}", e.what()));
    return;
  }
  reporter_.Note(fmt::format("chart written to {}", path_.string()));
}

int RunPlot(const WatchOptions& options, std::ostream& err) {
  Outputs outputs(err);
  std::vector<Sample> samples;
  try {
    samples = ReadCsv(*options.plot_from_csv);
  } catch (const std::exception& e) {
    outputs.Fail(e.what());
    return kExitFailure;
  }
  outputs.Attach(std::make_unique<ChartSink>(options.plot, options.stats_logs, outputs));
  outputs.Start();
  for (const auto& sample : samples) {
    outputs.Add(sample);
  }
  outputs.Finish();
  return outputs.failed() ? kExitFailure : kExitOk;
}

}  // namespace watch
