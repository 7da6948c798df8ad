// Arbitrary bytes through the RCON packet decoder, fed in chunks whose sizes
// the input picks too: nothing may crash, the decoder may hold no more than
// one packet beyond the chunk just fed, and every packet it returns must be
// the very bytes it consumed, re-encoded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "rcon_wire/codec.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "rcon_wire_fuzz: %s\n", what);
    std::abort();
  }
}

// The bytes of one decoded packet against what Encode makes of it. A body
// cut at an inner NUL cannot re-encode to the same bytes; then the body must
// be the consumed body up to that NUL.
void CheckPacket(const rcon_wire::Packet& p, std::string_view consumed) {
  Check(consumed.size() == rcon_wire::kSizeFieldBytes + static_cast<std::size_t>(p.size),
        "the declared size is not what was consumed");
  const std::string encoded = rcon_wire::Encode(p.id, p.type, p.body);
  if (consumed.size() == encoded.size()) {
    Check(consumed == encoded, "a packet re-encodes to other bytes");
    return;
  }
  Check(consumed.size() > encoded.size(), "a packet consumed fewer bytes than its encoding");
  Check(consumed.substr(4, 8) == std::string_view(encoded).substr(4, 8),
        "id or type differ from the bytes consumed");
  Check(consumed.substr(12, p.body.size()) == p.body, "the body differs from the bytes consumed");
  Check(consumed[12 + p.body.size()] == '\0', "a shortened body does not end at a NUL");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  // The first two bytes choose the chunk sizes and the decoder's limit; the
  // rest is the stream.
  std::uint32_t chunk_seed = data[0];
  const std::int32_t max_size =
      data[1] % 2 == 0 ? rcon_wire::kMaxRequestSize : rcon_wire::kMinPacketSize + data[1];
  const std::string_view stream(reinterpret_cast<const char*>(data) + 2, size - 2);

  rcon_wire::Decoder decoder(max_size);
  std::size_t fed = 0;
  std::size_t decoded_end = 0;  // offset in `stream` of the first byte not yet decoded
  bool failed = false;
  while (fed < stream.size() && !failed) {
    chunk_seed = chunk_seed * 1103515245u + 12345u;
    const std::size_t chunk =
        std::min<std::size_t>(1 + (chunk_seed >> 16) % 97, stream.size() - fed);
    decoder.Feed(stream.data() + fed, chunk);
    fed += chunk;
    Check(decoder.buffered() == fed - decoded_end, "buffered() is not the bytes not yet decoded");
    Check(decoder.buffered() <
              rcon_wire::kSizeFieldBytes + static_cast<std::size_t>(max_size) + chunk,
          "the decoder holds more than one packet beyond the last chunk");
    rcon_wire::Packet p;
    for (;;) {
      const auto result = decoder.Next(p);
      if (result == rcon_wire::Decoder::Result::kNeedMore) {
        break;
      }
      if (result == rcon_wire::Decoder::Result::kError) {
        Check(!decoder.error().empty(), "an error without a reason");
        Check(decoder.buffered() == 0, "an error kept its buffer");
        failed = true;
        break;
      }
      const std::size_t end = fed - decoder.buffered();
      CheckPacket(p, stream.substr(decoded_end, end - decoded_end));
      decoded_end = end;
    }
  }
  return 0;
}
