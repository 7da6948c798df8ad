// The watcher's Prometheus exporter without a Prometheus: the --metrics
// value, which statistics logs feed which server, the series as a scrape
// renders them after each kind of observation, their number over a long
// run, scrapes during updates, a port in use, and following a log across
// rotations. Against a real Prometheus: metrics_e2e.sh.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <prometheus/text_serializer.h>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "formats/plugin_files.h"
#include "formats/replies.h"
#include "formats/stats_line.h"
#include "watch/listen_address.h"
#include "watch/metrics.h"
#include "watch/metrics_sink.h"
#include "watch/options.h"
#include "watch/stats_follow.h"

namespace watch {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(ListenAddressTest, LoopbackUnlessAnAddressIsGiven) {
  const struct {
    const char* text;
    const char* formatted;  // nullptr: refused
  } cases[] = {
      {"9764", "127.0.0.1:9764"},
      {"0", "127.0.0.1:0"},
      {"0.0.0.0:9764", "0.0.0.0:9764"},
      {"", nullptr},
      {"65536", nullptr},
      {"9764 ", nullptr},
      {"localhost:9764", nullptr},
      {"[::1]:9764", nullptr},
      {"10.0.0:9764", nullptr},
      {":9764", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.formatted) {
      EXPECT_EQ(FormatListenAddress(ParseListenAddress(c.text)), c.formatted);
    } else {
      EXPECT_THROW(ParseListenAddress(c.text), std::invalid_argument);
    }
  }
}

TEST(FollowedLogsTest, EachLogBelongsToOneWatchedServer) {
  const std::vector<ServerSpec> one = {{"island", "h", 1, "pw"}};
  const std::vector<ServerSpec> two = {{"island", "h", 1, "pw"}, {"scorched", "h", 2, "pw"}};
  EXPECT_EQ(FollowedLogs(one, {{"", "a.log"}}).front().server, "island");
  EXPECT_EQ(FollowedLogs(two, {{"scorched", "b.log"}}).front().server, "scorched");
  const struct {
    std::vector<StatsLogSpec> logs;
    const char* message;
  } bad[] = {
      {{{"", "a.log"}},
       "--stats-log a.log: with --metrics and several servers, say whose log it is: NAME=PATH"},
      {{{"iland", "a.log"}}, "--stats-log iland=a.log: no server named 'iland' is watched"},
      {{{"island", "a.log"}, {"island", "b.log"}},
       "--stats-log: two logs for 'island'; its metrics take one"},
  };
  for (const auto& c : bad) {
    try {
      FollowedLogs(two, c.logs);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(MetricsOptionTest, ABadValueIsAUsageErrorBeforeAnythingRuns) {
  const struct {
    std::vector<const char*> args;
    int exit_code;  // -1: accepted
  } cases[] = {
      {{"--metrics", "9764"}, -1},
      {{"--metrics", "localhost:9764"}, kExitUsage},
      {{"--metrics", ""}, kExitUsage},
      {{"--metrics", "9764", "--stats-log", "a.log"}, kExitUsage},  // whose?
      {{"--stats-log", "a.log"}, -1},                               // the chart's marks
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv = {"quillmoor-watch", "--server", "a=127.0.0.1:1", "--server",
                                     "b=127.0.0.1:2"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args.size() > 1 ? c.args[1] : c.args[0]);
    WatchOptions options;
    int exit_code = -1;
    const bool ok =
        ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "pw", options, exit_code);
    EXPECT_EQ(ok, c.exit_code == -1);
    EXPECT_EQ(exit_code, c.exit_code);
  }
}

// --- FleetMetrics -------------------------------------------------------

std::string Scrape(const FleetMetrics& metrics) {
  std::ostringstream out;
  prometheus::TextSerializer().Serialize(out, metrics.Collect());
  return out.str();
}

// The value of one series in a scrape; "absent" when it is not there.
std::string Value(const std::string& scrape, const std::string& series) {
  std::istringstream in(scrape);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(series + ' ', 0) == 0) {
      return line.substr(series.size() + 1);
    }
  }
  return "absent";
}

// Series in a scrape: its lines that are not comments.
std::size_t SeriesCount(const std::string& scrape) {
  std::istringstream in(scrape);
  std::size_t n = 0;
  for (std::string line; std::getline(in, line);) {
    n += !line.empty() && line[0] != '#';
  }
  return n;
}

Sample Poll(const std::string& server, Status status, std::optional<std::int64_t> objects = {},
            std::optional<std::chrono::microseconds> round_trip = {}) {
  return {
      Time(std::chrono::milliseconds(1'700'000'000'250)), server, objects, status, "", round_trip};
}

Sample Forced(const std::string& server) {
  Sample sample = Poll(server, Status::kForcedGc);
  sample.detail = formats::ForceGcReply(formats::ForceGcOutcome::kForced);
  return sample;
}

// Statistics lines as the plugin writes them, at 17:04:`second` on a day.
std::string StatsLine(int second, const std::string& message) {
  return formats::StatsLineText({2026, 12, 7, 17, 4, second}, message);
}
std::string ForcedLine(std::string_view trigger) {
  return StatsLine(34, formats::ForcedCollectionMessage(trigger));
}
const std::string kGcLine = ForcedLine(formats::kAutoTimerTrigger);

TEST(FleetMetricsTest, EachObservationShowsAsItsSeries) {
  FleetMetrics metrics({"island", "scorched"}, {"island"}, "1.2.3");
  const auto up = [&](const char* s) {
    return Value(Scrape(metrics), fmt::format("quillmoor_up{{server=\"{}\"}}", s));
  };
  const auto series = [&](const std::string& s) { return Value(Scrape(metrics), s); };

  // Before the first poll: down, no count; the followed log's counters at 0.
  EXPECT_EQ(up("island"), "0");
  EXPECT_EQ(series("quillmoor_uobjects{server=\"island\"}"), "absent");
  EXPECT_EQ(series("quillmoor_polls_total{server=\"island\",result=\"auth_failed\"}"), "0");
  EXPECT_EQ(series("quillmoor_gc_forced_total{server=\"island\",trigger=\"rcon\"}"), "0");
  EXPECT_EQ(series("quillmoor_gc_forced_total{server=\"scorched\",trigger=\"rcon\"}"), "absent");
  EXPECT_EQ(series("quillmoor_watch_build_info{version=\"1.2.3\"}"), "1");

  metrics.Observe(Poll("island", Status::kOk, 1000, 33ms));
  EXPECT_EQ(up("island"), "1");
  EXPECT_EQ(series("quillmoor_uobjects{server=\"island\"}"), "1000");
  EXPECT_EQ(series("quillmoor_last_success_timestamp_seconds{server=\"island\"}"), "1700000000.25");
  EXPECT_EQ(series("quillmoor_rcon_round_trip_seconds_bucket{server=\"island\",le=\"0.03\"}"), "0");
  EXPECT_EQ(series("quillmoor_rcon_round_trip_seconds_bucket{server=\"island\",le=\"0.035\"}"),
            "1");
  EXPECT_EQ(series("quillmoor_rcon_round_trip_seconds_count{server=\"island\"}"), "1");

  // A force-GC that the plugin could not carry out is no collection.
  Sample refused = Poll("island", Status::kForcedGc);
  refused.detail = formats::ForceGcReply(formats::ForceGcOutcome::kNoEngine);
  metrics.Observe(refused);
  metrics.Observe(Poll("island", Status::kOk, 1000));
  EXPECT_EQ(series("quillmoor_gc_last_drop_objects{server=\"island\"}"), "absent");

  // The watcher's force-GC and its line in the log are one collection.
  metrics.Observe(Forced("island"));
  metrics.ObserveStatsLine("island", ForcedLine(formats::kRconTrigger));
  metrics.Observe(Poll("island", Status::kOk, 700, 7s));
  EXPECT_EQ(series("quillmoor_gc_last_drop_objects{server=\"island\"}"), "300");
  EXPECT_EQ(series("quillmoor_gc_forced_total{server=\"island\",trigger=\"rcon\"}"), "1");
  EXPECT_EQ(series("quillmoor_rcon_round_trip_seconds_bucket{server=\"island\",le=\"5\"}"), "1");
  EXPECT_EQ(series("quillmoor_rcon_round_trip_seconds_bucket{server=\"island\",le=\"+Inf\"}"), "2");

  // Down: no count at all, and no drop measured across the gap.
  metrics.ObserveStatsLine("island", kGcLine);
  metrics.Observe(Poll("island", Status::kDown));
  EXPECT_EQ(up("island"), "0");
  EXPECT_EQ(series("quillmoor_uobjects{server=\"island\"}"), "absent");
  EXPECT_EQ(series("quillmoor_last_success_timestamp_seconds{server=\"island\"}"), "1700000000.25");
  metrics.Observe(Poll("island", Status::kOk, 5000));
  EXPECT_EQ(series("quillmoor_gc_last_drop_objects{server=\"island\"}"), "300");
  EXPECT_EQ(series("quillmoor_polls_total{server=\"island\",result=\"down\"}"), "1");
  EXPECT_EQ(series("quillmoor_polls_total{server=\"island\",result=\"ok\"}"), "4");

  // A reply that is not a count is down for up and uobjects, timed all the same.
  metrics.Observe(Poll("island", Status::kError, std::nullopt, 40ms));
  EXPECT_EQ(up("island"), "0");
  EXPECT_EQ(series("quillmoor_uobjects{server=\"island\"}"), "absent");
  EXPECT_EQ(series("quillmoor_rcon_round_trip_seconds_count{server=\"island\"}"), "3");

  // Log lines: only the plugin's two kinds, whole, count; other triggers as "other".
  using formats::StructurePassMessage;
  std::string no_count = StructurePassMessage(9, 9, 0.2f, 0.1f);
  const auto count_at = no_count.find('9');  // the first count
  ASSERT_NE(count_at, std::string::npos);
  no_count[count_at] = 'x';
  for (const std::string& line : {
           StatsLine(36, StructurePassMessage(5, 7, 0.2f, 0.1f)),
           StatsLine(36, StructurePassMessage(9, 9, std::numeric_limits<float>::infinity(), 0.1f)),
           StatsLine(36, StructurePassMessage(9, 9, 0.2f, 0.1f) + " and more"),
           StatsLine(36, no_count),
           "[2026-12-07 17:0x:36] " + formats::ForcedCollectionMessage(formats::kAutoTimerTrigger),
           StatsLine(36, formats::ForcedCollectionMessage("someone")),
       }) {
    metrics.ObserveStatsLine("island", line);
  }
  EXPECT_EQ(series("quillmoor_structure_passes_total{server=\"island\"}"), "1");
  EXPECT_EQ(series("quillmoor_structures_applied{server=\"island\"}"), "5");
  EXPECT_EQ(series("quillmoor_structures_found{server=\"island\"}"), "7");
  EXPECT_EQ(series("quillmoor_gc_forced_total{server=\"island\",trigger=\"auto-timer\"}"), "1");
  EXPECT_EQ(series("quillmoor_gc_forced_total{server=\"island\",trigger=\"other\"}"), "1");

  // The other server was never touched; an unknown one changes nothing.
  metrics.Observe(Poll("nowhere", Status::kOk, 1));
  EXPECT_EQ(up("scorched"), "0");
  EXPECT_EQ(series("quillmoor_polls_total{server=\"scorched\",result=\"ok\"}"), "0");
  EXPECT_EQ(series("quillmoor_uobjects{server=\"nowhere\"}"), "absent");
}

TEST(FleetMetricsTest, SeriesStayFixedOverALongRun) {
  const std::vector<std::string> servers = {"a", "b", "c"};
  FleetMetrics metrics(servers, servers, "1");
  std::size_t after_five_rounds = 0;
  const std::vector<Sample> forced = {Forced("a"), Forced("b"), Forced("c")};
  for (int round = 0; round < 20'000; ++round) {
    for (const auto& f : forced) {
      const std::string& s = f.server;
      metrics.Observe(f);
      metrics.ObserveStatsLine(s, kGcLine);
      metrics.ObserveStatsLine(s, ForcedLine("x" + std::to_string(round)));
      metrics.ObserveStatsLine(s, StatsLine(36, formats::StructurePassMessage(5, 7, 0.2f, 0.1f)));
      metrics.Observe(Poll(s, static_cast<Status>(round % 4), 1000 + round % 7,
                           std::chrono::microseconds(round * 97 % 9'000'000)));
      metrics.Observe(Poll(s, Status::kOk, 2000 + round % 7));
    }
    // Every kind of series is there by the fifth round: the first drop needs
    // a count on either side of a collection.
    if (round == 4) {
      after_five_rounds = SeriesCount(Scrape(metrics));
    }
  }
  const std::string scrape = Scrape(metrics);
  EXPECT_EQ(after_five_rounds, FleetMetrics::kMaxSeriesPerServer * servers.size() + 1);
  EXPECT_EQ(SeriesCount(scrape), after_five_rounds);
  EXPECT_EQ(Value(scrape, "quillmoor_rcon_round_trip_seconds_count{server=\"a\"}"), "20000");
}

// A count is up only while it is recent: a stalled loop or a server that
// took the connection and went quiet cannot hold quillmoor_up at 1.
TEST(FleetMetricsTest, UpAndTheCountLastOnlyWhileTheCountIsRecent) {
  const Time polled = Poll("a", Status::kOk).time;
  const struct {
    std::chrono::milliseconds age;  // of the last count, when scraped
    const char* up;
    const char* objects;
  } cases[] = {
      {0ms, "1", "1000"},
      {15000ms, "1", "1000"},
      {15001ms, "0", "absent"},
      {3600000ms, "0", "absent"},
  };
  FleetMetrics metrics({"a"}, {"a"}, "1", 15000ms);
  metrics.Observe(Poll("a", Status::kOk, 1000));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.age.count());
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, metrics.Collect(polled + c.age));
    EXPECT_EQ(Value(out.str(), "quillmoor_up{server=\"a\"}"), c.up);
    EXPECT_EQ(Value(out.str(), "quillmoor_uobjects{server=\"a\"}"), c.objects);
    // When it was last polled and last answered stay, for the rules to age.
    EXPECT_EQ(Value(out.str(), "quillmoor_last_poll_timestamp_seconds{server=\"a\"}"),
              "1700000000.25");
    EXPECT_EQ(Value(out.str(), "quillmoor_last_success_timestamp_seconds{server=\"a\"}"),
              "1700000000.25");
  }
  // A log given up is said so; only a followed log can be.
  EXPECT_EQ(Value(Scrape(metrics), "quillmoor_stats_log_given_up{server=\"a\"}"), "0");
  metrics.GiveUpLog("a");
  metrics.GiveUpLog("b");
  EXPECT_EQ(Value(Scrape(metrics), "quillmoor_stats_log_given_up{server=\"a\"}"), "1");
  EXPECT_EQ(Value(Scrape(metrics), "quillmoor_stats_log_given_up{server=\"b\"}"), "absent");
}

