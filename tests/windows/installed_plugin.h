// A fixture for Windows-only tests: a devhost whose server directory may lie
// below folders with spaces and non-ASCII letters, and the built
// Quillmoor.dll installed into a folder and loaded with LoadLibraryW, as the
// framework does on a Windows server.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <string>

#include "devhost/host.h"
#include "support/host_test.h"

namespace quillmoor_test {

class InstalledPluginTest : public HostTest {
 protected:
  // Moves the server directory to `relative` below the test's folder (made
  // here, with its plugin folder) and starts the host again there.
  void UseServerDir(const std::filesystem::path& relative) {
    server_dir_ = ServerDir() / relative;
    std::filesystem::create_directories(PluginFolder());
    RestartHost();
  }
  std::filesystem::path PluginFolder() const {
    return Server() / "ArkApi" / "Plugins" / "Quillmoor";
  }
  std::filesystem::path Server() const { return server_dir_.empty() ? ServerDir() : server_dir_; }

  // Copies the built library into `folder` (created if needed); its path.
  std::filesystem::path Install(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    const auto target = folder / "Quillmoor.dll";
    std::filesystem::copy_file(QUILLMOOR_PLUGIN_PATH, target,
                               std::filesystem::copy_options::overwrite_existing);
    return target;
  }
  void LoadFrom(const std::filesystem::path& library) { host().LoadPlugin(library); }
  void Unload() { ASSERT_TRUE(host().UnloadPlugin("Quillmoor")); }

  long Count(const std::string& message) const {
    long n = 0;
    for (const auto& m : Messages()) {
      n += m == message ? 1 : 0;
    }
    return n;
  }

 private:
  void Configure(devhost::HostOptions& options) override {
    if (!server_dir_.empty()) {
      options.server_dir = server_dir_;
    }
  }
  std::filesystem::path server_dir_;
};

// Names a parameterised case after its row's `name`.
template <typename Row>
std::string CaseName(const ::testing::TestParamInfo<Row>& row) {
  return row.param.name;
}

// Holds a file open as another program can: CreateFileW with only read
// sharing, so that nobody may write, rename or delete it meanwhile. Sharing
// is checked per open handle, so holding it in this process is the same.
class HeldOpen {
 public:
  explicit HeldOpen(const std::filesystem::path& path)
      : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
  }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

}  // namespace quillmoor_test
