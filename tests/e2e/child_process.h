// The program under test as a child process, and a serial client for it.
// Every wait has a generous deadline; nothing sleeps.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/line_io_posix.h"
#include "tests/support/temp_folder.h"

extern char** environ;

namespace e2e {

using test_support::Clock;
using test_support::kPatience;
using test_support::MillisecondsLeft;
using test_support::ReadUntil;
using test_support::TempFolder;

class ChildProcess {
 public:
  // `unset` names environment variables the child does not inherit.
  explicit ChildProcess(const std::vector<std::string>& args,
                        const std::vector<std::string>& unset = {}) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> argv;
    for (const std::string& a : args)
      argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
      bool keep = true;
      for (const std::string& name : unset) {
        if (std::strncmp(*e, (name + "=").c_str(), name.size() + 1) == 0) keep = false;
      }
      if (keep) envp.push_back(*e);
    }
    envp.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) throw std::runtime_error("posix_spawn failed");
  }
  ~ChildProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(out_);
    ::close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next stdout line without its "\n".
  std::optional<std::string> ReadLine(Clock::time_point deadline = Clock::now() + kPatience) {
    auto line = ReadUntil(out_, outBuffer_, "\n", deadline);
    if (line) line->pop_back();
    return line;
  }
  // Stdout lines until one starts with `prefix`; that line, or nullopt.
  std::optional<std::string> ReadLineStartingWith(const std::string& prefix) {
    const auto deadline = Clock::now() + kPatience;
    while (auto line = ReadLine(deadline)) {
      lines_.push_back(*line);
      if (line->rfind(prefix, 0) == 0) return line;
    }
    return std::nullopt;
  }
  const std::vector<std::string>& LinesSeen() const { return lines_; }

  void Signal(int signal) { ::kill(pid_, signal); }
  pid_t Pid() const { return pid_; }

  // Waits for the exit and returns the status (128 + n for signal n), after
  // collecting the rest of stdout and stderr; -1 when it does not end.
  int Wait() {
    const auto deadline = Clock::now() + kPatience;
    Drain(deadline);
    int raw = 0;
    if (::waitpid(pid_, &raw, 0) != pid_) return -1;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return *status_;
  }
  const std::string& Stdout() const { return outBuffer_; }
  const std::string& Stderr() const { return errBuffer_; }

 private:
  // Reads both pipes until the child has closed them.
  void Drain(Clock::time_point deadline) {
    bool outOpen = true;
    bool errOpen = true;
    while ((outOpen || errOpen) && MillisecondsLeft(deadline) > 0) {
      pollfd p[2] = {{outOpen ? out_ : -1, POLLIN, 0}, {errOpen ? err_ : -1, POLLIN, 0}};
      if (::poll(p, 2, MillisecondsLeft(deadline)) <= 0) return;
      char chunk[4096];
      if (p[0].revents != 0) {
        const ssize_t n = ::read(out_, chunk, sizeof chunk);
        if (n <= 0)
          outOpen = false;
        else
          outBuffer_.append(chunk, static_cast<std::size_t>(n));
      }
      if (p[1].revents != 0) {
        const ssize_t n = ::read(err_, chunk, sizeof chunk);
        if (n <= 0)
          errOpen = false;
        else
          errBuffer_.append(chunk, static_cast<std::size_t>(n));
      }
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outBuffer_;
  std::string errBuffer_;
  std::vector<std::string> lines_;
  std::optional<int> status_;
};

// A client on the device's serial line: raw mode, CR LF framed replies.
class SerialClient {
 public:
  explicit SerialClient(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (fd_ < 0) throw std::runtime_error("cannot open " + path);
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~SerialClient() { ::close(fd_); }
  SerialClient(const SerialClient&) = delete;
  SerialClient& operator=(const SerialClient&) = delete;

  void Send(const std::string& bytes) {
    if (!test_support::WriteAll(fd_, bytes)) throw std::runtime_error("short write");
  }
  // Throws away whatever the line holds right now, without waiting.
  void Discard() {
    buffer_.clear();
    test_support::ReadAvailable(fd_);
  }
  // The next `count` bytes, whatever they are; fewer when they do not come.
  std::string Bytes(std::size_t count) {
    const auto deadline = Clock::now() + kPatience;
    while (buffer_.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) break;
      char chunk[4096];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n <= 0) break;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
    std::string bytes = buffer_.substr(0, count);
    buffer_.erase(0, bytes.size());
    return bytes;
  }
  // True when the line hangs up (a read ends) before anything else arrives.
  bool HungUp() {
    pollfd p{fd_, POLLIN, 0};
    if (!buffer_.empty() || ::poll(&p, 1, MillisecondsLeft(Clock::now() + kPatience)) <= 0) {
      return false;
    }
    char byte = 0;
    const ssize_t n = ::read(fd_, &byte, 1);
    return n == 0 || (n < 0 && errno == EIO);
  }
  // The next reply, CR LF included; "" when none comes.
  std::string Reply() {
    return ReadUntil(fd_, buffer_, "\r\n", Clock::now() + kPatience).value_or("");
  }

 private:
  int fd_;
  std::string buffer_;
};

// For the tear-down of a test that failed: stops its program and reports
// everything it printed, so the failure shows what the program saw and said.
inline void ReportProgramOutput(std::optional<ChildProcess>& program) {
  if (!program) return;
  program->Signal(SIGTERM);
  program->Wait();
  std::string seen;
  for (const std::string& line : program->LinesSeen())
    seen += line + "\n";
  ADD_FAILURE() << "program output:\n" << seen << program->Stdout() << program->Stderr();
}

}  // namespace e2e
