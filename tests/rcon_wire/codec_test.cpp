// The packet codec on byte strings written out by hand: every size limit,
// bad terminators, inner NULs, and the same stream cut into chunks of any
// size, including one byte at a time.
#include "rcon_wire/codec.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using rcon_wire::Decoder;
using rcon_wire::Packet;
using Result = Decoder::Result;

std::string Le(std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  return {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
          static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 24) & 0xFF)};
}

// A packet spelled out field by field, with whatever size it claims.
std::string Raw(std::int32_t size, std::int32_t id, std::int32_t type, const std::string& rest) {
  return Le(size) + Le(id) + Le(type) + rest;
}

const std::string kNul2(2, '\0');

struct Outcome {
  std::vector<Packet> packets;
  Result last = Result::kNeedMore;
  std::string error;
};

// Feeds `input` in chunks of `chunk` bytes, taking every packet as soon as it
// is whole, and checks that the decoder never holds more than one packet's
// bytes plus the chunk just fed.
Outcome Decode(const std::string& input, std::int32_t max_size, std::size_t chunk) {
  Decoder decoder(max_size);
  Outcome out;
  for (std::size_t at = 0; at < input.size() && out.last != Result::kError; at += chunk) {
    const std::size_t n = std::min(chunk, input.size() - at);
    decoder.Feed(input.data() + at, n);
    EXPECT_LT(decoder.buffered(),
              rcon_wire::kSizeFieldBytes + static_cast<std::size_t>(max_size) + n);
    Packet p;
    while ((out.last = decoder.Next(p)) == Result::kPacket) {
      out.packets.push_back(p);
    }
  }
  out.error = decoder.error();
  return out;
}

struct Case {
  const char* name;
  std::string input;
  std::int32_t max_size;
  std::vector<std::string> bodies;  // of the packets decoded, in order
  std::string error;                // empty: the stream ends needing more
};

const std::string kLongest(4086, 'x');

const Case kCases[] = {
    {"Size10IsAnEmptyBody", Raw(10, 5, 2, kNul2), 4096, {""}, ""},
    {"Size9IsRefused",
     Raw(9, 5, 2, std::string(1, '\0')),
     4096,
     {},
     "declared packet size 9 is outside 10..4096"},
    {"SizeMaxIsAccepted", Raw(4096, 5, 2, kLongest + kNul2), 4096, {kLongest}, ""},
    {"SizeMaxPlusOneIsRefused",
     Raw(4097, 5, 2, kLongest + "y" + kNul2),
     4096,
     {},
     "declared packet size 4097 is outside 10..4096"},
    {"NegativeSizeIsRefused", Le(-1), 4096, {}, "declared packet size -1 is outside 10..4096"},
    {"Int32MinIsRefused",
     Le(std::numeric_limits<std::int32_t>::min()),
     4096,
     {},
     "declared packet size -2147483648 is outside 10..4096"},
    {"SmallerMaxIsTheLimit",
     Raw(20, 1, 2, "abcdefghij" + kNul2) + Raw(21, 2, 2, "abcdefghijk"),
     20,
     {"abcdefghij"},
     "declared packet size 21 is outside 10..20"},
    {"NoTerminatorAtAll",
     Raw(12, 8, 2, "stat"),
     4096,
     {},
     "packet 8 (type 2) lacks the two NULs that end its body"},
    {"OneTerminatorIsNotEnough",
     Raw(15, 8, 2, std::string("status") + '\0'),
     4096,
     {},
     "packet 8 (type 2) lacks the two NULs that end its body"},
    {"BodyEndsAtItsFirstNul", Raw(15, 1, 2, std::string("ab\0cd", 5) + kNul2), 4096, {"ab"}, ""},
    {"PipelinedPacketsAllCome",
     Raw(12, 1, 3, "pw" + kNul2) + Raw(16, 2, 2, "status" + kNul2) + Raw(10, 3, 0, kNul2),
     4096,
     {"pw", "status", ""},
     ""},
    {"PartialPacketWaits", Raw(16, 2, 2, "status" + std::string(1, '\0')), 4096, {}, ""},
    {"GoodPacketThenBadSize",
     Raw(10, 1, 2, kNul2) + Le(9) + "rest",
     4096,
     {""},
     "declared packet size 9 is outside 10..4096"},
};

