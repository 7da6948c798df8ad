// The exact bytes of what a client or a log reader receives: the RCON reply
// documents and the statistics messages, written out by hand. This is the
// one place that restates them; every other test takes them from
// libs/formats, so a changed format fails here and nowhere else.
#include <gtest/gtest.h>
#include <string>

#include "formats/replies.h"
#include "formats/stats_line.h"

namespace {

struct Bytes {
  const char* name;
  std::string written;
  std::string expected;
};

TEST(WrittenBytesTest, RepliesAndStatisticsMessagesAreExactlyTheseBytes) {
  using formats::ForceGcOutcome;
  const Bytes rows[] = {
      {"statistics command", formats::kStatsCommand, "GetServerStats"},
      {"force-GC command", formats::kForceGcCommand, "ForceGC"},
      {"statistics reply", formats::StatsReply(123456),
       R"({"cmd":"GetServerStats","data":{"uobjects":123456},"status":"success"})"},
      {"statistics reply, count past 32 bits in plain decimal", formats::StatsReply(4294967296),
       R"({"cmd":"GetServerStats","data":{"uobjects":4294967296},"status":"success"})"},
      {"statistics unavailable", formats::StatsUnavailableReply(),
       R"({"cmd":"GetServerStats","message":"Server statistics are not available","status":"error"})"},
      {"forced", formats::ForceGcReply(ForceGcOutcome::kForced),
       R"({"cmd":"ForceGC","message":"Garbage collection forced successfully","status":"success"})"},
      {"no engine", formats::ForceGcReply(ForceGcOutcome::kNoEngine),
       R"({"cmd":"ForceGC","message":"Garbage collection could not be forced: engine not available","status":"error"})"},
      {"failed", formats::ForceGcReply(ForceGcOutcome::kFailed),
       R"({"cmd":"ForceGC","message":"Garbage collection could not be forced: internal error","status":"error"})"},
      {"forced by the timer", formats::ForcedCollectionMessage(formats::kAutoTimerTrigger),
       "GC forced. Trigger: auto-timer"},
      {"forced by the command", formats::ForcedCollectionMessage(formats::kRconTrigger),
       "GC forced. Trigger: rcon"},
      {"structure pass", formats::StructurePassMessage(3, 12, 0.2f, 0.1f),
       "StructureNetFreq: Applied to 3/12 structures. NetFreq: 0.20, MinNetFreq: 0.10"},
      {"statistics line",
       formats::StatsLineText({2026, 12, 7, 17, 4, 34}, "GC forced. Trigger: rcon"),
       "[2026-12-07 17:04:34] GC forced. Trigger: rcon"},
      {"statistics line end", std::string(formats::kStatsLineEnd), "\r\n"},
  };
  for (const Bytes& row : rows) {
    EXPECT_EQ(row.written, row.expected) << row.name;
  }
}

}  // namespace