TEST(FleetMetricsTest, AScrapeNeverSeesAServerHalfUpdated) {
  FleetMetrics metrics({"a"}, {}, "1");
  std::atomic<bool> done{false};
  std::atomic<int> scrapes{0}, torn{0};
  std::thread scraper([&] {
    while (!done) {
      const std::string scrape = Scrape(metrics);
      const bool up = Value(scrape, "quillmoor_up{server=\"a\"}") == "1";
      const bool counted = Value(scrape, "quillmoor_uobjects{server=\"a\"}") != "absent";
      torn += up != counted;
      ++scrapes;
    }
  });
  for (int i = 0; i < 200'000 || scrapes < 100; ++i) {
    metrics.Observe(Poll("a", i % 2 ? Status::kOk : Status::kDown,
                         i % 2 ? std::optional<std::int64_t>(i) : std::nullopt));
  }
  done = true;
  scraper.join();
  EXPECT_EQ(torn, 0) << "of " << scrapes << " scrapes";
}

// --- deploy/ against the exporter -----------------------------------------

// The metric names a scrape serves once every kind of series is there.
std::set<std::string> ServedNames() {
  FleetMetrics metrics({"island"}, {"island"}, "1");
  const std::string stamp = "[2026-12-07 17:04:34] ";
  metrics.Observe(Poll("island", Status::kOk, 1000, 33ms));
  metrics.Observe(Forced("island"));
  metrics.ObserveStatsLine("island",
                           stamp + formats::ForcedCollectionMessage(formats::kRconTrigger));
  metrics.ObserveStatsLine("island", stamp + formats::StructurePassMessage(5, 7, 0.2f, 0.1f));
  metrics.Observe(Poll("island", Status::kOk, 700, 33ms));
  std::set<std::string> names;
  std::istringstream in(Scrape(metrics));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') {
      names.insert(line.substr(0, line.find_first_of("{ ")));
    }
  }
  return names;
}

