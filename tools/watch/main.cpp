// quillmoor-watch: the object count of one or more servers over RCON, as a
// live table, a CSV file and a chart.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "watch/credentials.h"
#include "watch/options.h"
#include "watch/sink.h"
#include "watch/sinks.h"
#include "watch/watcher.h"

int main(int argc, char** argv) {
  // A reader that goes away, or a file that reaches its size limit, must
  // cost a write (reported) rather than the process and its chart.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    std::optional<std::string> password;
    try {
      password = watch::ServerPassword(std::getenv(watch::kPasswordVariable),
                                       std::getenv("CREDENTIALS_DIRECTORY"));
    } catch (const std::exception& e) {
      std::cerr << "quillmoor-watch: " << e.what() << '\n';
      return watch::kExitUsage;
    }
    watch::WatchOptions options;
    int exit_code = 0;
    if (!watch::ParseCommandLine(argc, argv, password, options, exit_code)) {
      return exit_code;
    }
    for (const auto& warning : options.warnings) {
      std::cerr << "quillmoor-watch: warning: " << warning << '\n';
    }
    if (options.plot_from_csv) {
      return watch::RunPlot(options, std::cerr);
    }
    watch::Outputs outputs(std::cerr);
    if (const int code = watch::AttachSinks(options, std::cout, isatty(STDOUT_FILENO) != 0, outputs,
                                            STDOUT_FILENO);
        code != watch::kExitOk) {
      return code;
    }
    return watch::RunWatch(options, outputs);
  } catch (const std::exception& e) {
    std::cerr << "quillmoor-watch: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "quillmoor-watch: unknown error\n";
  }
  return watch::kExitUnexpected;
}
