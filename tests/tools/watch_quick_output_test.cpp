// The table's output never waits for its reader: a pipe nobody reads costs
// writes (dropped whole and counted), never the caller; a reader that keeps
// up gets every byte in order; a reader gone is told apart from a failure.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "watch/quick_output.h"

namespace watch {
namespace {

using namespace std::chrono_literals;

std::string ReadAll(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) {
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

TEST(QuickOutputTest, AReaderThatTakesNothingCostsWritesNeverTheWriter) {
  const struct {
    const char* name;
    bool read;           // the reader drains the pipe between writes
    bool close_reader;   // the reader is gone before the first write
    std::size_t writes;  // of 1 KiB each
    QuickOutput::Result last;
    bool drops;
  } cases[] = {
      {"never read", false, false, 2000, QuickOutput::Result::kDropped, true},
      {"kept up", true, false, 2000, QuickOutput::Result::kTaken, false},
      {"reader gone", false, true, 3, QuickOutput::Result::kClosed, false},
  };
  std::signal(SIGPIPE, SIG_IGN);  // as the watcher does
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    if (c.close_reader) {
      ::close(p[0]);
    }
    // The caller's descriptor stays blocking: only the output's own is not.
    const int flags = ::fcntl(p[1], F_GETFL);
    std::string received;
    {
      QuickOutput out(p[1], 16 * 1024);
      QuickOutput::Result last{};
      for (std::size_t i = 0; i < c.writes; ++i) {
        last = out.Write(std::string(1023, static_cast<char>('a' + i % 26)) + '\n');
        if (c.read) {
          const int rflags = ::fcntl(p[0], F_GETFL);
          ::fcntl(p[0], F_SETFL, rflags | O_NONBLOCK);
          received += ReadAll(p[0]);
          ::fcntl(p[0], F_SETFL, rflags);
        }
      }
      EXPECT_EQ(last, c.last);
      out.Drain(10ms);
      EXPECT_EQ(out.dropped() > 0, c.drops);
      EXPECT_EQ(out.closed(), c.close_reader);
      EXPECT_EQ(::fcntl(p[1], F_GETFL), flags);
    }
    ::close(p[1]);
    if (!c.close_reader) {
      received += ReadAll(p[0]);
      ::close(p[0]);
      // Whatever arrived came whole and in order.
      ASSERT_EQ(received.size() % 1024, 0u);
      for (std::size_t i = 1; i < received.size() / 1024; ++i) {
        const char prev = received[(i - 1) * 1024], cur = received[i * 1024];
        EXPECT_TRUE(c.drops || cur == static_cast<char>('a' + (prev - 'a' + 1) % 26)) << i;
      }
      if (!c.drops) {
        EXPECT_EQ(received.size(), c.writes * 1024);
      }
    }
  }
}

}  // namespace
}  // namespace watch