// Every quillmoor_ name in a file: the series its expressions select.
std::set<std::string> NamesUsedIn(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  EXPECT_TRUE(in) << file;
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  const auto word = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == ':';
  };
  std::set<std::string> names;
  for (std::size_t at = text.find("quillmoor_"); at != std::string::npos;
       at = text.find("quillmoor_", at + 1)) {
    if (at > 0 && word(text[at - 1])) {
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && word(text[end])) {
      ++end;
    }
    names.insert(text.substr(at, end - at));
  }
  return names;
}

// A rule or panel over a series the exporter does not serve is no error to
// Prometheus or Grafana: it is silently empty. So each name they use must be
// one a scrape holds.
TEST(DeployTest, EveryMetricTheRulesAndDashboardUseIsServed) {
  const std::set<std::string> served = ServedNames();
  ASSERT_TRUE(served.count("quillmoor_up")) << "the scrape reads back wrong";
  const fs::path deploy = QUILLMOOR_DEPLOY_DIR;
  for (const fs::path& file :
       {deploy / "prometheus/quillmoor-alerts.yml", deploy / "prometheus/quillmoor-alerts.test.yml",
        deploy / "grafana/quillmoor.json"}) {
    SCOPED_TRACE(file.string());
    const std::set<std::string> used = NamesUsedIn(file);
    EXPECT_FALSE(used.empty()) << "no metric found: the scan reads the file wrong";
    for (const std::string& name : used) {
      EXPECT_TRUE(served.count(name)) << name << " is not served by the exporter";
    }
  }
}

