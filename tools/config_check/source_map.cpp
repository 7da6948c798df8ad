#include "config_check/source_map.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "config_check/closest_name.h"

namespace config_tool {

namespace {

constexpr std::size_t kNone = kTopLevel;

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

std::string Lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  return out;
}

// One pass over the text, one byte at a time, with the open objects and
// arrays on a stack of its own.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  SourceMap Run() {
    // The JSON reader skips a UTF-8 byte order mark at the start.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
      pos_ = 3;
    }
    while (!map_.problem && SkipBlanks()) {
      if (pos_ == text_.size()) {
        EndOfText();
        break;
      }
      if (expect_ == Expect::kDone) {
        map_.trailing_at = pos_;
        break;
      }
      Step(text_[pos_]);
    }
    return std::move(map_);
  }

 private:
  enum class Expect {
    kValue,
    kFirstValueOrClose,  // just after [
    kValueAfterComma,    // in an array
    kFirstKeyOrClose,    // just after {
    kKeyAfterComma,
    kColon,
    kCommaOrClose,
    kDone,  // the first value is complete
  };
  struct Frame {
    bool object;
    std::size_t open;    // the bracket's offset
    std::size_t member;  // the recorded member whose value this is, or kNone
  };

  void Problem(std::size_t at, std::string message, std::string fix) {
    map_.problem = SyntaxProblem{at, std::move(message), std::move(fix)};
  }

  std::string Where(std::size_t offset) const {
    const LineColumn at = TextPlaces(text_).Of(offset);
    return fmt::format("line {}, column {}", at.line, at.column);
  }

  // The whole character at `at`, for quoting one.
  std::string_view CharAt(std::size_t at) const {
    std::size_t end = at + 1;
    while (end < text_.size() && (static_cast<unsigned char>(text_[end]) & 0xC0u) == 0x80u) {
      ++end;
    }
    return text_.substr(at, end - at);
  }

  // The key whose value is being read, for a unit in a fix.
  std::string_view PendingKey() const {
    return pending_ == kNone ? std::string_view() : map_.members[pending_].key;
  }

  // Returns false at a comment, which JSON does not have.
  bool SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) {
      ++pos_;
    }
    if (pos_ + 1 < text_.size() && text_[pos_] == '/' &&
        (text_[pos_ + 1] == '/' || text_[pos_ + 1] == '*')) {
      const bool line = text_[pos_ + 1] == '/';
      const std::size_t end = line ? text_.find('\n', pos_) : text_.find("*/", pos_ + 2);
      const std::string_view comment =
          text_.substr(pos_, end == std::string_view::npos ? std::string_view::npos
                                                           : end - pos_ + (line ? 0 : 2));
      Problem(pos_, "JSON has no comments", fmt::format("delete `{}`", Excerpt(comment, 30)));
      return false;
    }
    return true;
  }

  void EndOfText() {
    if (stack_.empty()) {
      Problem(pos_, "the file holds no JSON value",
              "delete the file (the plugin then writes the defaults) or write the configuration "
              "into it");
      return;
    }
    const Frame& open = stack_.back();
    Problem(text_.size(),
            fmt::format("the file ends before the {} opened at {} is closed",
                        open.object ? "object" : "list", Where(open.open)),
            fmt::format("add the missing `{}`", open.object ? '}' : ']'));
  }

  void Step(char c) {
    switch (expect_) {
      case Expect::kValue:
      case Expect::kFirstValueOrClose:
      case Expect::kValueAfterComma:
        return Value(c);
      case Expect::kFirstKeyOrClose:
      case Expect::kKeyAfterComma:
        return Key(c);
      case Expect::kColon:
        if (c == ':') {
          ++pos_;
          expect_ = Expect::kValue;
          return;
        }
        return Problem(key_end_,
                       fmt::format("the key `{}` is not followed by a colon",
                                   Excerpt(text_.substr(key_at_, key_end_ - key_at_))),
                       c == '=' ? "write `:` instead of `=`" : "write `:` after the key");
      case Expect::kCommaOrClose:
        return CommaOrClose(c);
      case Expect::kDone:
        return;
    }
  }

  void Value(char c) {
    if (c == ']' && expect_ == Expect::kFirstValueOrClose) {
      return Close(c);
    }
    if ((c == ']' || c == '}') && expect_ == Expect::kValueAfterComma) {
      return TrailingComma();
    }
    const std::size_t start = pos_;
    if (c == '{' || c == '[') {
      Open(c == '{');
    } else if (c == '"') {
      if (const auto end = StringEnd(start)) {
        Scalar(start, *end);
      }
    } else if (c == '-' || c == '+' || c == '.' || IsDigit(c)) {
      Number(start);
    } else if (IsWordChar(c)) {
      Word(start);
    } else if (c == '\'') {
      SingleQuotes(start);
    } else if (c == ',' || c == '}' || c == ']') {
      Problem(start, fmt::format("a value is missing before `{}`", c),
              "write the value, or delete what stands before it");
    } else {
      Problem(start, fmt::format("`{}` cannot start a value", CharAt(start)),
              "write a number, true, false, or text in double quotes");
    }
  }

  void Key(char c) {
    if (c == '}' && expect_ == Expect::kFirstKeyOrClose) {
      return Close(c);
    }
    if (c == '}' && expect_ == Expect::kKeyAfterComma) {
      return TrailingComma();
    }
    const std::size_t start = pos_;
    if (c == '"') {
      const auto end = StringEnd(start);
      if (!end) {
        return;
      }
      key_at_ = start;
      key_end_ = *end;
      Record(start, text_.substr(start, *end - start));
      pos_ = *end;
      expect_ = Expect::kColon;
    } else if (c == '\'') {
      SingleQuotes(start);
    } else if (IsWordChar(c)) {
      std::size_t end = start;
      while (end < text_.size() && IsWordChar(text_[end])) {
        ++end;
      }
      const std::string word(text_.substr(start, end - start));
      Problem(start, fmt::format("the key `{}` is not in double quotes", word),
              fmt::format("write \"{}\"", word));
    } else if (c == ']') {
      Mismatch(c);
    } else {
      Problem(start,
              fmt::format("a key in double quotes is expected here, not `{}`", CharAt(start)),
              "write \"Key\": value");
    }
  }

  void CommaOrClose(char c) {
    if (c == ',') {
      last_comma_ = pos_++;
      expect_ = stack_.back().object ? Expect::kKeyAfterComma : Expect::kValueAfterComma;
      return;
    }
    if (c == '}' || c == ']') {
      return Close(c);
    }
    if (c == '"' || c == '{' || c == '[' || c == '-' || IsWordChar(c)) {
      return Problem(
          value_end_, "a comma is missing after this value",
          fmt::format("write `,` at the end of line {}", TextPlaces(text_).Of(value_end_).line));
    }
    Problem(pos_, fmt::format("`{}` cannot follow a value", CharAt(pos_)),
            fmt::format("write `,` and the next member, or close with `{}`",
                        stack_.back().object ? '}' : ']'));
  }

  void TrailingComma() {
    Problem(last_comma_,
            fmt::format("a trailing comma before `{}`, which JSON does not allow", text_[pos_]),
            "delete the comma");
  }

  void Mismatch(char c) {
    const Frame& open = stack_.back();
    Problem(pos_,
            fmt::format("`{}` closes the {} opened at {}", c, open.object ? "object" : "list",
                        Where(open.open)),
            fmt::format("write `{}`", open.object ? '}' : ']'));
  }

  void Open(bool object) {
    stack_.push_back(Frame{object, pos_, pending_});
    if (pending_ != kNone) {
      map_.members[pending_].value_at = pos_;
      map_.members[pending_].value_end = text_.size();
    }
    pending_ = kNone;
    ++pos_;
    expect_ = object ? Expect::kFirstKeyOrClose : Expect::kFirstValueOrClose;
  }

  void Close(char c) {
    const Frame open = stack_.back();
    if (open.object != (c == '}')) {
      return Mismatch(c);
    }
    if (open.member != kNone) {
      map_.members[open.member].value_end = pos_ + 1;
    }
    stack_.pop_back();
    ++pos_;
    AfterValue();
  }

  void Scalar(std::size_t start, std::size_t end) {
    if (pending_ != kNone) {
      map_.members[pending_].value_at = start;
      map_.members[pending_].value_end = end;
      pending_ = kNone;
    }
    pos_ = end;
    AfterValue();
  }

  void AfterValue() {
    value_end_ = pos_;
    expect_ = stack_.empty() ? Expect::kDone : Expect::kCommaOrClose;
  }

  // Members of the top-level object and of the objects that are its values.
  void Record(std::size_t at, std::string_view quoted) {
    std::size_t parent = kNone;
    if (stack_.size() == 1) {
      parent = kTopLevel;
    } else if (stack_.size() == 2 && stack_[1].member != kNone &&
               map_.members[stack_[1].member].parent == kTopLevel) {
      parent = stack_[1].member;
    } else {
      return;
    }
    // The reader's own decoding of the escapes; a key it cannot decode makes
    // the text fail anyway.
    const auto decoded = nlohmann::json::parse(quoted, nullptr, false);
    std::string key = decoded.is_string() ? decoded.get<std::string>()
                                          : std::string(quoted.substr(1, quoted.size() - 2));
    pending_ = map_.members.size();
    map_.last[{parent, key}] = pending_;
    map_.members.push_back(SourceMember{parent, std::move(key), at, 0, 0});
  }

  // The offset after the closing quote of the string at `start`, or nothing
  // with a problem noted.
  std::optional<std::size_t> StringEnd(std::size_t start) {
    for (std::size_t i = start + 1; i < text_.size(); ++i) {
      const auto c = static_cast<unsigned char>(text_[i]);
      if (c == '"') {
        return i + 1;
      }
      if (c == '\\') {
        const char e = i + 1 < text_.size() ? text_[i + 1] : '\0';
        if (e == 'u') {
          const std::string_view hex = text_.substr(i + 2, 4);
          if (hex.size() < 4 || !std::all_of(hex.begin(), hex.end(), [](char h) {
                return std::isxdigit(static_cast<unsigned char>(h)) != 0;
              })) {
            Problem(i, "`\\u` must be followed by four hex digits",
                    "write `\\u00e9`, say, or `\\\\u` for a backslash");
            return std::nullopt;
          }
          i += 5;
        } else if (e != '\0' && std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) {
          ++i;
        } else {
          Problem(i, fmt::format("`\\{}` is not an escape that JSON knows", CharAt(i + 1)),
                  "write `\\\\` for a backslash, as in `C:\\\\Servers`");
          return std::nullopt;
        }
      } else if (c == '\n' || c == '\r') {
        Problem(start, "the text that starts here is not closed before the end of its line",
                "close it with `\"` on the same line");
        return std::nullopt;
      } else if (c < 0x20) {
        Problem(i, fmt::format("a control character (U+{:04X}) inside text", c),
                c == '\t' ? "write it as `\\t`, or delete it" : "delete it");
        return std::nullopt;
      }
    }
    Problem(start, "the text that starts here is never closed", "close it with `\"`");
    return std::nullopt;
  }

  void Number(std::size_t start) {
    std::size_t end = start;
    while (end < text_.size() && (IsWordChar(text_[end]) || text_[end] == '.' ||
                                  text_[end] == '-' || text_[end] == '+')) {
      ++end;
    }
    const std::string token(text_.substr(start, end - start));
    // JSON's grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    std::size_t i = token[0] == '-' ? 1 : 0;
    const std::size_t int_start = i;
    while (i < token.size() && IsDigit(token[i])) {
      ++i;
    }
    const std::size_t int_digits = i - int_start;
    bool fraction_ok = true, exponent_ok = true;
    if (i < token.size() && token[i] == '.') {
      const std::size_t first = ++i;
      while (i < token.size() && IsDigit(token[i])) {
        ++i;
      }
      fraction_ok = i > first;
    }
    if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
      ++i;
      if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        ++i;
      }
      const std::size_t first = i;
      while (i < token.size() && IsDigit(token[i])) {
        ++i;
      }
      exponent_ok = i > first;
    }
    const std::string digits = token.substr(int_start, int_digits);
    const std::string_view unit = UnitInName(PendingKey());
    const std::string in_unit = unit.empty() ? "" : fmt::format(", in {}", unit);
    if (int_digits == 0 || (int_digits > 1 && digits[0] == '0') || !fraction_ok || !exponent_ok ||
        i < token.size()) {
      std::string message = fmt::format("`{}` is not a JSON number", Excerpt(token));
      std::string fix = "write a plain decimal number such as 15 or 0.2";
      if (token[0] == '+' || token[0] == '.') {
        message += ": a number starts with a digit or `-`";
        fix = fmt::format("write {}", token[0] == '+' ? token.substr(1) : "0" + token);
      } else if (Lower(token).starts_with("0x") || Lower(token).starts_with("-0x")) {
        message += ": JSON numbers are decimal";
        fix = "write it in decimal";
      } else if (int_digits > 1 && digits[0] == '0') {
        message += ": it cannot start with 0";
        fix =
            fmt::format("write {}", digits.substr(digits.find_first_not_of('0') == std::string::npos
                                                      ? digits.size() - 1
                                                      : digits.find_first_not_of('0')));
      } else if (int_digits > 0 && i < token.size() &&
                 std::isalpha(static_cast<unsigned char>(token[i])) && fraction_ok && exponent_ok) {
        message += ": JSON numbers carry no unit";
        fix = fmt::format("write {}{}", token.substr(0, i), in_unit);
      }
      return Problem(start, std::move(message), std::move(fix));
    }
    // The reader takes any size of integer or exponent, but refuses a
    // number beyond a double's range.
    if (std::isinf(std::strtod(token.c_str(), nullptr))) {
      return Problem(start,
                     fmt::format("`{}` is too large for a number (the largest is about 1.8e308)",
                                 Excerpt(token)),
                     fmt::format("write a value within the setting's range{}", in_unit));
    }
    Scalar(start, end);
  }

  void Word(std::size_t start) {
    std::size_t end = start;
    while (end < text_.size() && IsWordChar(text_[end])) {
      ++end;
    }
    const std::string_view word = text_.substr(start, end - start);
    if (word == "true" || word == "false" || word == "null") {
      return Scalar(start, end);
    }
    const std::string lower = Lower(word);
    if (lower == "true" || lower == "false" || lower == "null") {
      return Problem(start, fmt::format("JSON writes `{}` in lower case", word),
                     fmt::format("write {}", lower));
    }
    if (lower == "nan" || lower == "inf" || lower == "infinity") {
      return Problem(start, fmt::format("JSON has no `{}`", word), "write a number");
    }
    if (lower == "yes" || lower == "no" || lower == "on" || lower == "off") {
      return Problem(start, fmt::format("`{}` is not a JSON value", word), "write true or false");
    }
    if (const std::string near = ClosestName(word, {"true", "false", "null"}); !near.empty()) {
      return Problem(start, fmt::format("`{}` is not a JSON value", word),
                     fmt::format("write {}", near));
    }
    Problem(start, fmt::format("`{}` is not a JSON value: text takes double quotes", Excerpt(word)),
            fmt::format("write \"{}\"", Excerpt(word)));
  }

  void SingleQuotes(std::size_t start) {
    const std::size_t end = text_.find_first_of("'\n", start + 1);
    const std::string_view inner = text_.substr(
        start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
    Problem(start, "JSON text takes double quotes, not single ones",
            fmt::format("write \"{}\"", Excerpt(inner)));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  Expect expect_ = Expect::kValue;
  std::vector<Frame> stack_;
  std::size_t pending_ = kNone;  // the recorded member whose value comes next
  std::size_t key_at_ = 0, key_end_ = 0, last_comma_ = 0, value_end_ = 0;
  SourceMap map_;
};

}  // namespace

