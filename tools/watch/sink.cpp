#include "watch/sink.h"

#include <exception>
#include <string>

#include <fmt/format.h>
#include <fmt/ostream.h>

namespace watch {

// A failed sink leaves an empty slot rather than being erased: a failure is
// reported through Fail, which walks the sinks again while the outer walk
// is still under way.
template <typename Call>
void Outputs::ForEach(Call call) {
  for (auto& sink : sinks_) {
    if (!sink) {
      continue;
    }
    std::string failure;
    try {
      call(*sink);
      continue;
    } catch (const std::exception& e) {
      failure = e.what();
    }
    sink.reset();
    Fail(failure);
  }
}

void Outputs::Attach(std::unique_ptr<Sink> sink) {
  sinks_.push_back(std::move(sink));
}

void Outputs::Start() {
  ForEach([](Sink& s) { s.Start(); });
}

void Outputs::Add(const Sample& sample) {
  ForEach([&](Sink& s) { s.Add(sample); });
}

void Outputs::Finish() {
  ForEach([](Sink& s) { s.Finish(); });
}

void Outputs::Note(std::string_view text) {
  fmt::print(err_, "quillmoor-watch: {}\n", text);
  err_.flush();
  ForEach([](Sink& s) { s.Interrupted(); });
}

void Outputs::Fail(std::string_view text) {
  failed_ = true;
  Note(text);
}

}  // namespace watch
