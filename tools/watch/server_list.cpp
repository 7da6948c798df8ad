#include "watch/server_list.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <stdexcept>

#include <fmt/format.h>

namespace watch {

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) {
    return {};
  }
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

// `shown` stands for the text in messages: the text itself on the command
// line; in a servers file, the field's place, since a line with its fields
// out of order may hold the password where the text is expected.
void CheckName(std::string_view name, std::string_view shown) {
  const bool ok = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
  if (!ok) {
    throw std::invalid_argument(fmt::format("{} must be letters, digits, '.', '_' or '-'", shown));
  }
}

// "host:port" or "[v6]:port".
void ParseAddress(std::string_view text, std::string_view shown, ServerSpec& out) {
  const auto colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) {
    throw std::invalid_argument(fmt::format("{} is not HOST:PORT", shown));
  }
  std::string_view host = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') {
      throw std::invalid_argument(fmt::format("{} is not [ADDRESS]:PORT", shown));
    }
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    throw std::invalid_argument(fmt::format("{}: write an IPv6 address as [ADDRESS]:PORT", shown));
  }
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value == 0 ||
      value > 65535) {
    throw std::invalid_argument(fmt::format("{}: the port must be 1 to 65535", shown));
  }
  out.host = std::string(host);
  out.port = static_cast<std::uint16_t>(value);
}

}  // namespace

ServerSpec ParseServerArgument(std::string_view text, const std::string& password) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos) {
    throw std::invalid_argument(fmt::format("'{}' is not NAME=HOST:PORT", text));
  }
  ServerSpec target;
  target.name = std::string(text.substr(0, eq));
  CheckName(target.name, fmt::format("server name '{}'", target.name));
  const std::string_view address = text.substr(eq + 1);
  ParseAddress(address, fmt::format("'{}'", address), target);
  target.password = password;
  return target;
}

std::vector<ServerSpec> ParseServersFile(std::string_view text) {
  std::vector<ServerSpec> servers;
  std::size_t line_no = 0;
  while (!text.empty()) {
    ++line_no;
    const auto nl = text.find('\n');
    const std::string_view line = Trim(text.substr(0, nl));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (line.empty() || line.front() == '#') {
      continue;
    }
    try {
      const auto b1 = line.find_first_of(" \t");
      const auto a = b1 == std::string_view::npos ? b1 : line.find_first_not_of(" \t", b1);
      const auto b2 = a == std::string_view::npos ? a : line.find_first_of(" \t", a);
      if (b2 == std::string_view::npos) {
        throw std::invalid_argument("expected NAME HOST:PORT PASSWORD");
      }
      ServerSpec target;
      target.name = std::string(line.substr(0, b1));
      CheckName(target.name, "the first field (NAME)");
      ParseAddress(line.substr(a, b2 - a), "the second field (HOST:PORT)", target);
      target.password = std::string(Trim(line.substr(b2)));
      servers.push_back(std::move(target));
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument(fmt::format("line {}: {}", line_no, e.what()));
    }
  }
  return servers;
}

void CheckUniqueNames(const std::vector<ServerSpec>& servers) {
  std::set<std::string> seen;
  for (const auto& s : servers) {
    if (!seen.insert(s.name).second) {
      throw std::invalid_argument(fmt::format("server name '{}' is given twice", s.name));
    }
  }
}

}  // namespace watch
