// Tests of quillmoor-watch's parsing and files: the command line, the servers
// file, the CSV file across runs, the statistics log, the GetServerStats
// reply, the table and the chart's layout. The RCON loop is tested in
// watch_outputs_test.cpp and end to end (watch_e2e.sh).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <sys/stat.h>

#include "formats/plugin_files.h"
#include "formats/replies.h"
#include "formats/stats_line.h"
#include "support/files.h"
#include "watch/chart.h"
#include "watch/chart_layout.h"
#include "watch/csv.h"
#include "watch/options.h"
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
  quillmoor_test::TempDir temp_;
  const fs::path dir_ = temp_.path();
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
      {"a 127.0.0.1:0 pw\n", "line 1: the second field (HOST:PORT): the port must be 1 to 65535"},
      {"a 127.0.0.1:65536 pw\n",
       "line 1: the second field (HOST:PORT): the port must be 1 to 65535"},
      {"a 127.0.0.1:27x pw\n", "line 1: the second field (HOST:PORT): the port must be 1 to 65535"},
      {"a localhost pw\n", "line 1: the second field (HOST:PORT) is not HOST:PORT"},
      {"a ::1:27020 pw\n",
       "line 1: the second field (HOST:PORT): write an IPv6 address as [ADDRESS]:PORT"},
      {"#\n\na,b 127.0.0.1:1 pw\n",
       "line 3: the first field (NAME) must be letters, digits, '.', '_' or '-'"},
      // Fields out of order: the password is never shown.
      {"island s3cr:et 10.0.0.5:27020\n",
       "line 1: the second field (HOST:PORT): the port must be 1 to 65535"},
      {"island s3cret 10.0.0.5:27020\n", "line 1: the second field (HOST:PORT) is not HOST:PORT"},
      {"s3cr,et island 10.0.0.5:27020\n",
       "line 1: the first field (NAME) must be letters, digits, '.', '_' or '-'"},
      {"10.0.0.5:27020 island s3cret\n",
       "line 1: the first field (NAME) must be letters, digits, '.', '_' or '-'"},
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
  const auto rows = ReadCsv(csv).rows;
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
  // The cut row has three fields: it is skipped and counted, the rest read.
  const auto read = ReadCsv(cut);
  EXPECT_EQ(read.rows.size(), 1u);
  EXPECT_EQ(read.skipped, 1u);

  const fs::path foreign = dir_ / "PluginConfig.json";
  Spit(foreign, "{\n  \"ConfigVersion\": 3\n}");
  EXPECT_THROW(CsvWriter{foreign}, std::runtime_error);
  EXPECT_EQ(Slurp(foreign), "{\n  \"ConfigVersion\": 3\n}");
}

TEST_F(TempDir, CsvReaderNamesTheFirstLineItSkipped) {
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
    const auto read = ReadCsv(csv);
    EXPECT_EQ(read.rows.size(), c.message ? 0u : 1u) << c.row;
    EXPECT_EQ(read.first_skipped, c.message ? c.message : "") << c.row;
  }
}

TEST(StatsLogTest, FindsForcedCollectionsAmongOtherLines) {
  using formats::ForcedCollectionMessage;
  const std::string end(formats::kStatsLineEnd);
  const std::string by_timer = ForcedCollectionMessage(formats::kAutoTimerTrigger);
  const std::string by_command = ForcedCollectionMessage(formats::kRconTrigger);
  const auto found = ParseForcedCollections(
      formats::StatsLineText({2026, 12, 7, 17, 4, 34}, by_timer) + end +
      formats::StatsLineText({2026, 12, 7, 17, 4, 36},
                             formats::StructurePassMessage(5, 5, 0.2f, 0.1f)) +
      end + "[2026-12-07 17:0x:36] " + by_command + end + by_command + end +
      formats::StatsLineText({2026, 12, 7, 17, 5, 4}, by_command));
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].trigger, formats::kAutoTimerTrigger);
  EXPECT_EQ(found[1].trigger, formats::kRconTrigger);
  EXPECT_EQ(found[1].time - found[0].time, std::chrono::seconds(30));
  EXPECT_THROW(ReadForcedCollections(std::string("/nonexistent/") + formats::kStatsLogFile),
               std::runtime_error);
}

