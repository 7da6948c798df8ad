// Advice on the force-GC command's name for the offline checker. The plugin
// registers whatever name the file holds, empty included, and quotes it
// escaped in its log lines; these are the names an operator most likely did
// not mean: one no client can send, or one another command answers to.
// Pure; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace Quillmoor {

struct CommandNameProblem {
  enum class Kind {
    kEmpty,
    kControlCharacter,  // C0, DEL or C1: no client sends it
    kWhitespace,        // clients send only the first word as the command
    kStatsCommand,      // GetServerStats in any case: every poll will force a collection
    kFrameworkCommand,  // a command the server answers itself: the two share one name
  };
  Kind kind;
  // The name escaped and cut to its first 64 bytes (formats/log_text.h):
  // safe to quote on a terminal.
  std::string shown;
  // For the last two kinds, the command whose place it would take.
  std::string_view command;

  // "value 'Force GC' holds whitespace, ...": the name and what the plugin
  // will do with it, without a final stop.
  std::string Text() const;

  bool operator==(const CommandNameProblem&) const = default;
};

// What `name` (UTF-8) will do as the force-GC command's name that the
// operator may not expect, or nullopt when nothing. The first found, in the
// order of Kind.
std::optional<CommandNameProblem> CheckCommandName(std::string_view name);

}  // namespace Quillmoor
