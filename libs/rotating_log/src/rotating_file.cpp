#include "rotating_log/rotating_file.h"

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "log_file.h"

namespace rotating_log {

namespace fs = std::filesystem;

RotatingFile::RotatingFile(fs::path path, std::size_t max_size, std::size_t max_files)
    : path_(std::move(path)), max_size_(max_size), max_files_(max_files) {
  if (max_size_ == 0) {
    throw std::invalid_argument("rotating log: the largest size must be at least 1 byte");
  }
  if (max_files_ > 200000) {
    throw std::invalid_argument("rotating log: at most 200000 rotated files are kept");
  }
  file_ = std::make_unique<detail::LogFile>(path_);
  size_ = file_->Size();
}

RotatingFile::~RotatingFile() = default;

fs::path RotatingFile::Numbered(const fs::path& path, std::size_t index) {
  if (index == 0) {
    return path;
  }
  fs::path name = path.stem();
  name += "." + std::to_string(index);
  name += path.extension();
  fs::path out = path;
  // replace_filename keeps the separators of the rest as they were given.
  out.replace_filename(name);
  return out;
}

void RotatingFile::Write(std::string_view line) {
  // A line that makes the file exactly the limit stays in it. The real size
  // is asked only past the limit: an empty file is not rotated away (a line
  // longer than the limit, or a disk so full that nothing got written).
  if (size_ + line.size() > max_size_ && file_->Size() > 0 && Rotate()) {
    size_ = file_->Size();
  }
  file_->Append(line, size_);
}

bool RotatingFile::Rotate() {
  // All or nothing: a set moved up without a new live file would be moved up
  // again by the next line, and again, until the oldest files were renamed
  // over and the one still being written went with them. So every rename
  // done is undone, newest first, when a later step fails.
  if (max_files_ == 0) {
    try {
      file_->Truncate();
    } catch (const std::exception& e) {
      Failed(e.what());
      return false;
    }
    return Recovered();
  }
  std::vector<std::size_t> moved;  // i: file i-1 went to i
  std::string why;
  // Oldest first, so that each rename has a free name to go to.
  for (std::size_t i = max_files_; i > 0 && why.empty(); --i) {
    const fs::path from = Numbered(path_, i - 1);
    if (!detail::Exists(from)) {
      continue;
    }
    why = detail::Rename(from, Numbered(path_, i));
    if (why.empty()) {
      moved.push_back(i);
    }
  }
  if (why.empty()) {
    try {
      // The old live file, now number 1, is closed only once its successor
      // is open: until then the lines go on into it.
      file_ = std::make_unique<detail::LogFile>(path_);
      return Recovered();
    } catch (const std::exception& e) {
      why = e.what();
    }
  }
  for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
    // A rename back needs neither a descriptor nor an inode; should one fail
    // all the same, the files are still all there, one number up.
    if (std::string back = detail::Rename(Numbered(path_, *it), Numbered(path_, *it - 1));
        !back.empty()) {
      why += "; then " + back + ", so the rotated files are one number up";
      break;
    }
  }
  Failed(std::move(why));
  return false;
}

bool RotatingFile::Recovered() {
  if (!failure_.empty()) {
    failure_.clear();
    news_ = RotationNews{false, {}};
  }
  return true;
}

void RotatingFile::Failed(std::string why) {
  if (why != failure_) {
    failure_ = why;
    news_ = RotationNews{true, std::move(why)};
  }
}

std::optional<RotationNews> RotatingFile::TakeNews() {
  return std::exchange(news_, std::nullopt);
}

std::string PathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace rotating_log
