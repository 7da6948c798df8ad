// The plugin's two RCON commands as a client sees them: their names and the
// compact JSON document each request is answered with, built by the plugin
// and read by the operator tools. Pure; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace formats {

// The statistics command's name; a client may send it in any case.
inline constexpr char kStatsCommand[] = "GetServerStats";
// The force-GC command's default name (the operator may choose another);
// its replies carry this name whatever it is registered as.
inline constexpr char kForceGcCommand[] = "ForceGC";
// The framework's own commands, which it answers before any plugin's: a
// plugin command of one of these names is never reached.
inline constexpr std::array<std::string_view, 3> kFrameworkCommands{"plugins.load",
                                                                    "plugins.unload", "status"};

// Whether two command names are one command to the framework, which matches
// them ignoring ASCII case.
bool SameCommand(std::string_view a, std::string_view b);

// The statistics reply's member holding the engine's object count.
inline constexpr char kObjectCountKey[] = "uobjects";

// The statistics reply: the object count, or the error reply when it could
// not be read.
std::string StatsReply(std::int64_t objects);
std::string StatsUnavailableReply();

enum class ForceGcOutcome {
  kForced,    // the engine was asked for a full collection
  kNoEngine,  // there was no engine object to ask
  kFailed,    // something failed on the way
};
std::string ForceGcReply(ForceGcOutcome outcome);

// The object count of a successful statistics reply, a whole number from 0
// to 2^63 - 1; nullopt for anything else (an error reply, another server's
// text, a damaged document, a count that is negative or does not fit).
std::optional<std::int64_t> ReadObjectCount(std::string_view body);

}  // namespace formats
