#include "watch/options.h"

#include <cmath>
#include <iostream>
#include <stdexcept>

#include <fmt/format.h>
#include <CLI/CLI.hpp>

#include "cli_values/cli11.h"
#include "formats/plugin_files.h"
#include "formats/replies.h"
#include "watch/chart.h"
#include "watch/metrics_sink.h"
#include "watch/regular_file.h"

namespace watch {

namespace {

using namespace std::chrono_literals;
using cli_values::Unit;

std::chrono::milliseconds Millis(double seconds) {
  return std::chrono::milliseconds(std::llround(seconds * 1000.0));
}

// "[NAME=]PATH"; a prefix that could not be a server name is part of the path.
StatsLogSpec ParseStatsLog(const std::string& text) {
  const auto eq = text.find('=');
  if (eq != std::string::npos && eq > 0) {
    const std::string name = text.substr(0, eq);
    if (name.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-") ==
        std::string::npos) {
      return {name, text.substr(eq + 1)};
    }
  }
  return {"", text};
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, const std::optional<std::string>& password,
                      WatchOptions& out, int& exit_code) {
  CLI::App app{
      fmt::format("quillmoor-watch: polls {} over RCON and shows the engine's object count of "
                  "each server as a live table, a CSV file, a chart and Prometheus metrics.\n",
                  formats::kStatsCommand) +
      "Exit codes: 0 stopped cleanly; 1 an output could not be written or a password was "
      "refused; 2 bad command line, servers file or environment, or the metrics port in use."};
  app.set_version_flag("--version", std::string("quillmoor-watch ") + QUILLMOOR_VERSION);
  std::vector<std::string> server_args, stats_log_args;
  std::string servers_file, csv, plot;
  double interval = 10, timeout = 5, duration = 0, force_every = 0;
  app.add_option("--server", server_args,
                 "A server to watch, NAME=HOST:PORT (repeatable); the password comes from "
                 "the environment variable QUILLMOOR_RCON_PASSWORD or, under systemd, the "
                 "credential rcon-password")
      ->type_name("NAME=HOST:PORT");
  app.add_option("--servers", servers_file,
                 "File of servers, one a line: NAME HOST:PORT PASSWORD ('#' starts a comment)")
      ->type_name("FILE");
  // Durations take a unit (10s, 5m, 1h); a bare number keeps the unit the
  // option always had.
  app.add_option("--interval", interval, "Time between polls of a server")
      ->transform(cli_values::Duration(Unit::kSeconds, 50ms, 24h))
      ->type_name("DURATION")
      ->capture_default_str();
  app.add_option("--timeout", timeout,
                 "Time a name lookup, a connection with its login, or a command may take")
      ->transform(cli_values::Duration(Unit::kSeconds, 50ms, 600s))
      ->type_name("DURATION")
      ->capture_default_str();
  app.add_option("--duration", duration, "Stop after this long (default: at Ctrl-C)")
      ->transform(cli_values::Duration(Unit::kSeconds, 10ms, 1e9s))
      ->type_name("DURATION");
  app.add_option("--csv", csv,
                 "Append every observation to this CSV file (timestamp,server,objects,status)")
      ->type_name("FILE");
  app.add_option("--plot", plot, "Draw the chart into FILE.svg or FILE.png when the run stops")
      ->type_name("FILE");
  app.add_option("--stats-log", stats_log_args,
                 fmt::format("A server's {}: its forced collections are marked on the chart; "
                             "NAME=PATH colours them as that server (repeatable)",
                             formats::kStatsLogFile))
      ->type_name("[NAME=]PATH");
  app.add_option("--force-gc-every", force_every,
                 "Send the force-GC command to every server this often")
      ->transform(cli_values::Duration(Unit::kMinutes, 60ms, 1e6 * 60s))
      ->type_name("DURATION");
  app.add_option("--force-gc-command", out.force_gc_command,
                 "Name of the force-GC command (the plugin's Rcon.CommandName)")
      ->capture_default_str();
  std::string metrics;
  const auto* metrics_option =
      app.add_option("--metrics", metrics,
                     "Serve Prometheus metrics at http://[HOST:]PORT/metrics while polling; "
                     "loopback unless HOST (an IPv4 address) is given, any free port for 0")
          ->type_name("[HOST:]PORT");
  app.add_flag("--quiet", out.quiet,
               "No table on standard output (messages still go to standard error)");

  auto* plot_cmd = app.add_subcommand("plot", "Draw the chart from a CSV file the watcher wrote");
  std::string plot_csv, plot_out;
  std::vector<std::string> plot_logs;
  plot_cmd->add_option("csv", plot_csv, "The CSV file")->required()->type_name("FILE.csv");
  plot_cmd->add_option("--plot", plot_out, "The chart to write, FILE.svg or FILE.png")
      ->required()
      ->type_name("FILE");
  plot_cmd->add_option("--stats-log", plot_logs, "As for the live run (repeatable)")
      ->type_name("[NAME=]PATH");
  app.require_subcommand(0, 1);

  try {
    app.parse(argc, argv);
    const auto usage = [](const std::string& what) { throw CLI::ValidationError(what); };
    if (plot_cmd->parsed()) {
      out.plot_from_csv = plot_csv;
      out.plot = plot_out;
      for (const auto& s : plot_logs) {
        out.stats_logs.push_back(ParseStatsLog(s));
      }
    } else {
      if (server_args.empty() && servers_file.empty()) {
        usage("give the servers with --server NAME=HOST:PORT or --servers FILE");
      }
      if (!server_args.empty() && !password) {
        usage(fmt::format("--server needs the password in the environment variable {}",
                          kPasswordVariable));
      }
      for (const auto& s : server_args) {
        try {
          out.servers.push_back(ParseServerArgument(s, *password));
        } catch (const std::invalid_argument& e) {
          usage(e.what());
        }
      }
      if (!servers_file.empty()) {
        std::vector<ServerSpec> more;
        std::string text;
        try {
          text = ReadRegularFile(servers_file);
        } catch (const std::runtime_error& e) {
          usage(e.what());
        }
        try {
          more = ParseServersFile(text);
        } catch (const std::invalid_argument& e) {
          usage(fmt::format("{}: {}", servers_file, e.what()));
        }
        if (more.empty()) {
          usage(fmt::format("{} lists no server", servers_file));
        }
        if (ReadableByOthers(servers_file)) {
          out.warnings.push_back(
              fmt::format("{} holds passwords but its group or others may read it: chmod 600 {}",
                          servers_file, servers_file));
        }
        for (auto& s : more) {
          out.servers.push_back(std::move(s));
        }
      }
      try {
        CheckUniqueNames(out.servers);
      } catch (const std::invalid_argument& e) {
        usage(e.what());
      }
      out.interval = Millis(interval);
      out.timeout = Millis(timeout);
      if (duration > 0) {
        out.duration = Millis(duration);
      }
      if (force_every > 0) {
        out.force_gc_every = Millis(force_every * 60.0);
      }
      if (out.force_gc_command.empty()) {
        usage("--force-gc-command cannot be empty");
      }
      out.csv = csv;
      out.plot = plot;
      for (const auto& s : stats_log_args) {
        out.stats_logs.push_back(ParseStatsLog(s));
      }
      if (metrics_option->count() > 0) {
        try {
          out.metrics = ParseListenAddress(metrics);
        } catch (const std::invalid_argument& e) {
          usage(fmt::format("--metrics {}", e.what()));
        }
        try {
          FollowedLogs(out.servers, out.stats_logs);
        } catch (const std::invalid_argument& e) {
          usage(e.what());
        }
      }
    }
    if (!out.plot.empty()) {
      try {
        CheckChartPath(out.plot);
      } catch (const std::invalid_argument& e) {
        usage(e.what());
      }
    }
  } catch (const CLI::ParseError& e) {
    exit_code = app.exit(e) == 0 ? kExitOk : kExitUsage;
    return false;
  }
  return true;
}

}  // namespace watch
