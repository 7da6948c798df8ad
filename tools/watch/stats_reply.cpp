#include "watch/stats_reply.h"

#include <stdexcept>
#include <string>

#include <fmt/format.h>

#include "formats/replies.h"

namespace watch {

namespace {

// The reply is shown in the table's error column: keep it one short line.
std::string Quote(std::string_view body) {
  std::string out;
  for (const char c : body.substr(0, 80)) {
    out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
  }
  if (body.size() > 80) {
    out += "...";
  }
  return out;
}

}  // namespace

std::int64_t ParseObjectCount(std::string_view body) {
  if (const auto count = formats::ReadObjectCount(body)) {
    return *count;
  }
  throw std::runtime_error(body.empty() ? std::string("empty reply")
                                        : fmt::format("reply: {}", Quote(body)));
}

}  // namespace watch