TEST(DeployTest, TheScanFindsNamesAndNothingElse) {
  const fs::path file = fs::temp_directory_path() / "quillmoor_deploy_scan_test.yml";
  {
    std::ofstream out(file, std::ios::binary);
    out << "expr: rate(quillmoor_polls_total{result=\"ok\"}[5m]) > quillmoor_up\n"
           "job: quillmoor-watch  # quillmoor alone\n"
           "record: job:quillmoor_up:sum  not_quillmoor_x\n"
           "\"expr\": \"quillmoor_rcon_round_trip_seconds_bucket\"";
  }
  EXPECT_EQ(NamesUsedIn(file), (std::set<std::string>{"quillmoor_polls_total", "quillmoor_up",
                                                      "quillmoor_rcon_round_trip_seconds_bucket"}));
  fs::remove(file);
}

// --- MetricsSink --------------------------------------------------------

class Silent final : public Reporter {
 public:
  void Note(std::string_view) override {}
  void Fail(std::string_view text) override { failures.emplace_back(text); }
  std::vector<std::string> failures;
};

TEST(MetricsSinkTest, APortInUseOrAnotherMachinesAddressSaysWhy) {
  asio::io_context io;
  asio::ip::tcp::acceptor taken(io, {asio::ip::address_v4::loopback(), 0});
  const struct {
    ListenAddress address;
    const char* reason;
  } cases[] = {
      {{"127.0.0.1", taken.local_endpoint().port()}, "Address already in use"},
      {{"192.0.2.1", 9764}, "Cannot assign requested address"},  // TEST-NET-1
  };
  for (const auto& c : cases) {
    WatchOptions options;
    options.servers = {{"a", "127.0.0.1", 1, "pw"}};
    options.metrics = c.address;
    Silent reporter;
    try {
      MetricsSink sink(options, reporter);
      ADD_FAILURE() << "listening on " << FormatListenAddress(c.address);
    } catch (const ListenError& e) {
      EXPECT_EQ(e.what(), fmt::format("--metrics: cannot listen on {}: {}",
                                      FormatListenAddress(c.address), c.reason));
    }
  }
}

