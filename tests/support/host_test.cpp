#include "support/host_test.h"

#include <cstdlib>
#include <stdexcept>

namespace quillmoor_test {

void HostTest::SetUp() {
  std::filesystem::create_directories(PluginDir());
  RestartHost();
}

void HostTest::RestartHost() {
  host_.reset();
  devhost::HostOptions options;
  options.server_dir = dir_.path();
  options.engine.structures = 0;
  options.engine.object_churn = 0;
  options.log.capture = true;
  Configure(options);
  host_ = std::make_unique<devhost::Host>(options);
  OnHostStarted();
}

void HostTest::TearDown() {
  OnHostStopping();
  host_.reset();
}

std::vector<std::string> HostTest::MessagesAt(const std::string& level) const {
  std::vector<std::string> out;
  for (auto& line : host_->log().Lines()) {
    if (line.logger == "Quillmoor" && line.level == level) {
      out.push_back(line.message);
    }
  }
  return out;
}

}  // namespace quillmoor_test
