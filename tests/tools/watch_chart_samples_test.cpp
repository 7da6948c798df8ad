// The chart's observations over a long run: memory stays under the limit,
// and what the chart marks survives the thinning (forced collections, an
// outage's first and last failure, the first answer after it).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "watch/chart_samples.h"

namespace watch {
namespace {

Sample At(int second, const std::string& server, Status status) {
  Sample s{Time(std::chrono::seconds(1'700'000'000 + second)), server, std::nullopt, status,
           "reason"};
  if (status == Status::kOk) {
    s.objects = 1000 + second;
  }
  return s;
}

TEST(ChartSamplesTest, ALongRunStaysUnderTheLimitAndKeepsWhatTheChartMarks) {
  const struct {
    std::size_t limit;
    int polls;  // per server, one a second
    std::size_t stride;
  } cases[] = {{1000, 400, 1}, {1000, 5000, 16}, {400, 20000, 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.polls);
    ChartSamples chart(c.limit);
    std::vector<Sample> marked;  // what must survive
    for (int t = 0; t < c.polls; ++t) {
      for (const std::string server : {"island", "scorched"}) {
        // island is down for the middle tenth of the run, with a forced
        // collection every 97 polls; scorched always answers.
        const bool down = server == "island" && t >= c.polls * 45 / 100 && t < c.polls * 55 / 100;
        const bool back = server == "island" && t == c.polls * 55 / 100;
        const Sample s = At(t, server, down ? Status::kDown : Status::kOk);
        if (down && (t == c.polls * 45 / 100 || t == c.polls * 55 / 100 - 1)) {
          marked.push_back(s);
        }
        if (back) {
          marked.push_back(s);
        }
        chart.Add(s);
        if (server == "island" && t % 97 == 0) {
          marked.push_back(At(t, server, Status::kForcedGc));
          chart.Add(marked.back());
        }
        ASSERT_LE(chart.samples().size(), c.limit);
      }
    }
    EXPECT_EQ(chart.stride(), c.stride);
    const auto& kept = chart.samples();
    for (const auto& m : marked) {
      EXPECT_TRUE(std::any_of(kept.begin(), kept.end(),
                              [&](const Sample& k) {
                                return k.time == m.time && k.server == m.server &&
                                       k.status == m.status;
                              }))
          << StatusName(m.status) << " at " << FormatTime(m.time);
    }
    // Both servers keep a line across the whole run.
    for (const std::string server : {"island", "scorched"}) {
      const auto counts = std::count_if(kept.begin(), kept.end(), [&](const Sample& k) {
        return k.server == server && k.status == Status::kOk;
      });
      EXPECT_GE(static_cast<std::size_t>(counts), c.limit / 8) << server;
    }
  }
}

}  // namespace
}  // namespace watch
