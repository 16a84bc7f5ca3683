// The built program under sustained and hostile use on a virtual port: many
// short client sessions, a flood of random bytes, and a client that stops
// reading. The device must stay alive, keep its descriptors, and answer
// promptly afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "../soak_rounds.h"
#include "app/log_text.h"
#include "child_process.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const std::string kIdentity = "quillane, V 1.0\r\n";

std::size_t OpenDescriptors(pid_t pid) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    ++n;
  return n;
}

// Reads the program's log on a thread of its own, so a chatty program never
// blocks on a full pipe, and lets the test wait for a line.
class LogWatcher {
 public:
  explicit LogWatcher(ChildProcess& program) : program_(program), thread_([this] { Collect(); }) {}
  ~LogWatcher() {
    if (!thread_.joinable()) return;
    program_.Signal(SIGKILL);  // the test failed early: end the log
    thread_.join();
  }
  LogWatcher(const LogWatcher&) = delete;
  LogWatcher& operator=(const LogWatcher&) = delete;

  // Waits until a line after the last one found equals `line`.
  bool WaitForLine(const std::string& line) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] {
      for (; next_ < lines_.size(); ++next_) {
        if (lines_[next_] == line) {
          ++next_;
          return true;
        }
      }
      return ended_;
    }) && !ended_;
  }
  // Every line so far that starts with `prefix`, in order.
  std::vector<std::string> LinesStartingWith(const std::string& prefix) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> found;
    for (const std::string& line : lines_) {
      if (line.starts_with(prefix)) found.push_back(line);
    }
    return found;
  }
  // Waits for the program to close its output (after it was told to end).
  void Join() { thread_.join(); }

 private:
  void Collect() {
    const auto never = Clock::now() + std::chrono::hours(24);
    while (auto line = program_.ReadLine(never)) {
      std::lock_guard lock(mutex_);
      lines_.push_back(std::move(*line));
      changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }

  ChildProcess& program_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::size_t next_ = 0;
  bool ended_ = false;
  std::thread thread_;
};

class Soak : public ::testing::Test {
 protected:
  ~Soak() override {
    watcher.reset();
    program.reset();
  }

  // Starts the program, waits until it names its client path, and hands its
  // log to a watcher.
  void Start() {
    program.emplace(std::vector<std::string>{QUILLANE_BINARY, "--headless", "--port", "virtual",
                                             "--link", link.string(), "--parameter-file",
                                             (dir / "quillane.ini").string()});
    ASSERT_EQ(program->ReadLine(), "com port open");
    const auto path = program->ReadLine();
    ASSERT_TRUE(path && path->rfind("virtual port /dev/", 0) == 0) << path.value_or("(none)");
    watcher.emplace(*program);
  }

  // Ends the program as a service manager would; it must exit cleanly.
  void Stop() {
    program->Signal(SIGTERM);
    watcher->Join();
    watcher.reset();
    EXPECT_EQ(program->Wait(), 0);
    EXPECT_THAT(program->Stderr(), ::testing::Not(::testing::HasSubstr("error")));
  }

  TempFolder dir{"quillane-soak"};
  fs::path link = dir / "quillane.tty";
  std::optional<ChildProcess> program;
  std::optional<LogWatcher> watcher;
};

TEST_F(Soak, AThousandShortSessionsKeepDescriptorsAndAreAllServed) {
  Start();
  const pid_t pid = program->Pid();
  const auto session = [&](int i) {
    SerialClient client(link.string());
    client.Send("a\r\n");
    ASSERT_EQ(client.Reply(), "0\r\n") << "session " << i;
  };
  session(0);
  const std::size_t descriptors = OpenDescriptors(pid);
  const int sessions = soak::Rounds(1000);
  for (int i = 1; i < sessions; ++i) {
    session(i);
    if (HasFatalFailure()) return;
  }
  EXPECT_EQ(OpenDescriptors(pid), descriptors);

  // Every session was served and logged; that nothing stays awake once they
  // are gone is measured by the round-trip benchmark's idle figures.
  for (int i = 0; i < sessions; ++i)
    ASSERT_TRUE(watcher->WaitForLine("command number 2")) << "the log of session " << i;

  SerialClient client(link.string());
  client.Send("?\r\n");
  EXPECT_EQ(client.Reply(), kIdentity);
  Stop();
}

