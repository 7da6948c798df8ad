#include "config/command_name.h"

#include <algorithm>

#include "formats/log_text.h"
#include "formats/replies.h"

namespace Quillmoor {
namespace {

using Kind = CommandNameProblem::Kind;

// Enough of a name to recognise it on a terminal.
constexpr std::size_t kShownBytes = 64;

bool HasControlCharacter(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte < 0x20 || byte == 0x7F) {
      return true;
    }
    // U+0080 to U+009F, C2 80 to C2 9F in UTF-8: U+009B starts a control
    // sequence on some terminals.
    if (byte == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) <= 0x9F) {
      return true;
    }
  }
  return false;
}

// Unicode's White_Space characters beyond the ASCII space and the controls,
// in UTF-8. A name that holds one looks like two words to whoever types it.
constexpr std::string_view kOtherSpaces[] = {
    "\xc2\xa0",                      // no-break space
    "\xe1\x9a\x80",                  // ogham space mark
    "\xe2\x80\x80", "\xe2\x80\x81",  // en quad, em quad
    "\xe2\x80\x82", "\xe2\x80\x83",  // en space, em space
    "\xe2\x80\x84", "\xe2\x80\x85",  // three- and four-per-em spaces
    "\xe2\x80\x86", "\xe2\x80\x87",  // six-per-em space, figure space
    "\xe2\x80\x88", "\xe2\x80\x89",  // punctuation space, thin space
    "\xe2\x80\x8a",                  // hair space
    "\xe2\x80\xa8", "\xe2\x80\xa9",  // line and paragraph separators
    "\xe2\x80\xaf",                  // narrow no-break space
    "\xe2\x81\x9f",                  // medium mathematical space
    "\xe3\x80\x80",                  // ideographic space
};

bool HasWhitespace(std::string_view name) {
  return name.find(' ') != std::string_view::npos ||
         std::any_of(std::begin(kOtherSpaces), std::end(kOtherSpaces),
                     [&](std::string_view space) { return name.find(space) != name.npos; });
}

}  // namespace

std::string CommandNameProblem::Text() const {
  const std::string value = "value '" + shown + "' ";
  const std::string taken(command);
  switch (kind) {
    case Kind::kEmpty:
      return value + "is empty: the force-GC command is registered with an empty name";
    case Kind::kControlCharacter:
      return value +
             "holds a control character, which no client sends: the force-GC command is "
             "registered but cannot be reached";
    case Kind::kWhitespace:
      return value +
             "holds whitespace, and clients send only the first word as the command: the force-GC "
             "command is registered but cannot be reached";
    case Kind::kStatsCommand:
      return value + "is the name of '" + taken +
             "' (case does not matter): the plugin registers both under one name, and every " +
             taken + " poll will force a collection";
    case Kind::kFrameworkCommand:
      break;
  }
  return value + "is the server's own command '" + taken +
         "' (case does not matter): the plugin registers it anyway, and which of the two answers "
         "is the server's matter";
}

std::optional<CommandNameProblem> CheckCommandName(std::string_view name) {
  const auto problem = [&](Kind kind, std::string_view command = {}) {
    return CommandNameProblem{kind, formats::LogSafe(name, kShownBytes), command};
  };
  if (name.empty()) {
    return problem(Kind::kEmpty);
  }
  if (HasControlCharacter(name)) {
    return problem(Kind::kControlCharacter);
  }
  if (HasWhitespace(name)) {
    return problem(Kind::kWhitespace);
  }
  if (formats::SameCommand(name, formats::kStatsCommand)) {
    return problem(Kind::kStatsCommand, formats::kStatsCommand);
  }
  for (const std::string_view framework : formats::kFrameworkCommands) {
    if (formats::SameCommand(name, framework)) {
      return problem(Kind::kFrameworkCommand, framework);
    }
  }
  return std::nullopt;
}

}  // namespace Quillmoor
