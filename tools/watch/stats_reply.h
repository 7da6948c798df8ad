// Reading the plugin's reply to the statistics command (formats/replies.h).
// Pure.
#pragma once

#include <cstdint>
#include <string_view>

namespace watch {

// The object count in `body`. Throws std::runtime_error naming what the
// reply was instead (the framework's "Unknown command" when the plugin is not
// loaded); the message quotes at most the first 80 bytes of the body.
std::int64_t ParseObjectCount(std::string_view body);

}  // namespace watch
