#include "rcon_wire/codec.h"

#include <limits>
#include <stdexcept>
#include <utility>

namespace rcon_wire {

namespace {

void AppendInt32(std::string& out, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<char>((v >> shift) & 0xFF));
  }
}

std::int32_t ReadInt32(const char* bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const std::uint32_t v =
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::string Encode(std::int32_t id, std::int32_t type, std::string_view body) {
  constexpr auto kLargestBody =
      static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max() - kMinPacketSize);
  if (body.size() > kLargestBody) {
    throw std::length_error("RCON packet body of " + std::to_string(body.size()) +
                            " bytes does not fit the size field");
  }
  std::string out;
  out.reserve(kSizeFieldBytes + static_cast<std::size_t>(kMinPacketSize) + body.size());
  AppendInt32(out, static_cast<std::int32_t>(body.size()) + kMinPacketSize);
  AppendInt32(out, id);
  AppendInt32(out, type);
  out.append(body);
  out.append(2, '\0');
  return out;
}

Decoder::Decoder(std::int32_t max_size) : max_size_(max_size) {
  if (max_size < kMinPacketSize) {
    throw std::invalid_argument("rcon_wire::Decoder: max_size " + std::to_string(max_size) +
                                " is below the smallest packet (" + std::to_string(kMinPacketSize) +
                                ")");
  }
}

void Decoder::Feed(const void* data, std::size_t size) {
  if (!error_.empty() || size == 0) {
    return;
  }
  // Dropping the decoded prefix here, not in Next(), moves each undecoded
  // byte at most once per Feed instead of once per packet.
  buffer_.erase(0, start_);
  start_ = 0;
  buffer_.append(static_cast<const char*>(data), size);
}

Decoder::Result Decoder::Next(Packet& out) {
  if (!error_.empty()) {
    return Result::kError;
  }
  const std::size_t available = buffered();
  if (available < kSizeFieldBytes) {
    return Result::kNeedMore;
  }
  const char* at = buffer_.data() + start_;
  const std::int32_t size = ReadInt32(at);
  if (size < kMinPacketSize || size > max_size_) {
    return Fail("declared packet size " + std::to_string(size) + " is outside " +
                std::to_string(kMinPacketSize) + ".." + std::to_string(max_size_));
  }
  const std::size_t total = kSizeFieldBytes + static_cast<std::size_t>(size);
  if (available < total) {
    return Result::kNeedMore;
  }
  const std::int32_t id = ReadInt32(at + 4);
  const std::int32_t type = ReadInt32(at + 8);
  if (at[total - 2] != '\0' || at[total - 1] != '\0') {
    return Fail("packet " + std::to_string(id) + " (type " + std::to_string(type) +
                ") lacks the two NULs that end its body");
  }
  const std::string_view body(at + 12, static_cast<std::size_t>(size) - 10);
  out.id = id;
  out.type = type;
  out.body.assign(body.substr(0, body.find('\0')));
  out.size = size;
  start_ += total;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return Result::kPacket;
}

Decoder::Result Decoder::Fail(std::string why) {
  error_ = std::move(why);
  buffer_ = std::string();
  start_ = 0;
  return Result::kError;
}

}  // namespace rcon_wire
