#include "config/config.h"

#include <charconv>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "config/settings.h"

namespace Quillmoor {
namespace {

void Print(std::ostream& out, bool value) {
  out << (value ? "true" : "false");
}

void Print(std::ostream& out, std::int32_t value) {
  out << value;
}

// The shortest text that reads back as the same float, so that two records
// that print alike are equal (0.2f shows as 0.2, 0.2f's neighbour as
// 0.20000002).
void Print(std::ostream& out, float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out << std::string_view(text, static_cast<std::size_t>(result.ptr - text));
}

void Print(std::ostream& out, const std::string& value) {
  out << '"' << value << '"';
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Config& config) {
  const char* separator = "";
  out << '{';
  ForEachSetting([&](const auto& setting) {
    out << separator << setting.KeyPath() << ": ";
    Print(out, setting.field(config));
    separator = ", ";
  });
  return out << '}';
}

}  // namespace Quillmoor
