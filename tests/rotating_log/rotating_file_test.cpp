// The rotating log file as its owners rely on it: a rotation that cannot
// happen keeps every line and is reported once, and nothing but a regular
// file is ever opened, without following a link or waiting on a FIFO.
#include "rotating_log/rotating_file.h"

#include <gtest/gtest.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include "support/files.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>
#endif

namespace {

namespace fs = std::filesystem;
using quillmoor_test::ReadFile;
using quillmoor_test::TempDir;
using quillmoor_test::WriteFile;
using rotating_log::RotatingFile;

constexpr std::size_t kLimit = 100;
const std::string kHistory(90, 'h');
const std::string kLine = "a line of twenty B.\n";  // each one takes the file past kLimit

fs::path Live(const TempDir& dir) {
  return dir.path() / "a.log";
}
fs::path Numbered(const TempDir& dir, int n) {
  return dir.path() / ("a." + std::to_string(n) + ".log");
}

// Reports seen while three lines are written with the rotation blocked and
// one more after it is lifted, as failures * 10 + recoveries.
int WriteAcrossABlock(const fs::path& live, const std::function<void()>& block,
                      const std::function<void()>& lift) {
  RotatingFile file(live, kLimit, 3);
  int reports = 0;
  auto write = [&] {
    file.Write(kLine);
    if (auto news = file.TakeNews()) {
      reports += news->failed ? 10 : 1;
    }
  };
  block();
  write();
  write();
  write();
  lift();
  write();
  return reports;
}

struct BlockCase {
  const char* name;
  // Sets up the block in `dir`; returns the code that blocks and lifts it,
  // run where the log is written.
  std::function<std::pair<std::function<void()>, std::function<void()>>(const TempDir& dir)> make;
  bool unprivileged = false;  // written by a user that root's rights do not mask
};

class RotationBlockedTest : public ::testing::TestWithParam<BlockCase> {};

// a.2.log must move to a.3.log first; until it can, a.log takes every line.
TEST_P(RotationBlockedTest, EveryLineStaysAndEachChangeIsReportedOnce) {
  TempDir dir;
  WriteFile(Live(dir), kHistory);
  WriteFile(Numbered(dir, 2), "older");
  auto [block, lift] = GetParam().make(dir);
  int reports = -1;
#if !defined(_WIN32)
  if (GetParam().unprivileged && geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    const group* nogroup = getgrnam("nogroup");
    ASSERT_TRUE(nobody != nullptr && nogroup != nullptr);
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      ASSERT_EQ(chown(entry.path().c_str(), nobody->pw_uid, nogroup->gr_gid), 0);
    }
    ASSERT_EQ(chown(dir.path().c_str(), nobody->pw_uid, nogroup->gr_gid), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const bool dropped =
          setgroups(0, nullptr) == 0 && setgid(nogroup->gr_gid) == 0 && setuid(nobody->pw_uid) == 0;
      int code = 99;
      try {
        code = dropped ? WriteAcrossABlock(Live(dir), block, lift) : 98;
      } catch (...) {
      }
      _exit(code);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    reports = WEXITSTATUS(status);
  }
#endif
  if (reports < 0) {
    reports = WriteAcrossABlock(Live(dir), block, lift);
  }
  EXPECT_EQ(reports, 11) << "one failure for three lines, then one recovery";
  EXPECT_EQ(ReadFile(Numbered(dir, 1)), kHistory + kLine + kLine + kLine);
  EXPECT_EQ(ReadFile(Numbered(dir, 3)), "older");
  EXPECT_EQ(ReadFile(Live(dir)), kLine);
}

std::function<void()> Nothing() {
  return [] {};
}

const BlockCase kBlocks[] = {
    BlockCase{"AFolderInTheWayOfARotatedName",
              [](const TempDir& dir) {
                fs::create_directories(Numbered(dir, 3) / "kept");
                return std::pair{Nothing(), std::function<void()>([target = Numbered(dir, 3)] {
                                   fs::remove_all(target);
                                 })};
              }},
#if defined(_WIN32)
    // A viewer or an antivirus holding a rotated file without delete
    // sharing.
    BlockCase{"ARotatedFileHeldOpen",
              [](const TempDir& dir) {
                auto held = std::make_shared<HANDLE>(INVALID_HANDLE_VALUE);
                auto path = Numbered(dir, 2);
                return std::pair{std::function<void()>([held, path] {
                                   *held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                       nullptr, OPEN_EXISTING,
                                                       FILE_ATTRIBUTE_NORMAL, nullptr);
                                   ASSERT_NE(*held, INVALID_HANDLE_VALUE);
                                 }),
                                 std::function<void()>([held] { CloseHandle(*held); })};
              }}
#else
    BlockCase{"AFolderTheWriterMayNotChange",
              [](const TempDir& dir) {
                auto mode = [path = dir.path()](fs::perms p) {
                  return std::function<void()>([path, p] { fs::permissions(path, p); });
                };
                return std::pair{mode(fs::perms::owner_read | fs::perms::owner_exec),
                                 mode(fs::perms::owner_all)};
              },
              true}
#endif
};

