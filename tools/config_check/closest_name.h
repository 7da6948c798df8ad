// Suggesting the known name that a misspelt one was meant to be. Pure.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace config_tool {

// The name in `known` nearest to `name` by edit distance, ignoring case, or
// empty when none is near enough to be a likely typo (more than a third of
// the name's letters, and at least two, would have to change).
std::string ClosestName(std::string_view name, const std::vector<std::string>& known);

// Whether the two are equal ignoring ASCII case, as the framework matches
// command names.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace config_tool
