#include "config/console_commands.h"

#include <cstdio>
#include <type_traits>

#include "config/settings.h"

namespace Quillmoor {

std::string ConsoleValue(std::int32_t value) {
  return std::to_string(value);
}

std::string ConsoleValue(bool value) {
  return value ? "1" : "0";
}

std::string ConsoleValue(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(value));
  return text;
}

std::vector<std::string> ConsoleCommands(const Config& config, std::string_view section) {
  std::vector<std::string> commands;
  ForEachSetting([&](const auto& setting) {
    if constexpr (std::is_arithmetic_v<typename std::remove_cvref_t<decltype(setting)>::Value>) {
      if (setting.section == section && !setting.cvar.empty()) {
        commands.push_back(std::string(setting.cvar) + " " + ConsoleValue(setting.field(config)));
      }
    }
  });
  return commands;
}

}  // namespace Quillmoor