TEST(StatsReplyTest, ReadsTheCountOrSaysWhatCameInstead) {
  EXPECT_EQ(ParseObjectCount(formats::StatsReply(123456)), 123456);
  EXPECT_EQ(ParseObjectCount(formats::StatsReply(4294967296)), 4294967296);
  const std::string stats = formats::kStatsCommand;
  const struct {
    std::string body;
    std::string message;
  } bad[] = {
      {"Unknown command: " + stats, "reply: Unknown command: " + stats},
      {"", "empty reply"},
      {R"({"data":{"uobjects":5},"status":"error"})",
       "reply: {\"data\":{\"uobjects\":5},\"status\":\"error\"}"},
      {R"({"data":{"uobjects":"5"},"status":"success"})",
       "reply: {\"data\":{\"uobjects\":\"5\"},\"status\":\"success\"}"},
      {R"({"data":{"uobjects":5},"status":5})", "reply: {\"data\":{\"uobjects\":5},\"status\":5}"},
      {"line\none", "reply: line one"},
      {R"({"data":{"uobjects":-5},"status":"success"})",
       "reply: {\"data\":{\"uobjects\":-5},\"status\":\"success\"}"},
      {R"({"data":{"uobjects":9223372036854775808},"status":"success"})",
       "reply: {\"data\":{\"uobjects\":9223372036854775808},\"status\":\"success\"}"},
      {R"({"data":{"uobjects":1.5},"status":"success"})",
       "reply: {\"data\":{\"uobjects\":1.5},\"status\":\"success\"}"},
  };
  for (const auto& c : bad) {
    try {
      ParseObjectCount(c.body);
      ADD_FAILURE() << "accepted: " << c.body;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), c.message);
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
  std::string text = table.Render(80, At(2000, "", 0, Status::kOk).time);
  EXPECT_NE(text.find("island"), std::string::npos);
  EXPECT_EQ(text.find(" 0 "), std::string::npos) << text;
  EXPECT_NE(text.find("down"), std::string::npos) << text;
  table.Add(At(3000, "island", 90, Status::kOk));
  text = table.Render(80, At(3000, "", 0, Status::kOk).time);
  // After the gap no change is claimed; min and max span the whole run; the
  // error is gone once the server answers.
  EXPECT_EQ(text.substr(text.find('\n') + 1), "island       90       -   90  130\n");
}

TEST(TableTest, FitsEightyColumnsAndDatesTheErrorUntilTheServerAnswers) {
  const std::string name(30, 'n');
  Table table({name, "b"});
  table.Add(At(0, name, 123456789, Status::kOk));
  Sample down = At(5000, "b", std::nullopt, Status::kDown);
  down.detail = "connect: Connection refused, and a reason much longer than any column" +
                std::string("\x1b[2J");
  EXPECT_EQ(table.Add(down).substr(25),
            "b - - down: " + down.detail.substr(0, down.detail.size() - 4) + "\\x1b[2J");
  const std::string text = table.Render(80, At(70000, "", 0, Status::kOk).time);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    // The ellipsis is one column of three bytes.
    const auto columns =
        line.size() - 2 * static_cast<std::size_t>(std::count(line.begin(), line.end(), '\xE2'));
    EXPECT_LE(columns, 79u) << line;
  }
  EXPECT_NE(text.find("nnnnnnnnn\xE2\x80\xA6  123456789"), std::string::npos) << text;
  EXPECT_NE(text.find("  1m05s connect: Conn\xE2\x80\xA6\n"), std::string::npos) << text;
  table.Add(At(71000, "b", 7, Status::kOk));
  EXPECT_EQ(table.Render(80, At(72000, "", 0, Status::kOk).time).find("connect"),
            std::string::npos);
}

TEST(TableTest, PrintableEscapesWhatATerminalWouldObey) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"plain text: 42", "plain text: 42"},
      {"a\x1b[2Jb", "a\\x1b[2Jb"},
      {"\r\n\t", "\\x0d\\x0a\\x09"},
      {"\x7f", "\\x7f"},
      {"\xc2\x9b"
       "31m",
       "\\xc2\\x9b31m"},  // a C1 control sequence in UTF-8
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Printable(c.in), c.out);
  }
}

