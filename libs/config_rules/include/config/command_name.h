// The force-GC command's name as the plugin accepts it: a name the framework
// can register and a client can send, that takes no other command's place.
// One rule for the reader, which puts the default in place of a refused name,
// and for the offline checker. Pure; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Quillmoor {

// Longer names are refused: no operator types one, and each is quoted in
// the host log at every load.
inline constexpr std::size_t kMaxCommandNameBytes = 64;

struct CommandNameProblem {
  enum class Kind {
    kEmpty,
    kControlCharacter,  // C0, DEL or C1: no client sends it, and it would break a log line
    kWhitespace,        // clients send only the first word as the command
    kTooLong,           // more than kMaxCommandNameBytes
    kStatsCommand,      // GetServerStats in any case: every poll would force a collection
    kFrameworkCommand,  // the framework answers it itself: never reached
  };
  Kind kind;
  // The name escaped and cut to kMaxCommandNameBytes (formats/log_text.h):
  // safe to quote in a log line or on a terminal.
  std::string shown;
  // For the last two kinds, the command whose place it would take.
  std::string_view command;

  // "value 'Force GC' holds whitespace, ...": the name and what is wrong
  // with it, without a final stop.
  std::string Text() const;

  bool operator==(const CommandNameProblem&) const = default;
};

// What is wrong with `name` (UTF-8) as the force-GC command's name, or
// nullopt when nothing is. The first problem found, in the order of Kind.
std::optional<CommandNameProblem> CheckCommandName(std::string_view name);

}  // namespace Quillmoor
