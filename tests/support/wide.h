// Text of libs/formats as the framework holds it: a wide string.
#pragma once

#include <string>
#include <string_view>

namespace quillmoor_test {

// `ascii` widened character by character; for the formats' names and
// replies, which are ASCII.
inline std::wstring Widen(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

}  // namespace quillmoor_test
