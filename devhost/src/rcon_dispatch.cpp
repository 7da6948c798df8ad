#include "devhost/rcon_dispatch.h"

#include <fmt/format.h>
#include <spdlog/logger.h>
#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <map>
#include <string_view>
#include <utility>

#include "devhost/dynamic_library.h"
#include "devhost/host.h"
#include "formats/log_text.h"
#include "host/framework.h"
#include "rcon_wire/codec.h"

namespace devhost {

namespace {

using Reply = RCONClientConnection::Reply;

// A status report lists this many frequency pairs and sums up the rest: a
// world where every structure holds its own values would otherwise answer
// with millions of lines.
constexpr std::size_t kMaxFrequencyRows = 8;
// Host log lines quote at most this many bytes of a request body, and of a
// command name on its own: a client decides how long these are, up to the
// packet size, and each such line stays in the log file.
constexpr std::size_t kMaxLoggedBody = 200;
constexpr std::size_t kMaxLoggedName = 64;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsSpace(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A plugin name becomes two path components, so it must not be able to climb
// out of the plugin folder ("../../bin/x") or name a folder of its own.
bool IsPluginName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
         });
}

std::wstring Widen(const std::string& text) {
  return AsaApi::Tools::Utf8Decode(text);
}

std::string LoadPlugin(Host& host, const std::string& name) {
  if (!IsPluginName(name)) {
    return "Usage: plugins.load <Name> (letters, digits, '_', '-' and '.' only)";
  }
  const auto library =
      host.options().server_dir / "ArkApi" / "Plugins" / name / (name + kLibrarySuffix);
  try {
    host.LoadPlugin(library);
  } catch (const std::exception& e) {
    host.log().Host().warn("plugins.load {} failed: {}", name, e.what());
    return fmt::format("Failed to load plugin {}: {}", name, e.what());
  }
  return fmt::format("Successfully loaded plugin {}", name);
}

std::string UnloadPlugin(Host& host, const std::string& name) {
  if (!IsPluginName(name)) {
    return "Usage: plugins.unload <Name>";
  }
  if (!host.UnloadPlugin(name)) {
    return fmt::format("Plugin {} is not loaded", name);
  }
  return fmt::format("Successfully unloaded plugin {}", name);
}

// The text of the `status` command: game time, tick rate, object count,
// structures, the net update frequencies they hold, and the loaded plugins.
std::string StatusReport(Host& host) {
  Engine& engine = host.engine();
  std::string out;
  out += fmt::format("Game time: {:.1f} s\n", host.GameTime());
  out += fmt::format("Tick rate: {} fps\n", engine.TickRate());
  out += fmt::format("Objects: {}\n", engine.ObjectCount());
  out += fmt::format("Forced collections: {}\n", engine.ForcedCollections());
  const auto& structures = engine.Structures();
  out += fmt::format("Structures: {}\n", structures.size());

  // Keyed by bit pattern: a NaN written by a plugin must not break the map's
  // ordering, and it still shows up as its own row.
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::size_t> pairs;
  for (const auto& actor : structures) {
    ++pairs[{std::bit_cast<std::uint32_t>(actor->NetUpdateFrequency),
             std::bit_cast<std::uint32_t>(actor->MinNetUpdateFrequency)}];
  }
  std::vector<std::pair<std::pair<std::uint32_t, std::uint32_t>, std::size_t>> rows(pairs.begin(),
                                                                                    pairs.end());
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  if (!rows.empty()) {
    out += "NetUpdateFrequency / MinNetUpdateFrequency: structures holding them\n";
  }
  std::size_t others = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i >= kMaxFrequencyRows) {
      others += rows[i].second;
      continue;
    }
    out += fmt::format("  {} / {}: {}\n", std::bit_cast<float>(rows[i].first.first),
                       std::bit_cast<float>(rows[i].first.second), rows[i].second);
  }
  if (others > 0) {
    out += fmt::format("  ({} more in {} other pairs)\n", others, rows.size() - kMaxFrequencyRows);
  }

  std::string names;
  for (const auto& plugin : host.Plugins()) {
    names += (names.empty() ? "" : ", ") + plugin.name;
  }
  out += "Plugins: " + (names.empty() ? std::string("none") : names);
  return out;
}

}  // namespace

std::vector<Reply> RunRconRequest(Host& host, const RconRequest& request) {
  const std::string_view text = Trim(request.body);
  const std::string_view word = text.substr(0, text.find(' '));
  const std::string args(Trim(text.substr(word.size())));
  auto answer = [&](std::string body) {
    return std::vector<Reply>{Reply{request.id, rcon_wire::kResponseValue, Widen(body)}};
  };

  // An empty command is how some clients find the end of a long reply, so
  // it is answered like any other and not logged.
  if (word.empty()) {
    return answer("Empty command: send a command name, for example status");
  }
  host.log().Host().info("RCON {}: {}", request.peer, formats::LogSafe(text, kMaxLoggedBody));
  if (EqualsIgnoringCase(word, "status")) {
    return answer(StatusReport(host));
  }
  if (EqualsIgnoringCase(word, "plugins.load")) {
    return answer(LoadPlugin(host, args));
  }
  if (EqualsIgnoringCase(word, "plugins.unload")) {
    return answer(UnloadPlugin(host, args));
  }

  const std::string name(word);
  RCONClientConnection connection;
  RCONPacket packet;
  packet.Length = request.size;
  packet.Id = request.id;
  packet.Type = rcon_wire::kExecCommand;
  packet.Body = FString(Widen(request.body).c_str());
  if (!host.commands().ExecuteRcon(Widen(name), &connection, &packet, host.engine().world())) {
    host.log().Host().info("RCON {}: unknown command '{}'", request.peer,
                           formats::LogSafe(name, kMaxLoggedName));
    return answer(fmt::format("Unknown command: {}", name));
  }
  std::vector<Reply> replies = connection.Replies();
  if (replies.empty()) {
    host.log().Host().warn("RCON command '{}' sent no reply; answering with an empty one",
                           formats::LogSafe(name, kMaxLoggedName));
    replies.push_back(Reply{request.id, rcon_wire::kResponseValue, L""});
  }
  return replies;
}

}  // namespace devhost
