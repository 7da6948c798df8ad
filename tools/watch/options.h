// The watcher's command line: the live run, or the `plot` subcommand that
// draws a chart from a CSV file. Parsing only; nothing is opened here except
// a --servers file.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "formats/replies.h"
#include "watch/listen_address.h"
#include "watch/server_list.h"

namespace watch {

// Process exit codes. A service manager restarts on kExitFailure and
// kExitUnexpected, never on kExitUsage or kExitAuth: starting again would
// fail the same way, and a refused password sent again and again gets the
// watcher's address blocked by the servers.
inline constexpr int kExitOk = 0;  // stopped cleanly, every output written
// The run ended but an output failed, or some servers refused the password
// while others were polled.
inline constexpr int kExitFailure = 1;
// Bad command line, servers file or environment, or --metrics cannot listen.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitAuth = 3;        // every server refused the password
inline constexpr int kExitUnexpected = 4;  // an unexpected failure ended the run

// The environment variable that holds the password for --server.
inline constexpr const char* kPasswordVariable = "QUILLMOOR_RCON_PASSWORD";

struct StatsLogSpec {
  std::string server;  // empty: marks not tied to a server
  std::filesystem::path path;
};

struct WatchOptions {
  // Live run.
  std::vector<ServerSpec> servers;
  std::chrono::milliseconds interval{10000};
  std::chrono::milliseconds timeout{5000};
  std::optional<std::chrono::milliseconds> duration;
  std::filesystem::path csv;  // empty: no CSV file
  std::optional<std::chrono::milliseconds> force_gc_every;
  std::string force_gc_command = formats::kForceGcCommand;
  std::optional<ListenAddress> metrics;  // none: no Prometheus exporter
  bool quiet = false;                    // no table on standard output
  // Both modes.
  std::filesystem::path plot;  // empty: no chart
  std::vector<StatsLogSpec> stats_logs;
  // `plot` subcommand: draw from this CSV file instead of running.
  std::optional<std::filesystem::path> plot_from_csv;
  // Warnings for the operator before the run begins (a servers file that
  // others may read); the run goes on.
  std::vector<std::string> warnings;
};

// Parses argv. `password` is the value of kPasswordVariable, if set. On a
// bad option, or --help, prints to standard output or error and returns
// false with `exit_code` set (0 for --help, kExitUsage otherwise).
bool ParseCommandLine(int argc, const char* const* argv, const std::optional<std::string>& password,
                      WatchOptions& out, int& exit_code);

}  // namespace watch