// --- StatsLogFollower ---------------------------------------------------

class FollowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quillmoor-follow-test-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Append(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary | std::ios::app) << text;
  }
  fs::path Live() const { return dir_ / formats::kStatsLogFile; }
  fs::path dir_;
};

using Lines = std::vector<std::string>;

TEST_F(FollowerTest, OnlyLinesWrittenSinceStartEachOnceWhenWhole) {
  Append(Live(), "before 1\r\nbefore 2\r\n");
  StatsLogFollower follower(Live());
  ASSERT_TRUE(follower.Start());
  EXPECT_EQ(follower.ReadNew(), Lines{});
  Append(Live(), "one\r\ntw");
  EXPECT_EQ(follower.ReadNew(), Lines{"one"});
  Append(Live(), "o\r\n");
  EXPECT_EQ(follower.ReadNew(), Lines{"two"});
  // A line longer than the limit is dropped, the next one kept.
  Append(Live(), std::string(StatsLogFollower::kMaxLine + 1, 'x'));
  EXPECT_EQ(follower.ReadNew(), Lines{});
  Append(Live(), "x\r\nthree\r\n" + std::string(StatsLogFollower::kMaxLine, 'y') + "\n");
  EXPECT_EQ(follower.ReadNew(), (Lines{"three", std::string(StatsLogFollower::kMaxLine, 'y')}));
}

