// The servers to watch, from --server arguments or a servers file. Pure
// parsing; throws std::invalid_argument with the reason, and for a file the
// line number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace watch {

struct ServerSpec {
  std::string name;  // letters, digits, '.', '_', '-': it goes into CSV rows
  std::string host;  // a name or an address; IPv6 without the brackets
  std::uint16_t port = 0;
  std::string password;
};

// "NAME=HOST:PORT" (IPv6 as "NAME=[::1]:27020"), with the given password.
ServerSpec ParseServerArgument(std::string_view text, const std::string& password);

// One server a line, "NAME HOST:PORT PASSWORD"; the password is the rest of
// the line after the address, so it may hold blanks (but not begin or end
// with one). Blank lines and lines whose first non-blank is '#' are skipped;
// CR LF endings are accepted. Messages name a bad field by its place, never
// by its text: a line with its fields out of order may show a password.
std::vector<ServerSpec> ParseServersFile(std::string_view text);

// Throws when two servers share a name; names are what rows are told apart by.
void CheckUniqueNames(const std::vector<ServerSpec>& servers);

}  // namespace watch
