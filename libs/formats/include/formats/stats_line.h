// The lines of the plugin's statistics log: each is a local time stamp, the
// message and CR LF. The plugin writes them through its logging library with
// the pattern below; the operator tools read them back with ParseStatsLine.
// Pure; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

// The logging library's pattern of a line (local time), and the line end on
// every system: the file is read on Windows servers. ParseStatsLine reads
// what this pattern writes; it knows the flags %Y, %m, %d, %H, %M, %S and a
// final %v (the message).
inline constexpr std::string_view kStatsLinePattern = "[%Y-%m-%d %H:%M:%S] %v";
inline constexpr std::string_view kStatsLineEnd = "\r\n";

// The causes of a forced collection that the plugin writes: its Auto-GC
// timer and the force-GC command.
inline constexpr char kAutoTimerTrigger[] = "auto-timer";
inline constexpr char kRconTrigger[] = "rcon";

// The start of the message written for each forced collection; the trigger
// follows it.
inline constexpr char kForcedCollectionPrefix[] = "GC forced. Trigger: ";

// The message written for each forced collection, `trigger` naming its cause.
std::string ForcedCollectionMessage(std::string_view trigger);
// The trigger of a forced-collection message; nullopt for any other message
// and for one without a trigger.
std::optional<std::string_view> ForcedCollectionTrigger(std::string_view message);

// The message written for each structure pass: structures changed, found,
// and the two frequencies with two decimals.
std::string StructurePassMessage(std::int32_t applied, std::int32_t total, float net_freq,
                                 float min_net_freq);

struct StructurePass {
  std::int32_t applied = 0;
  std::int32_t total = 0;
  double net_freq = 0;
  double min_net_freq = 0;
};
// The counts and frequencies of a structure-pass message; nullopt for any
// other message and for one whose numbers do not read back.
std::optional<StructurePass> ReadStructurePass(std::string_view message);

// The time stamp as written: the server's local time, fields as printed.
struct StatsStamp {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

struct StatsLine {
  StatsStamp stamp;
  std::string_view message;  // a view into the line
};

// The line that kStatsLinePattern gives for `stamp` and `message`, without
// its end: what the plugin's logger writes, for a program that has to write
// such lines itself (a test, a replay). Each field is printed with the
// pattern's number of digits, zero-padded.
std::string StatsLineText(const StatsStamp& stamp, std::string_view message);

// `text` cut into lines at each LF, a CR before it dropped (the plugin
// writes CR LF; a copy edited elsewhere may hold LF). A last line without an
// end counts; an empty text has none. Views into `text`.
std::vector<std::string_view> SplitStatsLines(std::string_view text);

// One line without its end, or nullopt when it does not follow the pattern
// (a digit field holding anything but digits, a missing bracket).
std::optional<StatsLine> ParseStatsLine(std::string_view line);

}  // namespace formats
