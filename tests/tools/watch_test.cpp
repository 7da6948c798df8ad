// Tests of quillmoor-watch's parsing and files: the servers file, the CSV
// file across runs, the statistics log, the GetServerStats reply and the
// table. The RCON loop and the chart are tested end to end (watch_e2e.sh).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "watch/csv.h"
#include "watch/server_list.h"
#include "watch/stats_log.h"
#include "watch/stats_reply.h"
#include "watch/table.h"

namespace watch {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Spit(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}

Sample At(std::int64_t ms, std::string server, std::optional<std::int64_t> objects, Status status) {
  return {Time(std::chrono::milliseconds(ms)), std::move(server), objects, status, "why"};
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quillmoor-watch-test-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST(ServersFileTest, ReadsServersSkipsCommentsAndKeepsBlanksInsidePasswords) {
  const auto servers = ParseServersFile(
      "# cluster\r\n"
      "island 10.0.0.5:27020 s3cret\r\n"
      "\n"
      "   # indented comment\n"
      "scorched\t[::1]:27021   pass with blanks  \n");
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0].name, "island");
  EXPECT_EQ(servers[0].host, "10.0.0.5");
  EXPECT_EQ(servers[0].port, 27020);
  EXPECT_EQ(servers[0].password, "s3cret");
  EXPECT_EQ(servers[1].host, "::1");
  EXPECT_EQ(servers[1].port, 27021);
  EXPECT_EQ(servers[1].password, "pass with blanks");
}

TEST(ServersFileTest, BadLinesAreNamedByNumber) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"a 127.0.0.1:1 pw\nb 127.0.0.1:2\n", "line 2: expected NAME HOST:PORT PASSWORD"},
      {"a 127.0.0.1:0 pw\n", "line 1: '127.0.0.1:0': the port must be 1 to 65535"},
      {"a 127.0.0.1:65536 pw\n", "line 1: '127.0.0.1:65536': the port must be 1 to 65535"},
      {"a 127.0.0.1:27x pw\n", "line 1: '127.0.0.1:27x': the port must be 1 to 65535"},
      {"a localhost pw\n", "line 1: 'localhost' is not HOST:PORT"},
      {"a ::1:27020 pw\n", "line 1: '::1:27020': write an IPv6 address as [ADDRESS]:PORT"},
      {"#\n\na,b 127.0.0.1:1 pw\n",
       "line 3: server name 'a,b' must be letters, digits, '.', '_' or '-'"},
  };
  for (const auto& c : cases) {
    try {
      ParseServersFile(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), c.message) << c.text;
    }
  }
  EXPECT_THROW(CheckUniqueNames(ParseServersFile("a h:1 x\na h:2 y\n")), std::invalid_argument);
  EXPECT_THROW(ParseServerArgument("127.0.0.1:27020", "pw"), std::invalid_argument);
}

TEST_F(TempDir, CsvHeaderOnlyInANewFileAndRowsAppendAcrossRuns) {
  const fs::path csv = dir_ / "counts.csv";
  CsvWriter(csv).Write(At(1733591074250, "island", 123456, Status::kOk));
  {
    CsvWriter second(csv);
    second.Write(At(1733591075000, "island", std::nullopt, Status::kDown));
    second.Write(At(1733591076000, "island", std::nullopt, Status::kForcedGc));
  }
  EXPECT_EQ(Slurp(csv),
            "timestamp,server,objects,status\n"
            "2024-12-07T17:04:34.250Z,island,123456,ok\n"
            "2024-12-07T17:04:35.000Z,island,,down\n"
            "2024-12-07T17:04:36.000Z,island,,forced-gc\n");
  const auto rows = ReadCsv(csv);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].time, At(1733591074250, "", 0, Status::kOk).time);
  EXPECT_EQ(rows[0].objects, 123456);
  EXPECT_EQ(rows[1].status, Status::kDown);
  EXPECT_FALSE(rows[1].objects);
}

TEST_F(TempDir, CsvEndsARowCutShortAndRefusesAForeignFile) {
  const fs::path cut = dir_ / "cut.csv";
  Spit(cut, "timestamp,server,objects,status\n2024-12-07T17:04:34.250Z,island,12");
  CsvWriter(cut).Write(At(1733591075000, "island", 7, Status::kOk));
  EXPECT_EQ(Slurp(cut),
            "timestamp,server,objects,status\n2024-12-07T17:04:34.250Z,island,12\n"
            "2024-12-07T17:04:35.000Z,island,7,ok\n");
  EXPECT_THROW(ReadCsv(cut), std::runtime_error);  // the cut row has three fields

  const fs::path foreign = dir_ / "PluginConfig.json";
  Spit(foreign, "{\n  \"ConfigVersion\": 3\n}");
  EXPECT_THROW(CsvWriter{foreign}, std::runtime_error);
  EXPECT_EQ(Slurp(foreign), "{\n  \"ConfigVersion\": 3\n}");
}