// Sends `request` and reads replies until one ends with `answer`; replies
// to earlier requests (or cut short by a full line) come first. False when
// none comes in time.
bool AnswersWith(SerialClient& client, const std::string& request, const std::string& answer) {
  client.Send(request);
  for (std::string reply = client.Reply(); !reply.empty(); reply = client.Reply()) {
    if (reply.ends_with(answer)) return true;
  }
  return false;
}

// The log line the device writes for each line in `bytes`, in order.
std::vector<std::string> ReceivedLogLines(std::string_view bytes) {
  std::vector<std::string> lines;
  for (std::size_t end = bytes.find('\n'); end != std::string_view::npos;
       bytes.remove_prefix(end + 1), end = bytes.find('\n')) {
    lines.push_back("received " + app::EscapeLogLine(bytes.substr(0, end + 1)));
  }
  return lines;
}

TEST_F(Soak, ARandomFloodWithTheClientReadingLeavesTheDeviceAnswering) {
  Start();
  SerialClient client(link.string());
  std::string sent;  // read once the flood has ended
  std::thread flood([&] {
    std::mt19937 random(20240607);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string chunk(4096, '\0');
    for (int i = 0, chunks = soak::Rounds(768); i < chunks; ++i) {  // 3 MiB
      for (char& c : chunk) {
        c = static_cast<char>(byte(random));
        // A random line that reads as an identify request would end the
        // reader early.
        if (c == '?') c = '!';
      }
      sent += chunk;
      client.Send(chunk);
    }
    // Faster than it is read, the flood fills the device's input queue,
    // which holds the client back instead of losing bytes: one request
    // after it is answered.
    const std::string identify = "\r\n?\r\n";
    sent += identify;
    client.Send(identify);
  });
  // Replies (mostly "error") are read while the flood goes on.
  std::size_t replies = 0;
  for (std::string reply = client.Reply(); !reply.empty(); reply = client.Reply()) {
    if (reply == kIdentity) break;
    ++replies;
  }
  flood.join();
  EXPECT_GT(replies, 100u);

  // Every byte sent arrived: the log names every line, whole and in order.
  ASSERT_TRUE(watcher->WaitForLine("received ?\\r\\n"));
  const std::vector<std::string> expected = ReceivedLogLines(sent);
  const std::vector<std::string> logged = watcher->LinesStartingWith("received ");
  ASSERT_EQ(logged.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(logged[i], expected[i]) << "line " << i;

  EXPECT_TRUE(AnswersWith(client, "B;2.5\r\nb\r\n", "2.5\r\n"));
  Stop();
}

TEST_F(Soak, AClientThatStopsReadingDoesNotStallTheDevice) {
  Start();
  SerialClient client(link.string());
  // About 340 KB of replies (times the soak factor), far more than the line holds, none read. The
  // requests go in batches the device's input queue can hold, each once the
  // log shows the last one carried out.
  std::string batch;
  for (int i = 0; i < 200; ++i)
    batch += "?\r\n";
  for (int round = 0, rounds = soak::Rounds(100); round < rounds; ++round) {
    client.Send(batch);
    for (int i = 0; i < 200; ++i)
      ASSERT_TRUE(watcher->WaitForLine("command number 4")) << "round " << round;
  }
  client.Send("C;77\r\nD;1\r\n");
  // The second line is only taken once the first one has been answered.
  ASSERT_TRUE(watcher->WaitForLine("received D;1\\r\\n"));
  // Reading again (what came while the line was full is gone, as on a
  // wire), the client is answered at once.
  client.Discard();
  EXPECT_TRUE(AnswersWith(client, "c\r\n", "77\r\n"));
  Stop();
}

}  // namespace
}  // namespace e2e
