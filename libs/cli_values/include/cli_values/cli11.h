// The parsers of values.h as CLI11 validators, so that an option bound to a
// double gets only finite values in range, and a duration option takes
// units. Both are built when the options are declared; CLI11 runs them on
// the parsing thread.
//
//   double scale = 1, timeout = 300;
//   app.add_option("--scale", scale)->check(cli_values::Number(0.001, 1e6));
//   app.add_option("--timeout", timeout)
//       ->transform(cli_values::Duration(cli_values::Unit::kSeconds, 10ms, 24h));
//
// A failure is a CLI::ValidationError "--timeout: <the parser's sentence>",
// which App::exit() reports like any other usage error.
#pragma once

#include <CLI/CLI.hpp>

#include "cli_values/values.h"

namespace cli_values {

// Checks that the text is a number ParseNumber(text, min, max) takes.
// Use with Option::check(): the text is left as it is, and CLI11's own
// conversion then reads the same value. Replaces CLI::Range, which lets
// "nan" through.
CLI::Validator Number(double min, double max);

// Reads the text with ParseDuration(text, bare, min, max) and rewrites it as
// a plain number of `bare` units (exactly the double that was parsed), for
// CLI11's conversion into the option's double. REQUIRES: Option::transform(),
// not check(): CLI11 runs a check on a copy, so the rewrite would be lost and
// "5m" would then fail to convert.
CLI::Validator Duration(Unit bare, Seconds min, Seconds max);

}  // namespace cli_values
