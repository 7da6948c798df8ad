// Files for tests that need no host: a fresh folder, whole-file reads and
// writes, text as this system's text-mode streams store it.
#pragma once

#include <filesystem>
#include <string>

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

}  // namespace quillmoor_test
