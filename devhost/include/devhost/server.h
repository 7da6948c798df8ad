// quillmoor-devserver: a dedicated-server stand-in that installs the plugin
// into a server directory, loads it, and runs the game loop in real time
// until a signal or --run-for ends it, with a Source RCON port for operators'
// tools. The game loop runs on the calling thread, RCON on its own.
#pragma once

#include <filesystem>
#include <string>

#include "devhost/export.h"
#include "devhost/host.h"
#include "devhost/rcon_server.h"

namespace devhost {

struct ServerOptions {
  std::filesystem::path server_dir;
  std::filesystem::path plugin;  // the library to install and load
  HostOptions host;              // engine and world settings
  double time_scale = 1.0;       // game seconds per real second
  double run_for = 0;            // real seconds; 0: until a signal
  // Here port 0 means no RCON port at all, and an empty password that one is
  // generated and printed at start.
  RconOptions rcon;
};

// Parses the command line. On a bad option prints the reason to standard
// error and returns false with `exit_code` 2 (0 for --help).
DEVHOST_API bool ParseServerOptions(int argc, char** argv, ServerOptions& out, int& exit_code);

// Runs the server; returns the process's exit status.
DEVHOST_API int RunServer(const ServerOptions& options);

}  // namespace devhost
