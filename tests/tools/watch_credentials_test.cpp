// The --server password from a systemd credential: the environment first,
// then the credentials folder; a credential that is there but unusable is an
// error that names the file and never shows what it holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "support/files.h"
#include "watch/credentials.h"

namespace watch {
namespace {

namespace fs = std::filesystem;

class CredentialsTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) {
    std::ofstream(dir_ / kPasswordCredential, std::ios::binary) << text;
  }
  quillmoor_test::TempDir temp_;
  const fs::path dir_ = temp_.path();
};

TEST_F(CredentialsTest, PasswordComesFromTheEnvironmentThenTheCredential) {
  struct Case {
    const char* what;
    const char* environment;
    bool use_folder;
    std::optional<std::string> file;  // none: no credential file
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"environment wins over the file", "from-env", true, "from-file", "from-env"},
      {"an empty variable is still set", "", true, "from-file", ""},
      {"no variable, no folder", nullptr, false, std::nullopt, std::nullopt},
      {"folder without the credential", nullptr, true, std::nullopt, std::nullopt},
      {"the file as written", nullptr, true, "s3cret", "s3cret"},
      {"one LF is the file's end, not the password", nullptr, true, "s3cret\n", "s3cret"},
      {"CR LF too", nullptr, true, "s3cret\r\n", "s3cret"},
      {"only one line break goes", nullptr, true, "s3cret\n\n", "s3cret\n"},
      {"blanks inside and around stay", nullptr, true, " a b ", " a b "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(dir_ / kPasswordCredential);
    if (c.file) {
      Write(*c.file);
    }
    const std::string folder = dir_.string();
    EXPECT_EQ(ServerPassword(c.environment, c.use_folder ? folder.c_str() : nullptr), c.expected);
  }
}

TEST_F(CredentialsTest, AnUnusableCredentialIsAnErrorThatShowsNoSecret) {
  struct Case {
    const char* what;
    void (*make)(const fs::path& file);
  };
  const Case cases[] = {
      {"empty", [](const fs::path& f) { std::ofstream(f) << ""; }},
      {"only a line break", [](const fs::path& f) { std::ofstream(f) << "\n"; }},
      {"a folder", [](const fs::path& f) { fs::create_directory(f); }},
      {"a link to nowhere", [](const fs::path& f) { fs::create_symlink(f.string() + "-gone", f); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / kPasswordCredential);
    c.make(dir_ / kPasswordCredential);
    const std::string folder = dir_.string();
    try {
      ServerPassword(nullptr, folder.c_str());
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(kPasswordCredential), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace watch
