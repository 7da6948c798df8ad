// The console commands a section of the configuration stands for, as the
// plugin has the engine run them: "<variable> <value>" for each setting of
// the section that has a console variable, in the settings table's order.
// Pure; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.h"

namespace Quillmoor {

// A console variable's value: decimal integers, 1 or 0 for a flag, and one
// decimal for a float (20.0f as "20.0", 12.34f as "12.3").
std::string ConsoleValue(std::int32_t value);
std::string ConsoleValue(bool value);
std::string ConsoleValue(float value);

// The commands of `section` ("GCCVars", "PhysicsCVars") for `config`, whether
// the section is enabled or not (the caller decides). An unknown section, or
// one without console variables, has none.
std::vector<std::string> ConsoleCommands(const Config& config, std::string_view section);

}  // namespace Quillmoor