INSTANTIATE_TEST_SUITE_P(Blocks, RotationBlockedTest, ::testing::ValuesIn(kBlocks),
                         [](const auto& row) { return std::string(row.param.name); });

// A failure of the file system itself, between the renames and the opening
// of the new live file: nothing moves, and the lines all stay.
struct SystemFailureCase {
  const char* name;
  // Prepares a folder under `dir` for the log; returns it with the code that
  // brings the failure on and the code that ends it. An empty folder skips.
  std::function<std::tuple<fs::path, std::function<void()>, std::function<void()>>(
      const TempDir& dir)>
      make;
};

class SystemFailureTest : public ::testing::TestWithParam<SystemFailureCase> {};

TEST_P(SystemFailureTest, NoGenerationIsLostAndTheLinesWaitInTheLiveFile) {
  TempDir dir;
  auto [folder, block, lift] = GetParam().make(dir);
  if (folder.empty()) {
    GTEST_SKIP() << "this system does not allow the failure to be brought on here";
  }
  const fs::path live = folder / "a.log";
  auto numbered = [&](int n) { return RotatingFile::Numbered(live, n); };
  // Room for one more file: rotation must open a new one, not reuse one
  // that a rename freed.
  WriteFile(live, kHistory);
  WriteFile(numbered(1), "one");
  WriteFile(numbered(2), "second");
  int failures = 0;
  int recoveries = 0;
  {
    RotatingFile file(live, kLimit, 3);
    auto write = [&] {
      file.Write(kLine);
      if (auto news = file.TakeNews()) {
        (news->failed ? failures : recoveries) += 1;
      }
    };
    block();
    for (int i = 0; i < 4; ++i) {
      write();
    }
    // Sizes only: with no descriptor left, nothing can be read.
    EXPECT_EQ(fs::file_size(live), kHistory.size() + 4 * kLine.size());
    EXPECT_EQ(fs::file_size(numbered(1)), 3u);
    EXPECT_EQ(fs::file_size(numbered(2)), 6u);
    EXPECT_FALSE(fs::exists(numbered(3)));
    lift();
    write();
  }
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(recoveries, 1);
  EXPECT_EQ(ReadFile(live), kLine);
  EXPECT_EQ(ReadFile(numbered(1)), kHistory + kLine + kLine + kLine + kLine);
  EXPECT_EQ(ReadFile(numbered(2)), "one");
  EXPECT_EQ(ReadFile(numbered(3)), "second");
}

#if !defined(_WIN32)
// The sanitizers test whether memory can be read (UBSan, the type of a
// caught exception) by writing it into a pipe: with no descriptor left that
// fails, and they report a fault of their own. The other suites cover it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Every descriptor below a lowered limit in use, until `lift`.
struct DescriptorFloor {
  rlimit saved{};
  bool lowered = false;
  std::vector<int> held;
  void Block() {
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    lowered = true;
    rlimit low = saved;
    low.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
      held.push_back(fd);
    }
    ASSERT_EQ(errno, EMFILE);
  }
  void Lift() {
    for (const int fd : held) {
      close(fd);
    }
    held.clear();
    // Only a limit that was lowered is put back: `saved` is zero until then,
    // and setting it would leave the process no descriptor at all.
    if (lowered) {
      setrlimit(RLIMIT_NOFILE, &saved);
      lowered = false;
    }
  }
  ~DescriptorFloor() { Lift(); }
};

// A tmpfs whose inodes the four files use up; unmounted with the test.
struct SmallFileSystem {
  fs::path at;
  bool mounted = false;
  explicit SmallFileSystem(fs::path where) : at(std::move(where)) {
    fs::create_directory(at);
    // The folder itself takes one inode, each of the three files another.
    mounted = mount("tmpfs", at.c_str(), "tmpfs", 0, "size=1m,nr_inodes=4") == 0;
  }
  void Grow() {
    ASSERT_EQ(mount("tmpfs", at.c_str(), "tmpfs", MS_REMOUNT, "size=1m,nr_inodes=8"), 0)
        << std::strerror(errno);
  }
  ~SmallFileSystem() {
    if (mounted) {
      umount2(at.c_str(), MNT_DETACH);
    }
  }
};
#endif

