// Where things stand in the text of a PluginConfig.json, found by a scan of
// its own, without the JSON library and without recursion (any depth costs
// only memory): the members of the top-level object and of the sections in
// it, so that a finding can point at a line and column and quote what is
// written there; and, for text that is not JSON, the first mistake in an
// operator's words. The plugin's JSON reader stays the judge of whether the
// text is JSON; this only explains. Pure; any thread.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace config_tool {

inline constexpr std::size_t kTopLevel = static_cast<std::size_t>(-1);

// A member of the top-level object (`parent` kTopLevel) or of an object that
// is the value of one (`parent` the index of that member in
// SourceMap::members). Offsets are bytes into the text.
struct SourceMember {
  std::size_t parent = kTopLevel;
  std::string key;  // with its escapes decoded
  std::size_t key_at = 0;
  std::size_t value_at = 0;
  // One past the value's last byte; for an object or array, its closing
  // bracket. Where the text breaks off inside the value, the end of the text.
  std::size_t value_end = 0;
};

struct SyntaxProblem {
  std::size_t at = 0;   // the byte the mistake starts at
  std::string message;  // one sentence: what is wrong there
  std::string fix;      // what to write instead
};

struct SourceMap {
  std::vector<SourceMember> members;  // in the order written, duplicates too
  // (parent, key) to the index of the last member with them.
  std::map<std::pair<std::size_t, std::string>, std::size_t> last;
  // The first mistake, when the first value is not JSON.
  std::optional<SyntaxProblem> problem;
  // Where something other than blanks follows the first complete value.
  std::optional<std::size_t> trailing_at;

  // The member `key` of the object held by `parent`; of several with that
  // key, the last, which is the one the JSON reader keeps. nullptr if none.
  const SourceMember* Find(std::size_t parent, std::string_view key) const;
  // The same by names: `section` empty for the top level.
  const SourceMember* Find(std::string_view section, std::string_view key) const;
  std::size_t IndexOf(const SourceMember& member) const;
};

// Scans `text` (the file as the plugin reads it, a UTF-8 byte order mark
// allowed).
SourceMap MapSource(std::string_view text);

// 1-based line and column (in characters, not bytes).
struct LineColumn {
  std::size_t line = 1;
  std::size_t column = 1;
};

// The line and column of any byte of one text, after one pass over it: a
// file of a hundred thousand findings costs no more than one of ten.
// `text` must outlive it.
class TextPlaces {
 public:
  explicit TextPlaces(std::string_view text);
  // Offsets past the end count as the end.
  LineColumn Of(std::size_t offset) const;

 private:
  std::vector<std::size_t> line_starts_;
  std::vector<std::size_t> characters_;  // characters before each byte, and before the end
};

// At most `max_bytes` of `source` for quoting in a message: blanks and line
// breaks run together into one space, cut at a character boundary and
// followed by "…" when anything is left out.
std::string Excerpt(std::string_view source, std::size_t max_bytes = 40);

// "seconds" for a key named …Seconds, "minutes" for …Minutes; else empty.
std::string_view UnitInName(std::string_view key);

}  // namespace config_tool