TEST_F(TempDir, CsvReaderNamesTheBadLine) {
  const struct {
    const char* row;
    const char* message;
  } cases[] = {
      {"2024-12-07T17:04:34Z,a,1,ok", nullptr},
      {"2024-12-07T17:04:34Z,a,,ok", "line 3: '' is not an object count"},
      {"2024-12-07T17:04:34Z,a,-,ok", "line 3: '-' is not an object count"},
      {"2024-12-07 17:04:34,a,1,ok", "line 3: '2024-12-07 17:04:34' is not a time"},
      {"2024-13-07T17:04:34Z,a,1,ok", "line 3: '2024-13-07T17:04:34Z' is not a time"},
      {"2024-12-07T17:04:34Z,a,1,up", "line 3: 'up' is not a status"},
      {"2024-12-07T17:04:34Z,,1,ok", "line 3: empty server name"},
  };
  for (const auto& c : cases) {
    const fs::path csv = dir_ / "in.csv";
    Spit(csv, std::string("timestamp,server,objects,status\r\n\r\n") + c.row + "\r\n");
    try {
      const auto rows = ReadCsv(csv);
      EXPECT_EQ(c.message, nullptr) << c.row;
      EXPECT_EQ(rows.size(), 1u);
    } catch (const std::runtime_error& e) {
      ASSERT_NE(c.message, nullptr) << c.row << ": " << e.what();
      EXPECT_EQ(e.what(), csv.string() + ": " + c.message);
    }
  }
}

TEST(StatsLogTest, FindsForcedCollectionsAmongOtherLines) {
  const auto found = ParseForcedCollections(
      "[2026-12-07 17:04:34] GC forced. Trigger: auto-timer\r\n"
      "[2026-12-07 17:04:36] StructureNetFreq: Applied to 5/5 structures. NetFreq: 0.20, "
      "MinNetFreq: 0.10\r\n"
      "[2026-12-07 17:0x:36] GC forced. Trigger: rcon\r\n"
      "GC forced. Trigger: rcon\r\n"
      "[2026-12-07 17:05:04] GC forced. Trigger: rcon");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].trigger, "auto-timer");
  EXPECT_EQ(found[1].trigger, "rcon");
  EXPECT_EQ(found[1].time - found[0].time, std::chrono::seconds(30));
  EXPECT_THROW(ReadForcedCollections("/nonexistent/Quillmoor_stats.log"), std::runtime_error);
}

TEST(StatsReplyTest, ReadsTheCountOrSaysWhatCameInstead) {
  EXPECT_EQ(
      ParseObjectCount(R"({"cmd":"GetServerStats","data":{"uobjects":123456},"status":"success"})"),
      123456);
  EXPECT_EQ(ParseObjectCount(
                R"({"cmd":"GetServerStats","data":{"uobjects":4294967296},"status":"success"})"),
            4294967296);
  const struct {
    const char* body;
    const char* message;
  } bad[] = {
      {"Unknown command: GetServerStats", "reply: Unknown command: GetServerStats"},
      {"", "empty reply"},
      {R"({"data":{"uobjects":5},"status":"error"})",
       "reply: {\"data\":{\"uobjects\":5},\"status\":\"error\"}"},
      {R"({"data":{"uobjects":"5"},"status":"success"})",
       "reply: {\"data\":{\"uobjects\":\"5\"},\"status\":\"success\"}"},
      {R"({"data":{"uobjects":5},"status":5})", "reply: {\"data\":{\"uobjects\":5},\"status\":5}"},
      {"line\none", "reply: line one"},
  };
  for (const auto& c : bad) {
    try {
      ParseObjectCount(c.body);
      ADD_FAILURE() << "accepted: " << c.body;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(TableTest, ADownServerShowsDownNeverZeroAndItsChangeRestarts) {
  Table table({"island"});
  table.Add(At(0, "island", 100, Status::kOk));
  EXPECT_EQ(table.Add(At(1000, "island", 130, Status::kOk)),
            "1970-01-01T00:00:01.000Z island 130 +30 ok");
  EXPECT_EQ(table.Add(At(2000, "island", std::nullopt, Status::kDown)),
            "1970-01-01T00:00:02.000Z island - - down: why");
  std::string text = table.Render();
  EXPECT_NE(text.find("island"), std::string::npos);
  EXPECT_EQ(text.find(" 0 "), std::string::npos) << text;
  EXPECT_NE(text.find("down"), std::string::npos) << text;
  table.Add(At(3000, "island", 90, Status::kOk));
  text = table.Render();
  // After the gap no change is claimed; min and max span the whole run.
  EXPECT_EQ(text.substr(text.find('\n') + 1),
            "island            90           -            90           130  ok           why\n");
}

}  // namespace
}  // namespace watch
