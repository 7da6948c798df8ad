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

// Process exit codes.
inline constexpr int kExitOk = 0;       // stopped cleanly, every output written
inline constexpr int kExitFailure = 1;  // an output failed, or a password was refused
inline constexpr int kExitUsage = 2;    // bad command line, servers file or environment

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
};

// Parses argv. `password` is the value of kPasswordVariable, if set. On a
// bad option, or --help, prints to standard output or error and returns
// false with `exit_code` set (0 for --help, kExitUsage otherwise).
bool ParseCommandLine(int argc, const char* const* argv, const std::optional<std::string>& password,
                      WatchOptions& out, int& exit_code);

}  // namespace watch
