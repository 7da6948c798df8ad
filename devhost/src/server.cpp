#include "devhost/server.h"

#include <spdlog/logger.h>
#include <CLI/CLI.hpp>
#include <asio/ip/address.hpp>
#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

#include "cli_values/cli11.h"
#include "devhost/dynamic_library.h"
#include "formats/replies.h"
#include "platform/native_path.h"
#include "platform/utf8_path.h"
#include "rcon_wire/codec.h"
#include "stop_signals.h"

namespace devhost {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// Beside the dev server's own executable, where the build puts both.
std::filesystem::path DefaultPlugin() {
  const std::string file = std::string("Quillmoor") + kLibrarySuffix;
  const auto self = ExecutablePath();
  return self.empty() ? std::filesystem::path(file) : self.parent_path() / file;
}

// Copies the library and its PluginInfo.json into the plugin folder. A copy
// then a rename, so that a library mapped by a running server is never
// overwritten in place.
std::filesystem::path Install(const std::filesystem::path& library,
                              const std::filesystem::path& server_dir) {
  namespace fs = std::filesystem;
  const fs::path folder = server_dir / "ArkApi" / "Plugins" / library.stem();
  fs::create_directories(folder);
  const fs::path target = folder / library.filename();
  fs::path temp = target;
  temp += ".new";
  try {
    fs::copy_file(library, temp, fs::copy_options::overwrite_existing);
    fs::rename(temp, target);
  } catch (const fs::filesystem_error&) {
    // A full disk must not leave a partial copy behind for the operator to
    // find or to fill the disk further.
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw;
  }
  const fs::path info = library.parent_path() / "PluginInfo.json";
  if (fs::exists(info)) {
    fs::copy_file(info, folder / "PluginInfo.json", fs::copy_options::overwrite_existing);
  }
  return target;
}

// Asio parses with the system's parser, which on Windows takes shorthands
// such as "1.2.3" for 1.2.0.3: an IPv4 address must be the four-part dotted
// form it prints, as inet_pton demands on Linux.
bool IsIpAddress(const std::string& text) {
  std::error_code ec;
  const auto address = asio::ip::make_address(text, ec);
  return !ec && (!address.is_v4() || address.to_string() == text);
}

// Letters and digits only, so that it can be pasted into a shell unquoted.
std::string RandomPassword() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device device;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof(kAlphabet) - 2);
  std::string password;
  for (int i = 0; i < 16; ++i) {
    password.push_back(kAlphabet[pick(device)]);
  }
  return password;
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out + "'";
}

// A client reaches a wildcard bind through the loopback address.
std::string ConnectHost(const std::string& bind) {
  if (bind == "0.0.0.0" || bind == "::") {
    return "127.0.0.1";
  }
  return bind.find(':') == std::string::npos ? bind : "[" + bind + "]";
}

}  // namespace

