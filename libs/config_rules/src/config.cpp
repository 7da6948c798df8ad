#include "config/config.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "config/setting_value.h"
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
// that print alike are equal.
void Print(std::ostream& out, float value) {
  out << ShortestText(value);
}

void Print(std::ostream& out, const std::string& value) {
  out << '"' << value << '"';
}

}  // namespace

// Every member is value-initialised first, so that no field is ever left
// indeterminate; each then takes its row's default.
Config::Config()
    : AutoGC(), Rcon(), GCCVars(), PhysicsCVars(), StructureNetFreq(), VerboseLogging() {
  ForEachSetting([this](const auto& setting) { setting.field(*this) = setting.default_value; });
}

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