const SystemFailureCase kSystemFailures[] = {
#if defined(_WIN32)
    // A viewer holding the live file without delete sharing: the last
    // rename fails after the others are done.
    SystemFailureCase{"TheLiveFileHeldOpen",
                      [](const TempDir& dir) {
                        auto held = std::make_shared<HANDLE>(INVALID_HANDLE_VALUE);
                        const fs::path live = dir.path() / "a.log";
                        return std::tuple{dir.path(), std::function<void()>([held, live] {
                                            *held = CreateFileW(live.c_str(), GENERIC_READ,
                                                                FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                                nullptr, OPEN_EXISTING,
                                                                FILE_ATTRIBUTE_NORMAL, nullptr);
                                            ASSERT_NE(*held, INVALID_HANDLE_VALUE);
                                          }),
                                          std::function<void()>([held] { CloseHandle(*held); })};
                      }},
#else
    SystemFailureCase{"NoDescriptorLeft",
                      [](const TempDir& dir) {
                        auto floor = std::make_shared<DescriptorFloor>();
                        return std::tuple{kSanitized ? fs::path() : dir.path(),
                                          std::function<void()>([floor] { floor->Block(); }),
                                          std::function<void()>([floor] { floor->Lift(); })};
                      }},
    SystemFailureCase{"NoInodeLeft",
                      [](const TempDir& dir) {
                        // Unmounted when the test lets go of the lift.
                        auto small = std::make_shared<SmallFileSystem>(dir.path() / "small");
                        return std::tuple{small->mounted ? small->at : fs::path(), Nothing(),
                                          std::function<void()>([small] { small->Grow(); })};
                      }},
#endif
};

INSTANTIATE_TEST_SUITE_P(Failures, SystemFailureTest, ::testing::ValuesIn(kSystemFailures),
                         [](const auto& row) { return std::string(row.param.name); });

struct RefusalCase {
  const char* name;
  // Puts something at `live`; what it returns is held while the log opens.
  std::function<std::shared_ptr<void>(const fs::path& live)> plant;
  const char* reason;               // in the error
  const char* file_name = "a.log";  // of the live file
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, OnlyARegularFileIsOpenedAndNothingIsWrittenThrough) {
  TempDir dir;
  const fs::path live = dir.path() / GetParam().file_name;
  const fs::path target = dir.path() / "target";
  WriteFile(target, "someone else's");
  auto held = GetParam().plant(live);
  try {
    RotatingFile file(live, kLimit, 3);
    ADD_FAILURE() << "opened";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().reason), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(target), "someone else's");
  EXPECT_FALSE(fs::exists(dir.path() / "absent"));
}

const RefusalCase kRefusals[] = {
#if defined(_WIN32)
    // The name of a device in every folder.
    RefusalCase{"TheNulDevice", [](const fs::path&) { return nullptr; }, "a device", "NUL"}
#else
    RefusalCase{"ALinkToAFile",
                [](const fs::path& live) {
                  fs::create_symlink(live.parent_path() / "target", live);
                  return nullptr;
                },
                "a symbolic link"},
    RefusalCase{"ADanglingLink",
                [](const fs::path& live) {
                  fs::create_symlink(live.parent_path() / "absent", live);
                  return nullptr;
                },
                "a symbolic link"},
    RefusalCase{"AFifoWithoutAReader",
                [](const fs::path& live) {
                  EXPECT_EQ(mkfifo(live.c_str(), 0600), 0);
                  return nullptr;
                },
                "a FIFO"},
    RefusalCase{"AFifoWithAReader",
                [](const fs::path& live) -> std::shared_ptr<void> {
                  EXPECT_EQ(mkfifo(live.c_str(), 0600), 0);
                  const int fd = open(live.c_str(), O_RDONLY | O_NONBLOCK);
                  EXPECT_GE(fd, 0);
                  return std::shared_ptr<void>(nullptr, [fd](void*) { close(fd); });
                },
                "a FIFO"},
    // Opening one fails as a FIFO without a reader does: it must still be
    // named for what it is.
    RefusalCase{"AListeningSocket",
                [](const fs::path& live) -> std::shared_ptr<void> {
                  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
                  sockaddr_un address{};
                  address.sun_family = AF_UNIX;
                  EXPECT_LT(live.native().size(), sizeof address.sun_path);
                  live.native().copy(address.sun_path, sizeof address.sun_path - 1);
                  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
                  return std::shared_ptr<void>(nullptr, [fd](void*) { close(fd); });
                },
                "a socket"},
    RefusalCase{"AFolder",
                [](const fs::path& live) {
                  fs::create_directory(live);
                  return nullptr;
                },
                "cannot open"}
#endif
};

INSTANTIATE_TEST_SUITE_P(Kinds, RefusalTest, ::testing::ValuesIn(kRefusals),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