class DecoderTest : public ::testing::TestWithParam<Case> {};

TEST_P(DecoderTest, SameOutcomeWholeAndInChunks) {
  const Case& c = GetParam();
  for (std::size_t chunk : {c.input.size(), std::size_t{1}, std::size_t{3}, std::size_t{13}}) {
    SCOPED_TRACE("chunk " + std::to_string(chunk));
    const Outcome out = Decode(c.input, c.max_size, std::max<std::size_t>(chunk, 1));
    std::vector<std::string> bodies;
    for (const auto& p : out.packets) {
      bodies.push_back(p.body);
    }
    EXPECT_EQ(bodies, c.bodies);
    EXPECT_EQ(out.error, c.error);
    EXPECT_EQ(out.last, c.error.empty() ? Result::kNeedMore : Result::kError);
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, DecoderTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) {
                           return std::string(p.param.name);
                         });

TEST(DecoderErrorTest, ErrorIsFinalAndReleasesTheBuffer) {
  Decoder decoder(rcon_wire::kMaxRequestSize);
  const std::string bad = Le(4097) + std::string(100, 'z');
  decoder.Feed(bad.data(), bad.size());
  Packet p;
  ASSERT_EQ(decoder.Next(p), Result::kError);
  EXPECT_EQ(decoder.buffered(), 0u);
  const std::string good = rcon_wire::Encode(1, 2, "status");
  decoder.Feed(good.data(), good.size());
  EXPECT_EQ(decoder.buffered(), 0u);
  EXPECT_EQ(decoder.Next(p), Result::kError);
}

TEST(DecoderSizeTest, DeclaredSizeIsKeptWhenTheBodyStopsAtAnInnerNul) {
  const Outcome out = Decode(Raw(15, 1, 2, std::string("ab\0cd", 5) + kNul2), 4096, 4);
  ASSERT_EQ(out.packets.size(), 1u);
  EXPECT_EQ(out.packets[0].size, 15);
}

TEST(DecoderErrorTest, MaxSizeBelowTheSmallestPacketIsRefused) {
  EXPECT_THROW(Decoder{9}, std::invalid_argument);
  EXPECT_NO_THROW(Decoder{10});
}

TEST(EncodeTest, WritesLittleEndianFieldsAndTwoNuls) {
  EXPECT_EQ(rcon_wire::Encode(1, 3, "pw"), std::string("\x0c\0\0\0\x01\0\0\0\x03\0\0\0pw\0\0", 16));
  EXPECT_EQ(rcon_wire::Encode(-1, 2, ""),
            std::string("\x0a\0\0\0\xff\xff\xff\xff\x02\0\0\0\0\0", 14));
}

struct RoundTrip {
  const char* name;
  std::int32_t id;
  std::int32_t type;
  std::string body;
};

class RoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTripTest, DecodesToWhatWasEncoded) {
  const RoundTrip& r = GetParam();
  const Outcome out =
      Decode(rcon_wire::Encode(r.id, r.type, r.body), rcon_wire::kMaxRequestSize, 7);
  ASSERT_EQ(out.packets.size(), 1u);
  EXPECT_EQ(out.packets[0].id, r.id);
  EXPECT_EQ(out.packets[0].type, r.type);
  EXPECT_EQ(out.packets[0].body, r.body);
  EXPECT_EQ(out.packets[0].size, static_cast<std::int32_t>(r.body.size()) + 10);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RoundTripTest,
    ::testing::Values(
        RoundTrip{"EmptyResponse", 0, rcon_wire::kResponseValue, ""},
        RoundTrip{"LowestId", std::numeric_limits<std::int32_t>::min(), rcon_wire::kAuth, "pw"},
        RoundTrip{"HighestIdNegativeType", std::numeric_limits<std::int32_t>::max(), -7,
                  "GetServerStats"},
        RoundTrip{"Utf8Body", 42, rcon_wire::kExecCommand, "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80"},
        RoundTrip{"LongestBody", 7, rcon_wire::kExecCommand, kLongest}),
    [](const ::testing::TestParamInfo<RoundTrip>& p) { return std::string(p.param.name); });

}  // namespace
