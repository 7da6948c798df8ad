#include "cli_values/cli11.h"

#include <cctype>

namespace cli_values {

CLI::Validator Number(double min, double max) {
  return CLI::Validator(
      [min, max](std::string& text) {
        try {
          ParseNumber(text, min, max);
        } catch (const ValueError& e) {
          return std::string(e.what());
        }
        return std::string();
      },
      "finite, " + FormatNumber(min) + " to " + FormatNumber(max));
}

CLI::Validator Duration(Unit bare, Seconds min, Seconds max) {
  return CLI::Validator(
      [bare, min, max](std::string& text) {
        try {
          const Seconds d = ParseDuration(text, bare, min, max);
          // A bare number is left as typed; one with a unit becomes the same
          // duration in the bare unit.
          if (std::isalpha(static_cast<unsigned char>(text.back()))) {
            text = FormatNumber(Count(d, bare));
          }
        } catch (const ValueError& e) {
          return std::string(e.what());
        }
        return std::string();
      },
      FormatDuration(min) + " to " + FormatDuration(max) +
          ", unit ms, s, m or h (bare: " + std::string(Suffix(bare)) + ")");
}

}  // namespace cli_values
