// Numbers and durations as an operator types them: what is taken, what is
// refused and with which words, and the CLI11 validators over them.
#include <gtest/gtest.h>
#include <chrono>
#include <string>
#include <vector>

#include "cli_values/cli11.h"
#include "cli_values/values.h"

namespace {

using namespace std::chrono_literals;
using cli_values::Unit;

// A number in [-10, 1000] (unit empty) or a duration in [10ms, 24h] whose
// bare numbers are in `bare`: the value taken (seconds for a duration), or
// the refusal.
struct Case {
  const char* text;
  const char* unit;  // "" for a number, else the bare unit's suffix
  double value;
  const char* error;
};

const Case kCases[] = {
    {"+4", "", 4, ""},
    {"1e3", "", 1000, ""},
    {"nan", "", 0, "'nan' is not a finite number"},
    {"-inf", "", 0, "'-inf' is not a finite number"},
    {"1e999", "", 0, "'1e999' is out of range: it must lie between -10 and 1000"},
    {"1000.5", "", 0, "'1000.5' is out of range: it must lie between -10 and 1000"},
    {" 1", "", 0, "' 1' is not a number"},
    {"0x10", "", 0, "'0x10' is not a number"},
    {"500ms", "s", 0.5, ""},
    {"1.5m", "s", 90, ""},
    {"1e3s", "s", 1000, ""},
    {"2h", "s", 7200, ""},
    {"300", "s", 300, ""},
    {"0.4", "m", 24, ""},
    {"nans", "s", 0, "'nans' is not a finite duration"},
    {"1e306h", "s", 0, "'1e306h' is out of range: it must lie between 10ms and 24h"},
    {"5ms", "s", 0, "'5ms' is out of range: it must lie between 10ms and 24h"},
    {"-5s", "s", 0, "'-5s' is negative: a duration cannot be"},
    {"5S", "s", 0, "'5S' has an unknown unit 'S': write ms, s, m or h after the number"},
    {"5 s", "s", 0,
     "'5 s' is not a duration: write a number with ms, s, m or h after it (e.g. 30s, 5m); a "
     "bare number is in seconds"},
};

TEST(CliValuesTest, ValuesAreTakenOrRefusedWithTheReason) {
  for (const Case& c : kCases) {
    const std::string unit = c.unit;
    try {
      const double value =
          unit.empty() ? cli_values::ParseNumber(c.text, -10, 1000)
                       : cli_values::ParseDuration(
                             c.text, unit == "m" ? Unit::kMinutes : Unit::kSeconds, 10ms, 24h)
                             .count();
      EXPECT_EQ(std::string(c.error), "") << c.text << " was taken";
      EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    } catch (const cli_values::ValueError& e) {
      EXPECT_EQ(std::string(e.what()), c.error) << c.text;
    }
  }
}

TEST(CliValuesTest, DurationsAreShownInTheLargestWholeUnitAndReadBack) {
  for (const char* text : {"24h", "90s", "2m", "10ms", "5e-04s", "0s"}) {
    const auto d = cli_values::ParseDuration(text, Unit::kHours, 0s, 24h);
    EXPECT_EQ(cli_values::FormatDuration(d), text);
  }
}

// What an option bound to a double holds after CLI11 ran the validator and
// its own conversion, or the usage error.
std::string RunOption(const std::string& text, bool duration) {
  CLI::App app;
  double value = -1;
  auto* option = app.add_option("--x", value);
  if (duration) {
    option->transform(cli_values::Duration(Unit::kMinutes, 1s, 24h));
  } else {
    option->check(cli_values::Number(0.001, 1e6));
  }
  try {
    app.parse(std::vector<std::string>{text, "--x"});  // CLI11 takes them last first
  } catch (const CLI::ParseError& e) {
    return e.what();
  }
  return cli_values::FormatNumber(value);
}

TEST(CliValuesTest, ValidatorsHandCli11TheValueInTheOptionsUnit) {
  EXPECT_EQ(RunOption("2.5", false), "2.5");
  EXPECT_EQ(RunOption("nan", false), "--x: 'nan' is not a finite number");
  EXPECT_EQ(RunOption("0.4", true), "0.4") << "a bare number is taken as typed";
  EXPECT_EQ(RunOption("90s", true), "1.5");
  EXPECT_EQ(RunOption("inf", true), "--x: 'inf' is not a finite duration");
}

}  // namespace
