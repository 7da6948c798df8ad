// Replacing a file's whole contents so that a reader finds the old bytes or
// the new ones, never a part: the text goes to a temporary file beside it,
// which is renamed over the file only once it is complete. No host or
// logger; the plugin's documents and the operator tools share it. Any thread.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace Quillmoor {

// `path` + ".tmp", in the same folder, so that the rename cannot cross file
// systems.
std::string TemporaryOf(const std::string& path);

// Writes `text` to TemporaryOf(path) in text mode (CR LF on Windows), then
// flushes and closes it with the result checked: a full disk or a file-size
// limit is an error here. A link or a leftover at the temporary name is
// removed first, never written through. On an error the temporary file is
// removed. Returns the system's error, or none.
std::error_code WriteTemporary(const std::string& path, std::string_view text);

// Renames TemporaryOf(path) over `path`, which replaces a link there rather
// than writing through it. On an error `path` is as it was and the
// temporary file is removed.
std::error_code MoveTemporaryOver(const std::string& path);

// Both steps: whether `path` now holds `text`; on failure it holds what it
// held. The folder is never created.
bool WriteWholeFile(const std::string& path, std::string_view text);

}  // namespace Quillmoor
