// Untrusted text (a remote console command, a key of an operator's file, a
// file name) made fit to quote inside one line of a log or of a terminal.
// Pure functions: any thread.
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

// Like LogSafe, whole and with the backslash kept as it is: for a terminal,
// where a Windows path should read as the operator typed it. Characters
// that show as a blank, as nothing or as another letter's twin (the no-break
// space, zero-width and direction marks, the byte-order mark, variation
// selectors) are escaped too, as \u00a0 (\U000e0020 beyond U+FFFF).
std::string TerminalSafe(std::string_view text);

// The length of the longest start of `text` that is well-formed UTF-8: the
// offset of the first byte that is not, or text.size().
std::size_t WellFormedUtf8Prefix(std::string_view text);

}  // namespace formats
