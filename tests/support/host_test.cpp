#include "support/host_test.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/log.h"
#include "stats/stats_logger.h"

namespace quillmoor_test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "quillmoor-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    throw std::runtime_error("cannot write " + path.string());
  }
  out << bytes;
}

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
  Quillmoor::CreateHostLogger();
}

void HostTest::TearDown() {
  Quillmoor::StatsLogger::Shutdown();
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