TEST(CsvParseTest, SkipsWhatIsNotARowAndKeepsStartRows) {
  const auto read = ParseCsv(
      "\xEF\xBB\xBFtimestamp,server,objects,status\r\n"
      "2024-12-07T17:04:34.000Z,,,start\n"
      "2024-12-07T17:04:35.000Z,a,5,ok\n"
      "2024-12-07T17:04:36.000Z,a,-1,ok\n"
      "2024-12-07T17:04:37.000Z,a,12\n"
      "2024-12-07T17:04:38.000Z,a,,start\n"
      "2024-12-07T17:04:39.000Z,a,,down");
  ASSERT_EQ(read.rows.size(), 3u);
  EXPECT_EQ(read.rows[0].status, Status::kStart);
  EXPECT_EQ(read.rows[1].objects, 5);
  EXPECT_EQ(read.rows[2].status, Status::kDown);
  EXPECT_EQ(read.skipped, 3u);
  EXPECT_EQ(read.first_skipped, "line 4: '-1' is not an object count");
}

TEST_F(TempDir, CsvFileMustBeARegularFile) {
  const fs::path fifo = dir_ / "fifo.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& p : {fifo, fs::path("/dev/full"), dir_}) {
    SCOPED_TRACE(p);
    EXPECT_THROW(CsvWriter{p}, std::runtime_error);  // at once: a FIFO is not waited on
    EXPECT_THROW(ReadCsv(p), std::runtime_error);
  }
}

TEST(OptionsTest, NumbersMustBeFiniteAndDurationsTakeUnits) {
  const struct {
    std::vector<const char*> args;
    int exit_code;  // -1: parsed
    std::chrono::milliseconds interval, force_every;
  } cases[] = {
      {{"--interval", "nan"}, kExitUsage, {}, {}},
      {{"--interval", "inf"}, kExitUsage, {}, {}},
      {{"--interval", "0"}, kExitUsage, {}, {}},
      {{"--timeout", "nan"}, kExitUsage, {}, {}},
      {{"--duration", "nan"}, kExitUsage, {}, {}},
      {{"--force-gc-every", "nan"}, kExitUsage, {}, {}},
      {{"--force-gc-every", "-1"}, kExitUsage, {}, {}},
      {{"--interval", "5 s"}, kExitUsage, {}, {}},
      {{"--interval", "2", "--force-gc-every", "3"},
       -1,
       std::chrono::seconds(2),
       std::chrono::minutes(3)},
      {{"--interval", "1.5m", "--force-gc-every", "90s"},
       -1,
       std::chrono::seconds(90),
       std::chrono::seconds(90)},
      {{"--interval", "250ms", "--force-gc-every", "1h"},
       -1,
       std::chrono::milliseconds(250),
       std::chrono::hours(1)},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"quillmoor-watch", "--server", "a=127.0.0.1:1"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(::testing::PrintToString(c.args));
    WatchOptions options;
    int exit_code = -1;
    const bool parsed =
        ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "pw", options, exit_code);
    EXPECT_EQ(parsed ? -1 : exit_code, c.exit_code);
    if (parsed) {
      EXPECT_EQ(options.interval, c.interval);
      EXPECT_EQ(options.force_gc_every, c.force_every);
    }
  }
}

TEST_F(TempDir, AServersFileThatIsNoFileIsAUsageError) {
  const fs::path fifo = dir_ / "servers";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& p : {dir_, fifo}) {
    const std::string path = p.string();
    const char* argv[] = {"quillmoor-watch", "--servers", path.c_str()};
    WatchOptions options;
    int exit_code = -1;
    EXPECT_FALSE(ParseCommandLine(3, argv, std::nullopt, options, exit_code)) << path;
    EXPECT_EQ(exit_code, kExitUsage) << path;
  }
}

TEST_F(TempDir, AServersFileOthersMayReadIsWarnedAboutWithoutItsPasswords) {
  const fs::path file = dir_ / "servers.txt";
  std::ofstream(file) << "island 10.0.0.5:27020 s3cret\n";
  const struct {
    fs::perms mode;
    bool warned;
  } cases[] = {
      {fs::perms::owner_read | fs::perms::owner_write, false},
      {fs::perms::owner_read | fs::perms::group_read, true},
      {fs::perms::owner_read | fs::perms::others_read, true},
  };
  for (const auto& c : cases) {
    fs::permissions(file, c.mode);
    const std::string path = file.string();
    const char* argv[] = {"quillmoor-watch", "--servers", path.c_str()};
    WatchOptions options;
    int exit_code = -1;
    ASSERT_TRUE(ParseCommandLine(3, argv, std::nullopt, options, exit_code));
    ASSERT_EQ(options.warnings.size(), c.warned ? 1u : 0u) << static_cast<int>(c.mode);
    if (c.warned) {
      EXPECT_NE(options.warnings[0].find("chmod 600"), std::string::npos);
      EXPECT_EQ(options.warnings[0].find("s3cret"), std::string::npos);
    }
  }
}

