// Untrusted text (a remote console command, a configured name) made fit to
// quote inside one log line. A pure function: any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace formats {

// Returns `text` as printable UTF-8 on one line: the line breaks and tab as
// \n, \r and \t, the backslash as \\, other C0 controls and DEL as \xHH, C1
// controls and the line and paragraph separators as \uHHHH, and each byte
// that is not part of well-formed UTF-8 as \xHH (HH lower-case hex). Only
// the first `max_bytes` bytes of `text` are shown, cut before a character
// that would cross the limit and followed by "..." when anything was left
// out. Text without such characters within the limit comes back unchanged.
std::string LogSafe(std::string_view text, std::size_t max_bytes);

}  // namespace formats
