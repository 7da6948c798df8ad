#include "watch/chart_samples.h"

namespace watch {

namespace {

bool Failed(Status status) {
  return status == Status::kDown || status == Status::kError || status == Status::kAuthFailed;
}

}  // namespace

void ChartSamples::Add(const Sample& sample) {
  Sample kept = sample;
  kept.detail.clear();  // the chart draws no reasons
  Server& s = servers_[sample.server];
  if (sample.status == Status::kOk) {
    const bool comeback = s.failed_run > 0;
    s.failed_run = 0;
    if (!comeback && s.any_kept && ++s.counts < stride_) {
      return;
    }
    s.counts = 0;
  } else if (Failed(sample.status)) {
    // An outage needs its first and its last failure: a later one replaces
    // the last instead of adding to it.
    if (s.failed_run >= 2 && samples_[s.last_kept].status == sample.status) {
      samples_[s.last_kept] = std::move(kept);
      return;
    }
    ++s.failed_run;
  }
  s.last_kept = samples_.size();
  s.any_kept = true;
  samples_.push_back(std::move(kept));
  // Marks alone past the limit are kept all the same: they are few.
  while (samples_.size() > limit_ && Thin()) {
  }
}

bool ChartSamples::Thin() {
  const std::size_t before = samples_.size();
  stride_ *= 2;
  std::vector<Sample> thinned;
  std::map<std::string, std::size_t> ordinal;  // each server's counts so far
  std::map<std::string, bool> after_failure;
  for (auto& sample : samples_) {
    if (sample.status == Status::kOk) {
      const bool comeback = after_failure[sample.server];
      after_failure[sample.server] = false;
      if (!comeback && ordinal[sample.server]++ % 2 == 1) {
        continue;
      }
    } else if (Failed(sample.status)) {
      after_failure[sample.server] = true;
    }
    thinned.push_back(std::move(sample));
  }
  samples_ = std::move(thinned);
  for (auto& [name, server] : servers_) {
    server.any_kept = false;
  }
  for (std::size_t i = 0; i < samples_.size(); ++i) {
    Server& s = servers_[samples_[i].server];
    s.last_kept = i;
    s.any_kept = true;
  }
  return samples_.size() < before;
}

}  // namespace watch