bool ParseServerOptions(int argc, char** argv, ServerOptions& out, int& exit_code) {
  using cli_values::Unit;
  using namespace std::chrono_literals;
  CLI::App app{
      "quillmoor-devserver: a dedicated-server stand-in that runs the Quillmoor plugin.\n"
      "Durations take a unit (500ms, 10s, 5m, 1h); a bare number is in seconds."};
  app.option_defaults()->always_capture_default();
  std::string server_dir;
  std::string plugin = NarrowPath(DefaultPlugin());
  int structures = 1000, null_structures = 0;
  std::int32_t objects = 100000, churn = 1000;
  double world_delay = 0, time_scale = 1, run_for = 0;
  bool no_engine = false;
  int rcon_port = 27020;
  std::string rcon_bind = "127.0.0.1";
  std::string rcon_password;
  double rcon_idle_timeout = 300;
  double rcon_auth_timeout = 10;
  int rcon_max_per_address = 8;
  double log_max_mb = static_cast<double>(LogOptions{}.file_max_size) / kMiB;
  std::size_t log_max_files = LogOptions{}.file_max_files;
  const auto duration = [](cli_values::Seconds min, cli_values::Seconds max) {
    return cli_values::Duration(Unit::kSeconds, min, max);
  };
  app.add_option("--server-dir", server_dir,
                 "Server directory (the framework's current directory); created if missing")
      ->required();
  app.add_option("--plugin", plugin, "Plugin library to install and load")
      ->check(CLI::ExistingFile);
  app.add_option("--structures", structures, "Structures in the world")
      ->check(CLI::Range(0, 50000000));
  app.add_option("--null-structures", null_structures, "Extra null entries in the structure query")
      ->check(CLI::Range(0, 50000000));
  app.add_option("--objects", objects, "Engine objects at start")->check(CLI::Range(0, 2000000000));
  app.add_option("--object-churn", churn, "Objects created per game second")
      ->check(CLI::Range(0, 100000000));
  app.add_option("--world-delay", world_delay, "Game time before the world exists")
      ->transform(duration(0s, cli_values::Seconds(1e9)))
      ->default_str("0s")
      ->type_name("DURATION");
  app.add_flag("--no-engine", no_engine, "Leave the engine object null");
  app.add_option("--time-scale", time_scale, "Game seconds per real second")
      ->check(cli_values::Number(0.001, 1e6));
  app.add_option("--run-for", run_for, "Stop cleanly after this much real time; 0: at a signal")
      ->transform(duration(0s, cli_values::Seconds(1e9)))
      ->default_str("0s")
      ->type_name("DURATION");
  app.add_option("--rcon-port", rcon_port, "RCON port; 0 turns RCON off")
      ->check(CLI::Range(0, 65535));
  app.add_option("--rcon-bind", rcon_bind, "Address the RCON port listens on")
      ->check(CLI::Validator(
          [](std::string& text) {
            return IsIpAddress(text) ? std::string() : "not an IPv4 or IPv6 address: " + text;
          },
          "IP"));
  auto* password_option = app.add_option("--rcon-password", rcon_password, "RCON password")
                              ->default_str("a random one, printed at start");
  app.add_option("--rcon-idle-timeout", rcon_idle_timeout,
                 "An RCON connection idle this long is closed (not while its command runs)")
      ->transform(duration(10ms, 24h))
      ->default_str("300s")
      ->type_name("DURATION");
  app.add_option("--rcon-auth-timeout", rcon_auth_timeout,
                 "A new RCON connection not logged in this long after it was accepted is closed")
      ->transform(duration(10ms, 24h))
      ->default_str("10s")
      ->type_name("DURATION");
  app.add_option("--rcon-max-per-address", rcon_max_per_address,
                 "Open RCON connections allowed from one address; more are refused")
      ->check(CLI::Range(1, 1000000));
  app.add_option("--log-max-size", log_max_mb,
                 "MiB that ArkApi/Logs/ArkApi.log reaches before it is rotated")
      ->check(cli_values::Number(0.001, 1e6));
  app.add_option("--log-max-files", log_max_files,
                 "Rotated logs kept (ArkApi.1.log is the newest); 0 keeps none")
      ->check(CLI::Range(0, 1000));
  const RconOptions rcon_defaults;
  app.footer("RCON: at most " + std::to_string(rcon_defaults.max_connections) +
             " connections in all. When all are open, a newcomer takes the slot of a connection "
             "that has not logged in (the oldest of the address that holds the most of them), so "
             "connections that never log in cannot keep an operator out; it is refused only when "
             "every open connection has logged in. " +
             std::to_string(rcon_defaults.max_auth_failures) +
             " wrong passwords in a row refuse the address for " +
             cli_values::FormatDuration(rcon_defaults.block_duration) +
             ". A password longer than " + std::to_string(rcon_wire::kMaxRequestBody) +
             " bytes is refused: no packet can carry it.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    exit_code = app.exit(e) == 0 ? 0 : 2;
    return false;
  }
  if (password_option->count() > 0 && rcon_password.empty()) {
    std::cerr << "--rcon-password: an empty password is refused; leave the option out to have "
                 "one generated\n";
    exit_code = 2;
    return false;
  }
  if (rcon_password.size() > rcon_wire::kMaxRequestBody) {
    std::cerr << "--rcon-password: " << rcon_password.size() << " bytes is longer than any "
              << "packet can carry (" << rcon_wire::kMaxRequestBody
              << " bytes): nobody could log in\n";
    exit_code = 2;
    return false;
  }
  out.server_dir = PathFromNarrow(server_dir);
  out.plugin = PathFromNarrow(plugin);
  out.host.server_dir = out.server_dir;
  out.host.engine.structures = structures;
  out.host.engine.null_structures = null_structures;
  out.host.engine.objects = objects;
  out.host.engine.object_churn = churn;
  out.host.engine.engine = !no_engine;
  out.host.world_delay = world_delay;
  out.host.log.to_stdout = true;
  out.host.log.file_max_size = static_cast<std::size_t>(std::llround(log_max_mb * kMiB));
  out.host.log.file_max_files = log_max_files;
  out.time_scale = time_scale;
  out.run_for = run_for;
  out.rcon.port = static_cast<std::uint16_t>(rcon_port);
  out.rcon.bind_address = rcon_bind;
  out.rcon.password = rcon_password;
  out.rcon.idle_timeout = std::chrono::milliseconds(std::llround(rcon_idle_timeout * 1000));
  out.rcon.auth_timeout = std::chrono::milliseconds(std::llround(rcon_auth_timeout * 1000));
  out.rcon.max_per_address = static_cast<std::size_t>(rcon_max_per_address);
  exit_code = 0;
  return true;
}

