#include "formats/log_text.h"

#include <cstdint>

namespace formats {

namespace {

struct Decoded {
  char32_t code = 0;
  std::size_t length = 0;  // 0: `text` does not start with a well-formed sequence
};

// Well-formed UTF-8 as Unicode defines it: no overlong forms (C0 80 for NUL
// would slip a NUL past a check for 0x00), no surrogates, nothing past
// U+10FFFF.
Decoded DecodeOne(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) {
    return {lead, 1};
  }
  std::size_t length = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  char32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return {};
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) {
    return {};
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80u) {
      return {};
    }
    code = (code << 6) | (byte(i) & 0x3Fu);
  }
  return {code, length};
}

// `prefix` and `digits` lower-case hex digits of `code`: \x1b, \u009b.
std::string Hex(const char* prefix, std::uint32_t code, int digits) {
  std::string out = prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    out += "0123456789abcdef"[(code >> shift) & 0xFu];
  }
  return out;
}

// Characters a terminal shows as a blank or as nothing, or as a letter it is
// not: a key with a no-break space or a zero-width space inside looks right
// and never matches. Shown as \uHHHH so the operator sees what to delete.
bool Invisible(char32_t code) {
  return code == 0xA0 || code == 0xAD || code == 0x034F || code == 0x061C || code == 0x115F ||
         code == 0x1160 || code == 0x180E || (code >= 0x2000 && code <= 0x200F) ||
         (code >= 0x202A && code <= 0x202F) || (code >= 0x205F && code <= 0x206F) ||
         code == 0x3000 || code == 0x3164 || (code >= 0xFE00 && code <= 0xFE0F) || code == 0xFEFF ||
         code == 0xFFA0 || (code >= 0xFFF0 && code <= 0xFFFB) ||
         (code >= 0xE0000 && code <= 0xE0FFF);
}

// The escape for one character, or empty if it is shown as it is.
std::string EscapeFor(char32_t code, bool backslash, bool invisible) {
  switch (code) {
    case U'\n':
      return "\\n";
    case U'\r':
      return "\\r";
    case U'\t':
      return "\\t";
    case U'\\':
      return backslash ? "\\\\" : "";
    default:
      break;
  }
  if (code < 0x20 || code == 0x7F) {
    return Hex("\\x", static_cast<std::uint32_t>(code), 2);
  }
  // C1 controls reach a terminal too (U+009B starts a control sequence on
  // some), and the separators end a line for some log viewers.
  if ((code >= 0x80 && code <= 0x9F) || code == 0x2028 || code == 0x2029) {
    return Hex("\\u", static_cast<std::uint32_t>(code), 4);
  }
  if (invisible && Invisible(code)) {
    return code > 0xFFFF ? Hex("\\U", static_cast<std::uint32_t>(code), 8)
                         : Hex("\\u", static_cast<std::uint32_t>(code), 4);
  }
  return {};
}

std::string Escaped(std::string_view text, std::size_t max_bytes, bool backslash, bool invisible) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const Decoded c = DecodeOne(text.substr(at));
    const std::size_t length = c.length == 0 ? 1 : c.length;
    if (at + length > max_bytes) {
      break;
    }
    if (c.length == 0) {
      out += Hex("\\x", static_cast<std::uint8_t>(text[at]), 2);
    } else if (std::string escape = EscapeFor(c.code, backslash, invisible); !escape.empty()) {
      out += escape;
    } else {
      out.append(text.substr(at, length));
    }
    at += length;
  }
  if (at < text.size()) {
    out += "...";
  }
  return out;
}

}  // namespace

std::string LogSafe(std::string_view text, std::size_t max_bytes) {
  return Escaped(text, max_bytes, true, false);
}

std::string TerminalSafe(std::string_view text) {
  return Escaped(text, text.size(), false, true);
}

std::size_t WellFormedUtf8Prefix(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t length = DecodeOne(text.substr(at)).length;
    if (length == 0) {
      break;
    }
    at += length;
  }
  return at;
}

}  // namespace formats
