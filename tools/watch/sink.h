// The watcher's outputs: each is a Sink that takes every observation in turn
// and finishes when the run stops; Outputs hands observations to all of them
// and reports to the operator. Everything here runs on the watcher's one
// thread.
#pragma once

#include <memory>
#include <ostream>
#include <string_view>
#include <vector>

#include "watch/sample.h"

namespace watch {

// Lines for the operator on standard error, "quillmoor-watch: TEXT".
class Reporter {
 public:
  virtual ~Reporter() = default;
  // A result or a notice; the run's exit code is unchanged.
  virtual void Note(std::string_view text) = 0;
  // Something the operator asked for is missing or incomplete: the run ends
  // with kExitFailure.
  virtual void Fail(std::string_view text) = 0;
};

// One output. A member that throws std::exception has failed for good: its
// message is reported through Reporter::Fail, the sink is destroyed without
// being called again, and the other sinks go on.
class Sink {
 public:
  virtual ~Sink() = default;
  // Once, after every sink was built and before the first observation.
  virtual void Start() {}
  // Every observation, in the order they were made.
  virtual void Add(const Sample& sample) = 0;
  // A message was just written to standard error: a sink that redraws the
  // terminal in place must draw below it from now on.
  virtual void Interrupted() {}
  // Once, after the last observation.
  virtual void Finish() {}
};

// The sinks of one run, in the order they were attached, and the Reporter
// they share.
class Outputs final : public Reporter {
 public:
  explicit Outputs(std::ostream& err) : err_(err) {}
  Outputs(const Outputs&) = delete;
  Outputs& operator=(const Outputs&) = delete;

  void Attach(std::unique_ptr<Sink> sink);
  void Start();
  void Add(const Sample& sample);
  // REQUIRES: called once; no Add afterwards.
  void Finish();

  void Note(std::string_view text) override;
  void Fail(std::string_view text) override;
  // Whether anything failed: a sink, or what the loop reported with Fail.
  bool failed() const { return failed_; }

 private:
  template <typename Call>
  void ForEach(Call call);

  std::ostream& err_;
  std::vector<std::unique_ptr<Sink>> sinks_;
  bool failed_ = false;
};

}  // namespace watch
