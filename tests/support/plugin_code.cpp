#include "common/log.h"
#include "stats/stats_logger.h"
#include "support/host_test.h"

namespace quillmoor_test {

void OnHostStarted() {
  Quillmoor::CreateHostLogger();
}

// A test that started the statistics log must not leave its file open on the
// next test's host.
void OnHostStopping() {
  Quillmoor::StatsLogger::Shutdown();
}

}  // namespace quillmoor_test
