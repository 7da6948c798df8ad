// The host log's sinks as LogOptions choose them: the in-memory capture only
// when asked for. (The file's rotation is checked end to end, through the
// dev server's options.)
#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <stdexcept>
#include <string>

#include "devhost/log.h"
#include "support/host_test.h"

namespace {

TEST(HostLogTest, WithoutCaptureNothingIsKeptAndReadingItIsRefused) {
  quillmoor_test::TempDir dir;
  devhost::LogOptions options;
  options.file = dir.path() / "ArkApi.log";
  devhost::HostLog log(options);
  log.Host().info("kept in the file only");
  EXPECT_THROW(log.Lines(), std::logic_error);
  EXPECT_THROW(log.Messages("AsaApi"), std::logic_error);
  EXPECT_THROW(log.Contains("kept in the file only"), std::logic_error);
  log.ClearCapture();
  EXPECT_NE(quillmoor_test::ReadFile(options.file).find("[AsaApi][info] kept in the file only"),
            std::string::npos);
}

}  // namespace
