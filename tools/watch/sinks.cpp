#include "watch/sinks.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "watch/chart.h"
#include "watch/csv.h"
#include "watch/metrics_sink.h"
#include "watch/quick_output.h"
#include "watch/table.h"

namespace watch {

namespace {

class TableSink final : public Sink {
 public:
  TableSink(const std::vector<ServerSpec>& servers, std::ostream& out, int out_fd, bool terminal,
            Reporter& reporter)
      : table_(Names(servers)), out_(out), terminal_(terminal), reporter_(reporter) {
    if (out_fd >= 0) {
      quick_ = std::make_unique<QuickOutput>(out_fd);
    }
  }

  void Start() override {
    if (terminal_) {
      Redraw(Now());
    }
  }

  void Add(const Sample& sample) override {
    const std::string line = table_.Add(sample);
    if (terminal_) {
      Redraw(sample.time);
    } else if (!line.empty()) {
      Write(line + '\n');
    }
  }

  // The table starts again below the message.
  void Interrupted() override { drawn_ = 0; }

  // A reader that takes nothing holds up the stop by a moment at most.
  void Finish() override {
    if (!quick_) {
      return;
    }
    quick_->Drain(kDrainGrace);
    if (quick_->dropped() > 0) {
      reporter_.Note(fmt::format(
          "standard output did not keep up: {} table {} not shown (polls, rows and metrics "
          "were not held up)",
          quick_->dropped(), quick_->dropped() == 1 ? "update was" : "updates were"));
    }
  }

 private:
  static std::vector<std::string> Names(const std::vector<ServerSpec>& servers) {
    std::vector<std::string> names;
    for (const auto& s : servers) {
      names.push_back(s.name);
    }
    return names;
  }

  static Time Now() {
    return std::chrono::time_point_cast<std::chrono::milliseconds>(Clock::now());
  }

  // The terminal's width now: it may have been resized since the last line.
  static std::size_t Width() {
    winsize ws{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
      return ws.ws_col;
    }
    return 80;
  }

  void Redraw(Time now) {
    std::string text;
    if (drawn_ > 0) {
      // Up to the table's first line, then clear to the end of the screen.
      text = fmt::format("\x1b[{}F\x1b[J", drawn_);
    }
    text += table_.Render(Width(), now);
    // A dropped drawing leaves the previous one on the screen: the next
    // moves up over that one.
    if (Write(text)) {
      drawn_ = table_.line_count();
    }
  }

  // A reader that went away (`... | head`) ends the table, not the run: the
  // CSV file and the chart go on. Any other failure is the table's. False
  // when the text was not taken.
  bool Write(const std::string& text) {
    if (closed_) {
      return false;
    }
    if (quick_) {
      switch (quick_->Write(text)) {
        case QuickOutput::Result::kTaken:
          return true;
        case QuickOutput::Result::kDropped:
          return false;
        case QuickOutput::Result::kClosed:
          closed_ = true;
          reporter_.Note("standard output was closed: the table is no longer shown");
          return false;
      }
    }
    errno = 0;
    out_ << text << std::flush;
    if (!out_) {
      if (errno == EPIPE) {
        closed_ = true;
        reporter_.Note("standard output was closed: the table is no longer shown");
        return false;
      }
      throw std::runtime_error("cannot write the table to standard output");
    }
    return true;
  }

  static constexpr std::chrono::milliseconds kDrainGrace{200};

  Table table_;
  std::ostream& out_;
  bool terminal_;
  Reporter& reporter_;
  std::unique_ptr<QuickOutput> quick_;  // null: `out_` is written as is
  std::size_t drawn_ = 0;
  bool closed_ = false;
};

class CsvSink final : public Sink {
 public:
  explicit CsvSink(const std::filesystem::path& path) : writer_(path) {}

  // Tells a later reader that nothing was observed between the previous
  // run's last row and this one.
  void Start() override {
    Add({std::chrono::time_point_cast<std::chrono::milliseconds>(Clock::now()),
         "",
         std::nullopt,
         Status::kStart,
         {}});
  }

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

int AttachSinks(const WatchOptions& options, std::ostream& out, bool terminal, Outputs& outputs,
                int out_fd) {
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
      outputs.Attach(std::make_unique<TableSink>(options.servers, out, out_fd, terminal, outputs));
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
    DrawChart(path_, samples_.samples(), marks);
  } catch (const std::exception& e) {
    reporter_.Fail(fmt::format("no chart: {}", e.what()));
    return;
  }
  reporter_.Note(fmt::format("chart written to {}", path_.string()));
}

ChartSink::ChartSink(std::filesystem::path path, std::vector<StatsLogSpec> logs, Reporter& reporter)
    : path_(std::move(path)), logs_(std::move(logs)), reporter_(reporter) {
  CheckChartFolder(path_);
}

int RunPlot(const WatchOptions& options, std::ostream& err) {
  Outputs outputs(err);
  CsvContents csv;
  try {
    outputs.Attach(std::make_unique<ChartSink>(options.plot, options.stats_logs, outputs));
    csv = ReadCsv(*options.plot_from_csv);
  } catch (const std::exception& e) {
    outputs.Fail(e.what());
    return kExitFailure;
  }
  // Rows cut short (a full disk) or edited cost themselves, not the chart.
  if (csv.skipped > 0) {
    outputs.Note(fmt::format("{}: skipped {} {} that {} not a row ({})",
                             options.plot_from_csv->string(), csv.skipped,
                             csv.skipped == 1 ? "line" : "lines", csv.skipped == 1 ? "is" : "are",
                             Printable(csv.first_skipped)));
  }
  outputs.Start();
  for (const auto& sample : csv.rows) {
    outputs.Add(sample);
  }
  outputs.Finish();
  return outputs.failed() ? kExitFailure : kExitOk;
}

}  // namespace watch
