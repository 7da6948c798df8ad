#include "cli_values/values.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <system_error>

namespace cli_values {

namespace {

struct UnitInfo {
  Unit unit;
  std::string_view suffix;
  std::string_view name;
  double seconds;  // in one of it
};

// Largest first, the order in which FormatDuration tries them.
constexpr std::array<UnitInfo, 4> kUnits = {{
    {Unit::kHours, "h", "hours", 3600.0},
    {Unit::kMinutes, "m", "minutes", 60.0},
    {Unit::kSeconds, "s", "seconds", 1.0},
    {Unit::kMilliseconds, "ms", "milliseconds", 0.001},
}};

const UnitInfo& Info(Unit unit) {
  return *std::find_if(kUnits.begin(), kUnits.end(),
                       [&](const UnitInfo& u) { return u.unit == unit; });
}

enum class Scan { kOk, kNotANumber, kNotFinite, kOutOfRange };

// std::from_chars takes "nan" and "inf" as numbers, and reports a value that
// a double cannot hold (1e999, 1e-400) as out of range rather than rounding
// it to infinity or zero: both are turned into refusals here.
Scan ScanNumber(std::string_view text, double& out) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') {
    text.remove_prefix(1);  // from_chars knows no plus sign
  }
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, out, std::chars_format::general);
  if (ec == std::errc::result_out_of_range && ptr == end) {
    return Scan::kOutOfRange;
  }
  if (ec != std::errc() || ptr != end) {
    return Scan::kNotANumber;
  }
  return std::isfinite(out) ? Scan::kOk : Scan::kNotFinite;
}

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

ValueError OutOfRange(std::string_view text, const std::string& min, const std::string& max) {
  return ValueError(Quoted(text) + " is out of range: it must lie between " + min + " and " + max);
}

}  // namespace

double ParseNumber(std::string_view text, double min, double max) {
  double value = 0;
  switch (ScanNumber(text, value)) {
    case Scan::kOk:
      break;
    case Scan::kNotANumber:
      throw ValueError(Quoted(text) + " is not a number");
    case Scan::kNotFinite:
      throw ValueError(Quoted(text) + " is not a finite number");
    case Scan::kOutOfRange:
      throw OutOfRange(text, FormatNumber(min), FormatNumber(max));
  }
  if (value < min || value > max) {
    throw OutOfRange(text, FormatNumber(min), FormatNumber(max));
  }
  return value;
}

Seconds ParseDuration(std::string_view text, Unit bare, Seconds min, Seconds max) {
  double value = 0;
  Scan scan = ScanNumber(text, value);
  const UnitInfo* unit = &Info(bare);
  if (scan == Scan::kNotANumber) {
    // A known unit after a number: "500ms", "1e3s", and "nans" too, which
    // is then refused as not finite.
    const auto* written = std::find_if(kUnits.begin(), kUnits.end(), [&](const UnitInfo& u) {
      return text.ends_with(u.suffix) &&
             ScanNumber(text.substr(0, text.size() - u.suffix.size()), value) != Scan::kNotANumber;
    });
    if (written != kUnits.end()) {
      unit = written;
      scan = ScanNumber(text.substr(0, text.size() - unit->suffix.size()), value);
    } else {
      // Letters after a number: a unit this parser does not know.
      std::size_t split = text.size();
      while (split > 0 && std::isalpha(static_cast<unsigned char>(text[split - 1]))) {
        --split;
      }
      double ignored = 0;
      if (split < text.size() && ScanNumber(text.substr(0, split), ignored) != Scan::kNotANumber) {
        throw ValueError(Quoted(text) + " has an unknown unit " + Quoted(text.substr(split)) +
                         ": write ms, s, m or h after the number");
      }
    }
  }
  switch (scan) {
    case Scan::kOk:
      break;
    case Scan::kNotANumber:
      throw ValueError(Quoted(text) +
                       " is not a duration: write a number with ms, s, m or h after it (e.g. 30s, "
                       "5m); a bare number is in " +
                       std::string(Info(bare).name));
    case Scan::kNotFinite:
      throw ValueError(Quoted(text) + " is not a finite duration");
    case Scan::kOutOfRange:
      throw OutOfRange(text, FormatDuration(min), FormatDuration(max));
  }
  if (std::signbit(value)) {
    throw ValueError(Quoted(text) + " is negative: a duration cannot be");
  }
  // Milliseconds are divided, so that 500ms is exactly 0.5 s.
  const double seconds = unit->unit == Unit::kMilliseconds ? value / 1000.0 : value * unit->seconds;
  if (!std::isfinite(seconds) || seconds < min.count() || seconds > max.count()) {
    throw OutOfRange(text, FormatDuration(min), FormatDuration(max));
  }
  return Seconds(seconds);
}

double Count(Seconds d, Unit unit) {
  return unit == Unit::kMilliseconds ? d.count() * 1000.0 : d.count() / Info(unit).seconds;
}

std::string FormatDuration(Seconds d) {
  for (const UnitInfo& u : kUnits) {
    const double in_unit = Count(d, u.unit);
    if (in_unit >= 1 && in_unit == std::floor(in_unit) && in_unit < 1e15) {
      return FormatNumber(in_unit) + std::string(u.suffix);
    }
  }
  return FormatNumber(d.count()) + "s";
}

std::string FormatNumber(double v) {
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), v);
  return std::string(buffer.data(), result.ptr);
}

std::string_view Suffix(Unit unit) {
  return Info(unit).suffix;
}

}  // namespace cli_values
