#include "app/headless/console_view.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/line_io_posix.h"

namespace app {
namespace {

// A pipe whose read end collects what the view wrote so far.
class Pipe {
 public:
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) ADD_FAILURE() << "pipe2";
    read_ = fds[0];
    write_ = fds[1];
    // Room for everything a test writes, so the view never meets a full pipe.
    if (::fcntl(write_, F_SETPIPE_SZ, 1 << 20) < 0) ADD_FAILURE() << "F_SETPIPE_SZ";
  }
  ~Pipe() {
    ::close(read_);
    ::close(write_);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  int WriteEnd() const { return write_; }
  std::string Take() { return test_support::ReadAvailable(read_); }

 private:
  int read_ = -1;
  int write_ = -1;
};

TEST(ConsoleView, CollectsEscapedLinesUntilFlushed) {
  Pipe out;
  Pipe err;
  ConsoleView view(out.WriteEnd(), err.WriteEnd(), false);
  view.AddLogLine("received a\r\n");
  view.AddLogLine("command number 2");
  view.AddLogLine(
      "raw  4 T -17.80\xB0"
      "C");
  EXPECT_EQ(out.Take(), "");
  view.Flush();
  EXPECT_EQ(out.Take(),
            "received a\\r\\n\ncommand number 2\nraw  4 T -17.80\xC2\xB0"
            "C\n");
  view.Flush();
  EXPECT_EQ(out.Take(), "");
}

TEST(ConsoleView, ErrorsComeAfterTheLinesLoggedBeforeThem) {
  Pipe out;
  Pipe err;
  ConsoleView view(out.WriteEnd(), err.WriteEnd(), false);
  view.AddLogLine("save parameter");
  view.ShowError("cannot write\r\n");
  EXPECT_EQ(out.Take(), "save parameter\n");
  EXPECT_EQ(err.Take(), "error: cannot write\\r\\n\n");
}

// A device that never waits still writes its log, in bounded pieces.
TEST(ConsoleView, WritesOnceTheCollectedLinesReachTheLimit) {
  Pipe out;
  Pipe err;
  ConsoleView view(out.WriteEnd(), err.WriteEnd(), false);
  const std::string line = "received a\r\n";
  const std::string escaped = "received a\\r\\n\n";
  std::string expected;
  while (expected.size() + escaped.size() < kConsolePendingLimit) {
    view.AddLogLine(line);
    expected += escaped;
  }
  EXPECT_EQ(out.Take(), "");
  view.AddLogLine(line);
  expected += escaped;
  EXPECT_EQ(out.Take(), expected);
  view.AddLogLine("after");
  EXPECT_EQ(out.Take(), "");
  view.Flush();
  EXPECT_EQ(out.Take(), "after\n");
}

}  // namespace
}  // namespace app
