// A test fixture over a running devhost::Host in a fresh server directory,
// with the plugin's host log channel made on the host's sinks and every line
// kept in memory. Tests call the plugin's code directly and read the effects
// off the host.
#pragma once

#include <gtest/gtest.h>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "devhost/host.h"
#include "support/build_paths.h"

namespace quillmoor_test {

// A fresh, empty directory that is removed again with the object.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// `text` as a text-mode stream of this system stores it: each line feed
// becomes CR LF on Windows; elsewhere nothing changes.
std::string TextMode(const std::string& text);

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Override to change the host's options before it starts.
  virtual void Configure(devhost::HostOptions& /*options*/) {}
  // Starts the host again, with Configure() applied once more.
  void RestartHost();

  devhost::Host& host() { return *host_; }
  const std::filesystem::path& ServerDir() const { return dir_.path(); }
  std::filesystem::path PluginDir() const { return dir_.path() / "ArkApi/Plugins/Quillmoor"; }
  // The plugin folder as the plugin spells it in log lines: the server
  // directory as the framework gives it, then "/ArkApi/Plugins/Quillmoor"
  // (on Windows too).
  std::string PluginDirText() const { return dir_.path().string() + "/ArkApi/Plugins/Quillmoor"; }
  // The plugin's host log messages so far ("[Quillmoor] ..." lines).
  std::vector<std::string> Messages() const { return host_->log().Messages("Quillmoor"); }
  // Messages of one level ("info", "warning", "error").
  std::vector<std::string> MessagesAt(const std::string& level) const;
  bool Logged(const std::string& message) const { return host_->log().Contains(message); }

 private:
  TempDir dir_;
  std::unique_ptr<devhost::Host> host_;
};

}  // namespace quillmoor_test
