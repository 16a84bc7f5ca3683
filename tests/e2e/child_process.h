// The program under test as a child process, and a serial client for it.
// Every wait has a generous deadline; nothing sleeps.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
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

extern char** environ;

namespace e2e {

using Clock = std::chrono::steady_clock;
inline constexpr auto kPatience = std::chrono::seconds(20);

// A new folder under the system's temporary folder.
inline std::filesystem::path MakeTempDir(const std::string& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

inline int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Reads from `fd` into `buffer` until it holds `delimiter` or the deadline
// passes; returns the text up to and including the delimiter.
inline std::optional<std::string> ReadUntil(int fd, std::string& buffer,
                                            const std::string& delimiter,
                                            Clock::time_point deadline) {
  for (;;) {
    if (const auto at = buffer.find(delimiter); at != std::string::npos) {
      std::string line = buffer.substr(0, at + delimiter.size());
      buffer.erase(0, at + delimiter.size());
      return line;
    }
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, MillisecondsLeft(deadline)) <= 0) return std::nullopt;
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buffer.append(chunk, static_cast<std::size_t>(n));
  }
}

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
    if (::write(fd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("short write");
    }
  }
  // Throws away whatever the line holds right now, without waiting.
  void Discard() {
    buffer_.clear();
    pollfd p{fd_, POLLIN, 0};
    char chunk[4096];
    while (::poll(&p, 1, 0) > 0 && ::read(fd_, chunk, sizeof chunk) > 0) {
    }
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
  // The next reply, CR LF included; "" when none comes.
  std::string Reply() {
    return ReadUntil(fd_, buffer_, "\r\n", Clock::now() + kPatience).value_or("");
  }

 private:
  int fd_;
  std::string buffer_;
};

}  // namespace e2e
