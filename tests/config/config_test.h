// A fixture for the configuration loader: the devhost's plugin folder with
// helpers to write PluginConfig.json and read the files back.
#pragma once

#include <gtest/gtest.h>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "config/config.h"
#include "config/default_document.h"
#include "config/guide.h"
#include "config/loader.h"
#include "support/host_test.h"

namespace quillmoor_test {

inline std::string Golden(const std::string& name) {
  return ReadFile(std::filesystem::path(QUILLMOOR_GOLDEN_DIR) / name);
}

// The two documents as the code builds them, in the bytes a file gets here.
// Only default_document_test.cpp holds them against the golden files; every
// other test compares with these, so that a changed default fails the tests
// about the documents and no test about loading or files.
inline std::string DefaultsText() {
  return TextMode(Quillmoor::BuildDefaultDocument(Quillmoor::Config{}).dump(2));
}
inline std::string GuideText() {
  return TextMode(Quillmoor::BuildGuideDocument().dump(2));
}

// The defaults document with `patch` merged in (a null removes a key).
inline std::string DefaultsWith(const nlohmann::json& patch) {
  auto doc = Quillmoor::BuildDefaultDocument(Quillmoor::Config{});
  doc.merge_patch(patch);
  return doc.dump(2);
}

// Names a parameterised case after its row's `name`.
template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& row) {
  return row.param.name;
}

class ConfigTest : public HostTest {
 protected:
  std::filesystem::path ConfigPath() const { return PluginDir() / "PluginConfig.json"; }
  std::filesystem::path BackupPath() const { return PluginDir() / "PluginConfig.json.bak"; }
  std::filesystem::path GuidePath() const { return PluginDir() / "PluginConfig.guide.json"; }
  void WriteConfig(const std::string& text) { WriteFile(ConfigPath(), text); }
  Quillmoor::Config Load() const { return Quillmoor::LoadConfig(PluginDirText()); }
  std::string ConfigPathText() const { return PluginDirText() + "/PluginConfig.json"; }
  std::string BackupPathText() const { return PluginDirText() + "/PluginConfig.json.bak"; }
};

}  // namespace quillmoor_test