TEST(ChartLayoutTest, AxisLabelsAreShortAndTimeStepsRound) {
  const struct {
    double value, step, largest;
    const char* label;
  } counts[] = {
      {950, 50, 1000, "950"},
      {9500, 500, 9500, "9500"},
      {150000, 10000, 160000, "150k"},
      {152500, 2500, 160000, "152.5k"},
      {1200000, 200000, 1400000, "1.2M"},
      {0, 20000, 160000, "0"},
      {3e9, 1e9, 1e10, "3G"},
  };
  for (const auto& c : counts) {
    EXPECT_EQ(CountLabel(c.value, c.step, c.largest), c.label);
  }
  const struct {
    double span;
    double step;
  } times[] = {{7, 1},      {60, 10},       {180, 30},       {400, 60},
               {3600, 600}, {86400, 10800}, {864000, 172800}};
  for (const auto& t : times) {
    EXPECT_EQ(TimeStep(t.span, 8), t.step) << t.span;
  }
}

// The server's lines in the scene: thick polylines in its colour.
std::vector<std::vector<Point>> SeriesLines(const Scene& scene) {
  std::vector<std::vector<Point>> out;
  for (const auto& l : scene.lines) {
    if (l.width == 2 && l.points.size() > 2) {
      out.push_back(l.points);
    }
  }
  return out;
}

TEST(ChartLayoutTest, ALineNeverBridgesATimeWithoutObservation) {
  const std::int64_t t0 = 1733591074000;
  const auto run = [&](std::int64_t from, int n, std::vector<Sample>& out) {
    for (int i = 0; i < n; ++i) {
      out.push_back(At(t0 + from + i * 1000, "a", 100 + i % 7, Status::kOk));
    }
  };
  std::vector<Sample> two_runs, old_file, outage;
  two_runs.push_back(At(t0, "", std::nullopt, Status::kStart));
  run(0, 30, two_runs);
  two_runs.push_back(At(t0 + 90000, "", std::nullopt, Status::kStart));
  run(90000, 30, two_runs);
  run(0, 30, old_file);  // no start rows: the gap alone breaks the line
  run(90000, 30, old_file);
  run(0, 30, outage);
  outage.push_back(At(t0 + 30000, "a", std::nullopt, Status::kDown));
  run(31000, 30, outage);
  const struct {
    const char* name;
    std::vector<Sample> samples;
    std::size_t shaded;
  } cases[] = {{"two runs", two_runs, 0}, {"old file", old_file, 0}, {"outage", outage, 1}};
  for (const auto& c : cases) {
    const Scene scene = LayoutChart(c.samples, {});
    EXPECT_EQ(SeriesLines(scene).size(), 2u) << c.name;
    std::size_t shaded = 0;
    for (const auto& a : scene.areas) {
      shaded += a.opacity < 0.2 ? 1 : 0;
    }
    EXPECT_EQ(shaded, c.shaded) << c.name;
  }
}

TEST(ChartLayoutTest, PointsFinerThanAPixelAreDropped) {
  std::vector<Sample> samples;
  for (int i = 0; i < 20000; ++i) {
    samples.push_back(At(1733591074000 + i * 100, "a", 1000 + (i * 7919) % 500, Status::kOk));
  }
  const auto lines = SeriesLines(LayoutChart(samples, {}));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LE(lines[0].size(), 4u * kChartWidth);
  const auto [lo, hi] = std::minmax_element(lines[0].begin(), lines[0].end(),
                                            [](Point a, Point b) { return a.y < b.y; });
  EXPECT_LT(lo->y, hi->y);  // the extremes are kept
}

TEST_F(TempDir, TheChartsNameIsTakenLiterally) {
  const std::vector<Sample> samples = {At(1733591074000, "a", 5, Status::kOk),
                                       At(1733591075000, "a", 6, Status::kOk)};
  for (const char* name : {"chart%n.svg", "chart%n.png"}) {
    DrawChart(dir_ / name, samples, {});
    EXPECT_TRUE(fs::is_regular_file(dir_ / name)) << name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  const std::string svg = Slurp(dir_ / "chart%n.svg");
  EXPECT_NE(svg.find(">Engine objects<"), std::string::npos);  // greppable text
  EXPECT_EQ(svg.find("&#"), std::string::npos);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

}  // namespace
}  // namespace watch