TEST_F(FollowerTest, ARotatedFileIsReadToItsEndThenTheNewOneFromItsStart) {
  StatsLogFollower follower(Live());
  EXPECT_FALSE(follower.Start());  // not there yet: everything in it is new
  Append(Live(), "a\r\n");
  EXPECT_EQ(follower.ReadNew(), Lines{"a"});

  // The plugin's rotation: the last line goes into the old file, which is
  // renamed; the next line begins a new file.
  Append(Live(), "b\r\n");
  fs::rename(Live(), dir_ / "Quillmoor_stats.1.log");
  EXPECT_EQ(follower.ReadNew(), Lines{"b"});
  Append(Live(), "c\r\n");
  EXPECT_EQ(follower.ReadNew(), Lines{"c"});

  // Rotated between two reads, lines in both files.
  Append(Live(), "d\r\n");
  fs::rename(Live(), dir_ / "Quillmoor_stats.1.log");
  Append(Live(), "e\r\n");
  EXPECT_EQ(follower.ReadNew(), (Lines{"d", "e"}));

  // Cut short in place: read again from the start.
  Append(Live(), "f\r\n");
  EXPECT_EQ(follower.ReadNew(), Lines{"f"});
  fs::resize_file(Live(), 0);
  Append(Live(), "g\r\n");
  EXPECT_EQ(follower.ReadNew(), Lines{"g"});
}

TEST_F(FollowerTest, OnlyARegularFileIsRead) {
  fs::create_directory(dir_ / "folder");
  Append(dir_ / "target.log", "line\r\n");
  fs::create_symlink(dir_ / "target.log", dir_ / "link.log");
  ASSERT_EQ(::mkfifo((dir_ / "fifo.log").c_str(), 0600), 0);
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"folder", "is not a regular file"},
      {"link.log", "is a symbolic link, which is not followed"},
      {"fifo.log", "is not a regular file"},
  };
  for (const auto& c : cases) {
    StatsLogFollower follower(dir_ / c.name);
    try {
      follower.Start();
      ADD_FAILURE() << c.name;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(e.what(), fmt::format("statistics log {}: {}", (dir_ / c.name).string(), c.reason));
    }
  }
  // Put in the log's place after the start.
  StatsLogFollower follower(Live());
  ASSERT_FALSE(follower.Start());
  fs::create_symlink(dir_ / "target.log", Live());
  EXPECT_THROW(follower.ReadNew(), std::runtime_error);
}

}  // namespace
}  // namespace watch