const SourceMember* SourceMap::Find(std::size_t parent, std::string_view key) const {
  const auto it = last.find({parent, std::string(key)});
  return it == last.end() ? nullptr : &members[it->second];
}

const SourceMember* SourceMap::Find(std::string_view section, std::string_view key) const {
  if (section.empty()) {
    return Find(kTopLevel, key);
  }
  const SourceMember* holder = Find(kTopLevel, section);
  return holder == nullptr ? nullptr : Find(IndexOf(*holder), key);
}

std::size_t SourceMap::IndexOf(const SourceMember& member) const {
  return static_cast<std::size_t>(&member - members.data());
}

SourceMap MapSource(std::string_view text) {
  return Scanner(text).Run();
}

TextPlaces::TextPlaces(std::string_view text) : characters_(text.size() + 1) {
  line_starts_.push_back(0);
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    characters_[i] = characters;
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      line_starts_.push_back(i + 1);
    }
    if ((c & 0xC0u) != 0x80u) {  // not a continuation byte
      ++characters;
    }
  }
  characters_[text.size()] = characters;
}

LineColumn TextPlaces::Of(std::size_t offset) const {
  offset = std::min(offset, characters_.size() - 1);
  const auto line = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset) - 1;
  return {static_cast<std::size_t>(line - line_starts_.begin()) + 1,
          characters_[offset] - characters_[*line] + 1};
}

std::string Excerpt(std::string_view source, std::size_t max_bytes) {
  std::string out;
  bool blank = false;
  std::size_t i = 0;
  for (; i < source.size() && out.size() < max_bytes; ++i) {
    if (IsBlank(source[i])) {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) {
      out += ' ';
    }
    blank = false;
    out += source[i];
  }
  if (source.find_first_not_of(" \t\r\n", i) == std::string_view::npos) {
    return out;
  }
  // Cut inside a character: drop its first bytes too.
  if (i < source.size() && (static_cast<unsigned char>(source[i]) & 0xC0u) == 0x80u) {
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0u) == 0x80u) {
      out.pop_back();
    }
    if (!out.empty()) {
      out.pop_back();
    }
  }
  return out + "…";
}

std::string_view UnitInName(std::string_view key) {
  if (key.ends_with("Minutes")) {
    return "minutes";
  }
  if (key.ends_with("Seconds")) {
    return "seconds";
  }
  return {};
}

}  // namespace config_tool
