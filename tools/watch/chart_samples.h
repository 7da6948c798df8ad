// The observations a live run keeps for its chart, in bounded memory: past
// a limit, every other count of each server is let go and only one in two,
// then four, ... is kept from then on, so that a run of days costs no more
// than a run of hours, at a coarser line. What the chart marks is never let
// go: a forced collection, the first answer after an outage, the start and
// the end of an outage (the observations between them are). One thread.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "watch/sample.h"

namespace watch {

class ChartSamples {
 public:
  // About 11 MB of observations.
  static constexpr std::size_t kDefaultLimit = 100'000;

  explicit ChartSamples(std::size_t limit = kDefaultLimit) : limit_(limit) {}

  void Add(const Sample& sample);

  // What is kept, in the order it was added, except that an outage's last
  // failure takes the place of the one before.
  const std::vector<Sample>& samples() const { return samples_; }
  // One count in `stride()` of each server is kept.
  std::size_t stride() const { return stride_; }

 private:
  struct Server {
    std::size_t counts = 0;     // kOk seen since the last kept one
    std::size_t last_kept = 0;  // index in samples_ of its last kept sample
    bool any_kept = false;
    std::size_t failed_run = 0;  // failed polls in a row kept, up to 2
  };

  // Halves every server's counts; false when there was none to let go.
  bool Thin();

  std::size_t limit_;
  std::size_t stride_ = 1;
  std::vector<Sample> samples_;
  std::map<std::string, Server> servers_;
};

}  // namespace watch
