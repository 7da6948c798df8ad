// Numbers and durations as an operator types them on a command line: whole
// text only, finite, inside a stated range, with an error that says which
// rule was broken. Pure functions, any thread; no dependency beyond the
// standard library.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

namespace cli_values {

using Seconds = std::chrono::duration<double>;

// What every parser here throws; what() is one sentence about the text that
// a usage message can show after the option's name.
class ValueError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A decimal number, the whole of `text`: an optional sign, digits with an
// optional fraction and exponent ("2", "-0.5", "1e3", "+4"). Refused, with
// ValueError: anything else (blanks, hexadecimal, trailing text), "nan",
// "inf", values that do not fit a double ("1e999"), and values outside
// [min, max]. REQUIRES: min <= max, both finite.
double ParseNumber(std::string_view text, double min, double max);

// The unit of a duration: written after the number, or implied for a bare
// number.
enum class Unit { kMilliseconds, kSeconds, kMinutes, kHours };

// A duration: a decimal number as ParseNumber takes it, not negative,
// followed by a unit "ms", "s", "m" or "h" ("500ms", "10s", "1.5m", "2h"),
// or bare, in the unit `bare` (so that "300" keeps meaning what it meant
// before units were taken). Refused, with ValueError: what ParseNumber
// refuses, a negative duration, another unit or a blank before it, and a
// duration outside [min, max]. REQUIRES: 0 <= min <= max, both finite.
Seconds ParseDuration(std::string_view text, Unit bare, Seconds min, Seconds max);

// `d` in the largest unit that shows it as a whole number ("24h", "90s",
// "10ms"), else in seconds ("5e-04s"): a form ParseDuration reads back.
std::string FormatDuration(Seconds d);

// The shortest text that ParseNumber reads back as exactly `v`: "0.001",
// "86400", "1e+06".
std::string FormatNumber(double v);

// How many `unit`s `d` is: Count(Seconds(90), Unit::kMinutes) == 1.5.
double Count(Seconds d, Unit unit);

// The suffix of `unit` as ParseDuration reads it: "ms", "s", "m", "h".
std::string_view Suffix(Unit unit);

}  // namespace cli_values
