#include "config_check/closest_name.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace config_tool {

namespace {

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string Lowered(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

// Edit distance between two lower-cased names.
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) {
    row[j] = j;
  }
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string ClosestName(std::string_view name, const std::vector<std::string>& known) {
  std::string best;
  std::size_t best_distance = std::max<std::size_t>(2, name.size() / 3) + 1;
  const std::string lowered = Lowered(name);
  for (const auto& k : known) {
    // The distance is at least the difference in length: a file of many
    // unknown keys is checked without comparing each with every name.
    const std::size_t longer = std::max(name.size(), k.size());
    if (longer - std::min(name.size(), k.size()) >= best_distance) {
      continue;
    }
    const std::size_t d = Distance(lowered, Lowered(k));
    if (d < best_distance) {
      best_distance = d;
      best = k;
    }
  }
  return best;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

}  // namespace config_tool
