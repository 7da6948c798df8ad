// Untrusted text quoted in the host log: what a client can put in a command
// must not start a line, reach the terminal as a control sequence or pass
// through as bytes that are not UTF-8.
#include <gtest/gtest.h>
#include <string>

#include "formats/log_text.h"

namespace {

struct Case {
  const char* name;
  std::string in;
  std::size_t max;
  std::string out;
};

TEST(LogSafeTest, EscapesCutsAndKeepsAsTheTableSays) {
  using namespace std::string_literals;
  const Case cases[] = {
      {"plain text unchanged", "GetServerStats now", 200, "GetServerStats now"},
      {"empty", "", 200, ""},
      {"UTF-8 letters unchanged", "Donn\xc3\xa9\x65s \xe2\x82\xac \xf0\x9f\x98\x80", 200,
       "Donn\xc3\xa9\x65s \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"forged line", "x\n01/02/26 10:00 [AsaApi][info] fake", 200,
       "x\\n01/02/26 10:00 [AsaApi][info] fake"},
      {"CR and tab", "a\rb\tc", 200, "a\\rb\\tc"},
      {"ESC sequence", "\x1b[31mred", 200, "\\x1b[31mred"},
      {"NUL and DEL", "a\0b\x7f"s, 200, "a\\x00b\\x7f"},
      {"backslash doubled so escapes stay unambiguous", "a\\nb", 200, "a\\\\nb"},
      {"C1 CSI",
       "\xc2\x9b"
       "31m",
       200, "\\u009b31m"},
      {"line separator",
       "a\xe2\x80\xa8"
       "b",
       200, "a\\u2028b"},
      {"lone continuation byte", "a\x80z", 200, "a\\x80z"},
      {"invalid lead byte", "\xff\xfe", 200, "\\xff\\xfe"},
      {"overlong NUL", "\xc0\x80", 200, "\\xc0\\x80"},
      {"surrogate", "\xed\xa0\x80", 200, "\\xed\\xa0\\x80"},
      {"above U+10FFFF", "\xf4\x90\x80\x80", 200, "\\xf4\\x90\\x80\\x80"},
      {"truncated sequence at the end", "ab\xe2\x82", 200, "ab\\xe2\\x82"},
      {"exactly the limit", "abcd", 4, "abcd"},
      {"one over the limit", "abcde", 4, "abcd..."},
      {"cut before a character that crosses the limit", "abc\xc3\xa9", 4, "abc..."},
      {"limit counts input bytes, not escapes", "\n\n\n", 2, "\\n\\n..."},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formats::LogSafe(c.in, c.max), c.out) << c.name;
  }
}

// For a terminal: a Windows path reads as typed, nothing else changes.
TEST(LogSafeTest, TerminalTextKeepsTheBackslashAndNothingElse) {
  EXPECT_EQ(formats::TerminalSafe("C:\\Servers\\Donn\xc3\xa9\x65s"),
            "C:\\Servers\\Donn\xc3\xa9\x65s");
  EXPECT_EQ(formats::TerminalSafe("\x1b]0;x\x07\n\xff"), "\\x1b]0;x\\x07\\n\\xff");
}

// What a terminal shows as a blank or as nothing is escaped for it; the
// log keeps its own rules.
TEST(LogSafeTest, TerminalTextEscapesInvisibleCharacters) {
  const struct {
    const char* name;
    const char* in;
    const char* out;
  } cases[] = {
      {"no-break space", "Interval\xc2\xa0Minutes", "Interval\\u00a0Minutes"},
      {"zero-width space", "Force\xe2\x80\x8bGC", "Force\\u200bGC"},
      {"right-to-left override",
       "\xe2\x80\xae"
       "ab",
       "\\u202eab"},
      {"byte-order mark", "\xef\xbb\xbfkey", "\\ufeffkey"},
      {"tag space past U+FFFF", "a\xf3\xa0\x80\xa0", "a\\U000e0020"},
      {"ideographic space", "a\xe3\x80\x80", "a\\u3000"},
      {"a visible letter after U+2000 stays", "\xe2\x82\xac 5", "\xe2\x82\xac 5"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(formats::TerminalSafe(c.in), c.out) << c.name;
  }
  EXPECT_EQ(formats::LogSafe("a\xc2\xa0", 200), "a\xc2\xa0");
}

}  // namespace
