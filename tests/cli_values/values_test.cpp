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
using cli_values::Seconds;
using cli_values::Unit;
using cli_values::ValueError;

std::string ErrorOf(auto&& parse) {
  try {
    parse();
  } catch (const ValueError& e) {
    return e.what();
  }
  return "(taken)";
}

TEST(CliValuesTest, NumbersAreFiniteWholeTextsInsideTheRange) {
  const struct {
    const char* text;
    double value;
  } taken[] = {{"2", 2}, {"-0.5", -0.5}, {"+4", 4}, {"1e3", 1000}, {".5", 0.5}, {"10", 10}};
  for (const auto& c : taken) {
    EXPECT_EQ(cli_values::ParseNumber(c.text, -10, 1000), c.value) << c.text;
  }
  const struct {
    const char* text;
    const char* error;
  } refused[] = {
      {"nan", "'nan' is not a finite number"},
      {"-nan", "'-nan' is not a finite number"},
      {"inf", "'inf' is not a finite number"},
      {"-inf", "'-inf' is not a finite number"},
      {"infinity", "'infinity' is not a finite number"},
      {"1e999", "'1e999' is out of range: it must lie between -10 and 1000"},
      {"1e-400", "'1e-400' is out of range: it must lie between -10 and 1000"},
      {"1000.5", "'1000.5' is out of range: it must lie between -10 and 1000"},
      {"-11", "'-11' is out of range: it must lie between -10 and 1000"},
      {"", "'' is not a number"},
      {" 1", "' 1' is not a number"},
      {"1 ", "'1 ' is not a number"},
      {"0x10", "'0x10' is not a number"},
      {"5s", "'5s' is not a number"},
      {"+-1", "'+-1' is not a number"},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(ErrorOf([&] { cli_values::ParseNumber(c.text, -10, 1000); }), c.error) << c.text;
  }
}

TEST(CliValuesTest, DurationsTakeUnitsAndABareNumberIsInTheOptionsOwnUnit) {
  const struct {
    const char* text;
    Unit bare;
    double seconds;
  } taken[] = {
      {"10s", Unit::kSeconds, 10},        {"5m", Unit::kSeconds, 300},
      {"1h", Unit::kSeconds, 3600},       {"500ms", Unit::kSeconds, 0.5},
      {"1.5m", Unit::kSeconds, 90},       {"1e3s", Unit::kSeconds, 1000},
      {"300", Unit::kSeconds, 300},       {"0.4", Unit::kMinutes, 24},
      {"250", Unit::kMilliseconds, 0.25}, {"2", Unit::kHours, 7200},
      {"0", Unit::kSeconds, 0},           {"24h", Unit::kSeconds, 86400},
  };
  for (const auto& c : taken) {
    EXPECT_DOUBLE_EQ(cli_values::ParseDuration(c.text, c.bare, 0s, 24h).count(), c.seconds)
        << c.text;
  }
  const struct {
    const char* text;
    const char* error;
  } refused[] = {
      {"nan", "'nan' is not a finite duration"},
      {"inf", "'inf' is not a finite duration"},
      {"-inf", "'-inf' is not a finite duration"},
      {"nans", "'nans' is not a finite duration"},
      {"1e999", "'1e999' is out of range: it must lie between 10ms and 24h"},
      {"1e306h", "'1e306h' is out of range: it must lie between 10ms and 24h"},
      {"25h", "'25h' is out of range: it must lie between 10ms and 24h"},
      {"5ms", "'5ms' is out of range: it must lie between 10ms and 24h"},
      {"-5s", "'-5s' is negative: a duration cannot be"},
      {"5x", "'5x' has an unknown unit 'x': write ms, s, m or h after the number"},
      {"5S", "'5S' has an unknown unit 'S': write ms, s, m or h after the number"},
      {"5 s",
       "'5 s' is not a duration: write a number with ms, s, m or h after it (e.g. 30s, 5m); a "
       "bare number is in seconds"},
      {"s",
       "'s' is not a duration: write a number with ms, s, m or h after it (e.g. 30s, 5m); a "
       "bare number is in seconds"},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(ErrorOf([&] { cli_values::ParseDuration(c.text, Unit::kSeconds, 10ms, 24h); }),
              c.error)
        << c.text;
  }
}

TEST(CliValuesTest, DurationsAreShownInTheLargestWholeUnit) {
  const struct {
    Seconds d;
    const char* text;
  } cases[] = {{24h, "24h"},
               {90s, "90s"},
               {120s, "2m"},
               {10ms, "10ms"},
               {Seconds(0.0005), "5e-04s"},
               {0s, "0s"},
               {Seconds(1e9), "1e+09s"}};
  for (const auto& c : cases) {
    EXPECT_EQ(cli_values::FormatDuration(c.d), c.text);
    EXPECT_EQ(cli_values::ParseDuration(c.text, Unit::kHours, 0s, Seconds(1e9)), c.d) << c.text;
  }
}

// What an option bound to a double ends up holding after CLI11 has run the
// validator and its own conversion; the error text when it refused.
struct Outcome {
  double value = -1;
  std::string error;
};

Outcome RunOption(std::string text, bool duration) {
  CLI::App app;
  Outcome out;
  auto* option = app.add_option("--x", out.value);
  if (duration) {
    option->transform(cli_values::Duration(Unit::kMinutes, 1s, 24h));
  } else {
    option->check(cli_values::Number(0.001, 1e6));
  }
  std::vector<std::string> args = {"--x", text};
  std::reverse(args.begin(), args.end());  // CLI11 takes them last first
  try {
    app.parse(args);
  } catch (const CLI::ParseError& e) {
    out.error = e.what();
  }
  return out;
}

TEST(CliValuesTest, ValidatorsHandCli11TheValueInTheOptionsUnitOrAUsageError) {
  EXPECT_EQ(RunOption("2.5", false).value, 2.5);
  EXPECT_EQ(RunOption("nan", false).error, "--x: 'nan' is not a finite number");
  EXPECT_EQ(RunOption("1e999", false).error,
            "--x: '1e999' is out of range: it must lie between 0.001 and 1e+06");
  EXPECT_EQ(RunOption("0.4", true).value, 0.4) << "a bare number is taken as typed";
  EXPECT_EQ(RunOption("90s", true).value, 1.5);
  EXPECT_EQ(RunOption("2h", true).value, 120);
  EXPECT_EQ(RunOption("inf", true).error, "--x: 'inf' is not a finite duration");
}

}  // namespace
