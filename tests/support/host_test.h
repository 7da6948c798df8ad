// A test fixture over a running devhost::Host in a fresh server directory,
// with the plugin's host log channel made on the host's sinks (in programs
// that link the plugin's code) and every line kept in memory. Tests call the plugin's code directly
// and read the effects off the host.
#pragma once

#include <gtest/gtest.h>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "devhost/host.h"
#include "support/build_paths.h"
#include "support/files.h"

namespace quillmoor_test {

// What the program's own copy of the plugin's code keeps on the host: called
// after each host starts and before it stops. A program links one of
// support/plugin_code.cpp (the plugin's host log channel and statistics log)
// and support/devhost_only.cpp (nothing), so that one which tests the devhost
// alone links none of the plugin's folders.
void OnHostStarted();
void OnHostStopping();

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
