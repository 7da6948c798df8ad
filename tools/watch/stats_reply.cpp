#include "watch/stats_reply.h"

#include <stdexcept>
#include <string>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

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
  const auto doc = nlohmann::json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (doc.is_object() && doc.value("status", "") == "success") {
    const auto data = doc.find("data");
    if (data != doc.end() && data->is_object()) {
      const auto n = data->find("uobjects");
      if (n != data->end() && n->is_number_integer()) {
        return n->get<std::int64_t>();
      }
    }
  }
  throw std::runtime_error(body.empty() ? std::string("empty reply")
                                        : fmt::format("reply: {}", Quote(body)));
}

}  // namespace watch