int RunServer(const ServerOptions& options) {
  namespace fs = std::filesystem;
  // First, so that no stop request in the start-up ends the process before
  // the plugin can be unloaded.
  try {
    InstallStopSignals();
  } catch (const std::exception& e) {
    std::cerr << "quillmoor-devserver: cannot install signal handlers: " << e.what() << "\n";
    return 1;
  }
  // A missing folder is made, as a first run in a fresh clone needs; a file
  // in its place is the operator's mistake.
  std::error_code ec;
  const bool created = fs::create_directories(options.server_dir, ec);
  std::error_code ignored;
  if (!fs::is_directory(options.server_dir, ignored)) {
    const bool in_the_way = fs::exists(fs::symlink_status(options.server_dir, ignored));
    std::cerr << "quillmoor-devserver: --server-dir " << options.server_dir
              << (in_the_way ? " is not a directory\n"
                             : " cannot be created: " + ec.message() + "\n");
    return in_the_way ? 2 : 1;
  }
  HostOptions host_options = options.host;
  host_options.server_dir = fs::absolute(options.server_dir);
  host_options.log.file = host_options.server_dir / "ArkApi" / "Logs" / "ArkApi.log";

  fs::path installed;
  try {
    installed = Install(options.plugin, host_options.server_dir);
  } catch (const std::exception& e) {
    std::cerr << "quillmoor-devserver: cannot install the plugin: " << e.what() << "\n";
    return 1;
  }

  std::unique_ptr<Host> running;
  try {
    running = std::make_unique<Host>(host_options);
  } catch (const std::exception& e) {
    std::cerr << "quillmoor-devserver: cannot start the host (log file " << host_options.log.file
              << "): " << e.what() << "\n";
    return 1;
  }
  Host& host = *running;
  host.log().Host().info("Dev server starting in {} (time scale {}x)",
                         PathToUtf8(host_options.server_dir), options.time_scale);
  if (created) {
    host.log().Host().info("Created the server directory {}", PathToUtf8(host_options.server_dir));
  }
  try {
    host.LoadPlugin(installed);
  } catch (const std::exception& e) {
    host.log().Host().error("Cannot load {}: {}", PathToUtf8(installed), e.what());
    return 1;
  }

  std::unique_ptr<RconServer> rcon;
  if (options.rcon.port != 0) {
    RconOptions rcon_options = options.rcon;
    const bool generated = rcon_options.password.empty();
    if (generated) {
      rcon_options.password = RandomPassword();
    }
    try {
      rcon = std::make_unique<RconServer>(host, rcon_options);
    } catch (const std::exception& e) {
      host.log().Host().error("Cannot start RCON: {}", e.what());
      return 1;
    }
    // Standard output only: the password stays out of the log file. Through
    // the console's queue, as every other line: a standard output that is
    // full from the start must not stop the game thread here. Lines end as
    // a text-mode stream would end them, and as the log's own lines do.
#if defined(_WIN32)
    const std::string eol = "\r\n";
#else
    const std::string eol = "\n";
#endif
    std::string banner;
    if (generated) {
      banner = "RCON password: " + rcon_options.password +
               " (generated; choose one with --rcon-password)" + eol;
    }
    banner += "Connect with: rconclt -t 5 " +
              ShellQuoted(rcon_options.password + "@" + ConnectHost(rcon_options.bind_address) +
                          ":" + std::to_string(rcon->port())) +
              " " + std::string(formats::kStatsCommand) + eol;
    host.log().ToStdout(banner);
  } else {
    host.log().Host().info("RCON is off (--rcon-port 0)");
  }

  using clock = std::chrono::steady_clock;
  const auto start = clock::now();
  auto next = start;
  while (StopRequest().empty()) {
    const double fps = host.engine().TickRate();
    const auto frame =
        std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / fps));
    host.Tick(options.time_scale / fps);
    next += frame;
    const auto now = clock::now();
    if (options.run_for > 0 && now - start >= std::chrono::duration<double>(options.run_for)) {
      break;
    }
    if (next > now) {
      std::this_thread::sleep_until(next);
    } else {
      next = now;  // behind: do not try to catch up
    }
  }
  const std::string_view request = StopRequest();
  host.log().Host().info("Dev server stopping ({})",
                         request.empty() ? std::string_view("--run-for elapsed") : request);
  rcon.reset();
  while (!host.Plugins().empty()) {
    host.UnloadPlugin(host.Plugins().back().name);
  }
  return 0;
}

}  // namespace devhost
