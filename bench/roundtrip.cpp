// End-to-end round trips against the built device, measured side by side
// with a floor: a minimal device of a few lines on a pseudo-terminal.
//
//   roundtrip QUILLANE [--rounds N] [--sequential N] [--pipelined N]
//             [--idle-seconds S] [--floor-only] [--line-timing]
//
// With --line-timing the device runs at 9600 8N1 with --line-timing and
// the run measures, beside the rate's theoretical times, the round trip of a
// get command and the time for --pipelined replies (1000 by default in this
// mode), then the wake-ups of an idle port with line timing and the fault
// options on.
//
// The device runs headless on a virtual port, its log going to a file in a
// scratch folder; the benchmark is its client on the port's link. Each
// round measures, for the device, the floor and the device on a network port
// (tcp:, its client on loopback), sequential round trips
// of a get command ("a\r\n", one reply awaited before the next is sent) and
// pipelined throughput (all commands written back to back while replies are
// read). Then the device's idle CPU and memory are measured: resident memory
// after start, CPU and thread wake-ups over an idle period without and with
// a client attached, resident memory after floods, and the wake-ups with
// the simulation on.
//
// Every wait has a deadline; a failure says what did not happen and the
// device's log is kept for a look. The device is always stopped (SIGTERM,
// then SIGKILL) before the program ends. Exit status 0 when every
// measurement ran, 1 otherwise, 2 for a usage error.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::duration;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::string_view kCommand = "a\r\n";
constexpr auto kStartDeadline = seconds(15);
constexpr auto kReplyDeadline = seconds(5);
// Pipelined replies: the run ends when this long passes without a byte.
constexpr auto kQuietDeadline = seconds(3);
constexpr auto kStopDeadline = seconds(5);

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
}

[[noreturn]] void FailErrno(const std::string& what) {
  Fail(what + ": " + std::strerror(errno));
}

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

// Waits until `fd` is ready for `events` or the deadline passes; false on
// the deadline.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, MillisecondsLeft(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) FailErrno("poll");
  }
}

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) FailErrno("tcgetattr");
  cfmakeraw(&t);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &t) != 0) FailErrno("tcsetattr");
}

void SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) FailErrno("fcntl O_NONBLOCK");
}

// ---------------------------------------------------------------------------
// The client side: one terminal descriptor, raw and non-blocking.

class Client {
 public:
  // A terminal is made raw first; a socket carries bytes as they are.
  explicit Client(Fd fd) : fd_(std::move(fd)) {
    if (isatty(fd_.get()) != 0) MakeRaw(fd_.get());
    SetNonBlocking(fd_.get());
  }

  int fd() const { return fd_.get(); }

  // Drops whatever is waiting (a stale reply, a banner), until the line has
  // been quiet for a moment.
  void Drain() {
    char buffer[4096];
    while (WaitFor(fd(), POLLIN, Clock::now() + milliseconds(100))) {
      if (read(fd(), buffer, sizeof buffer) <= 0 && errno != EAGAIN && errno != EINTR) return;
    }
  }

  void WriteAll(std::string_view bytes, Clock::time_point deadline) {
    while (!bytes.empty()) {
      const ssize_t n = write(fd(), bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        FailErrno("write to the port");
      } else if (!WaitFor(fd(), POLLOUT, deadline)) {
        Fail("the port took no more bytes before the deadline");
      }
    }
  }

  // Reads until `lines` more line feeds have arrived; false when the
  // deadline passes first.
  bool ReadLines(std::size_t lines, Clock::time_point deadline) {
    while (lines > 0) {
      const ssize_t n = read(fd(), buffer_, sizeof buffer_);
      if (n > 0) {
        lines -= std::min<std::size_t>(lines, CountLineFeeds(static_cast<std::size_t>(n)));
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        FailErrno("read from the port");
      } else if (!WaitFor(fd(), POLLIN, deadline)) {
        return false;
      }
    }
    return true;
  }

  std::size_t CountLineFeeds(std::size_t n) const {
    return static_cast<std::size_t>(std::count(buffer_, buffer_ + n, '\n'));
  }

  // Reads what is there without waiting; the number of line feeds in it.
  std::size_t ReadAvailable(bool& gotBytes) {
    std::size_t lines = 0;
    gotBytes = false;
    for (;;) {
      const ssize_t n = read(fd(), buffer_, sizeof buffer_);
      if (n <= 0) {
        if (n < 0 && errno != EAGAIN && errno != EINTR) FailErrno("read from the port");
        return lines;
      }
      gotBytes = true;
      lines += CountLineFeeds(static_cast<std::size_t>(n));
    }
  }

 private:
  Fd fd_;
  char buffer_[65536];
};

Fd OpenTerminal(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) FailErrno("open " + path.string());
  return Fd(fd);
}

// Connects to a network port by its client URL ("socket://127.0.0.1:PORT").
Fd ConnectToUrl(const std::string& url) {
  const auto colon = url.rfind(':');
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(url.substr(colon + 1))));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) FailErrno("socket");
  const int on = 1;
  setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    FailErrno("connect to " + url);
  }
  return fd;
}

// ---------------------------------------------------------------------------
// Figures.

struct Sequential {
  std::vector<double> microseconds;  // one per round trip
};

struct Pipelined {
  std::size_t commands = 0;
  std::size_t bytesWritten = 0;
  std::size_t replies = 0;
  double seconds = 0;
  double PerSecond() const { return seconds > 0 ? static_cast<double>(replies) / seconds : 0; }
};

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

Sequential MeasureSequential(Client& client, std::size_t count) {
  Sequential result;
  result.microseconds.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const auto start = Clock::now();
    client.WriteAll(kCommand, start + kReplyDeadline);
    if (!client.ReadLines(1, start + kReplyDeadline)) {
      Fail("no reply to round trip " + std::to_string(i + 1) + " within " +
           std::to_string(kReplyDeadline.count()) + " s");
    }
    result.microseconds.push_back(duration<double, std::micro>(Clock::now() - start).count());
  }
  return result;
}

// Writes `count` commands back to back while reading the replies; ends when
// every reply has arrived or the line has been quiet for kQuietDeadline.
Pipelined MeasurePipelined(Client& client, std::size_t count) {
  std::string commands;
  commands.reserve(count * kCommand.size());
  for (std::size_t i = 0; i < count; ++i)
    commands += kCommand;
  std::string_view unsent = commands;

  Pipelined result;
  result.commands = count;
  const auto start = Clock::now();
  auto lastProgress = start;
  while (result.replies < count) {
    pollfd p{client.fd(), static_cast<short>(POLLIN | (unsent.empty() ? 0 : POLLOUT)), 0};
    const int ready = poll(&p, 1, MillisecondsLeft(lastProgress + kQuietDeadline));
    if (ready < 0 && errno != EINTR) FailErrno("poll");
    if (ready == 0) break;
    if (!unsent.empty() && (p.revents & POLLOUT) != 0) {
      const ssize_t n = write(client.fd(), unsent.data(), unsent.size());
      if (n > 0) {
        unsent.remove_prefix(static_cast<std::size_t>(n));
        lastProgress = Clock::now();
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        FailErrno("write to the port");
      }
    }
    bool gotBytes = false;
    result.replies += client.ReadAvailable(gotBytes);
    if (gotBytes) lastProgress = Clock::now();
  }
  result.seconds = duration<double>(Clock::now() - start).count();
  result.bytesWritten = commands.size() - unsent.size();
  return result;
}

// ---------------------------------------------------------------------------
// The floor: a pseudo-terminal whose master one thread serves, answering
// every line feed with "0\r\n", the replies to one read in one write.

class FloorDevice {
 public:
  FloorDevice() {
    master_ = Fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master_ || grantpt(master_.get()) != 0 || unlockpt(master_.get()) != 0) {
      FailErrno("pseudo-terminal for the floor");
    }
    slavePath_ = ptsname(master_.get());
    MakeRaw(master_.get());
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) FailErrno("pipe");
    stopRead_ = Fd(pipeFds[0]);
    stopWrite_ = Fd(pipeFds[1]);
  }
  ~FloorDevice() {
    if (thread_.joinable()) {
      const char stop = 1;
      [[maybe_unused]] const ssize_t ignored = write(stopWrite_.get(), &stop, 1);
      thread_.join();
    }
  }
  FloorDevice(const FloorDevice&) = delete;
  FloorDevice& operator=(const FloorDevice&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  // Call once the client holds the slave open (a master without one reads EIO).
  void Start() {
    thread_ = std::thread([this] { Serve(); });
  }

 private:
  void Serve() {
    char in[65536];
    std::string out;
    for (;;) {
      pollfd p[2] = {{master_.get(), POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
      if (poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (p[1].revents != 0) return;
      const ssize_t n = read(master_.get(), in, sizeof in);
      if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        return;
      }
      out.clear();
      for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        if (in[i] == '\n') out += "0\r\n";
      }
      for (std::string_view rest = out; !rest.empty();) {
        const ssize_t w = write(master_.get(), rest.data(), rest.size());
        if (w < 0 && errno != EINTR) return;
        if (w > 0) rest.remove_prefix(static_cast<std::size_t>(w));
      }
    }
  }

  Fd master_;
  std::string slavePath_;
  Fd stopRead_;
  Fd stopWrite_;
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// The device under test: a child process, always stopped on the way out.

struct ProcessUsage {
  double cpuMilliseconds = 0;    // user + system, all threads (scheduler's ns)
  std::uint64_t wakeUps = 0;     // context switches of all threads
  std::uint64_t rssKiB = 0;      // VmRSS
  std::uint64_t peakRssKiB = 0;  // VmHWM
  std::size_t threads = 0;
};

class DeviceProcess {
 public:
  DeviceProcess(const fs::path& program, const fs::path& folder, bool simulate,
                const std::string& port = "virtual", const std::vector<std::string>& extra = {})
      : link_(folder / ("dev-" + std::to_string(starts_ + 1) + ".tty")),
        log_(folder / ("device-" + std::to_string(++starts_) + ".log")) {
    std::vector<std::string> args = {program.string(),   "--headless",
                                     "--port",           port,
                                     "--parameter-file", (folder / "p.ini").string()};
    const bool virtualPort = port == "virtual";
    if (virtualPort) {
      args.emplace_back("--link");
      args.push_back(link_.string());
    }
    if (simulate) args.emplace_back("--simulate");
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);

    Fd inotify(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!inotify ||
        inotify_add_watch(inotify.get(), folder.c_str(), IN_CREATE | IN_MOVED_TO | IN_MODIFY) < 0) {
      FailErrno("inotify on " + folder.string());
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      errno = spawned;
      FailErrno("start " + program.string());
    }
    pidfd_ = Fd(static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)));
    if (!pidfd_) FailErrno("pidfd_open");
    if (virtualPort) {
      WaitUntil(
          inotify.get(), [this] { return fs::is_symlink(link_); }, "made no link");
    } else {
      WaitUntil(
          inotify.get(), [this] { return !(url_ = NetworkUrl()).empty(); },
          "logged no network port");
    }
  }

  ~DeviceProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    if (!WaitFor(pidfd_.get(), POLLIN, Clock::now() + kStopDeadline)) {
      std::fprintf(stderr, "device did not stop on SIGTERM within %lld s; killing it\n",
                   static_cast<long long>(kStopDeadline.count()));
      kill(pid_, SIGKILL);
    }
    waitpid(pid_, nullptr, 0);
  }
  DeviceProcess(const DeviceProcess&) = delete;
  DeviceProcess& operator=(const DeviceProcess&) = delete;

  const fs::path& Link() const { return link_; }
  // The client URL a device on a network port logged.
  const std::string& Url() const { return url_; }
  const fs::path& Log() const { return log_; }
  pid_t Pid() const { return pid_; }

  // Waits for `period` while watching that the device stays alive.
  void Idle(std::chrono::milliseconds period) const {
    if (WaitFor(pidfd_.get(), POLLIN, Clock::now() + period)) Fail(Exited());
  }

  ProcessUsage Usage() const {
    ProcessUsage usage;
    const fs::path proc = "/proc/" + std::to_string(pid_);
    std::error_code error;
    for (const auto& task : fs::directory_iterator(proc / "task", error)) {
      std::ifstream schedstat(task.path() / "schedstat");
      double ns = 0;
      if (schedstat >> ns) usage.cpuMilliseconds += ns / 1e6;
      std::ifstream status(task.path() / "status");
      for (std::string line; std::getline(status, line);) {
        if (line.starts_with("voluntary_ctxt_switches:") ||
            line.starts_with("nonvoluntary_ctxt_switches:")) {
          usage.wakeUps += std::stoull(line.substr(line.find(':') + 1));
        }
      }
      ++usage.threads;
    }
    std::ifstream status(proc / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("VmRSS:")) usage.rssKiB = std::stoull(line.substr(6));
      if (line.starts_with("VmHWM:")) usage.peakRssKiB = std::stoull(line.substr(6));
    }
    if (usage.threads == 0) Fail(Exited());
    return usage;
  }

 private:
  // The link appears (created, or renamed into place) once the port is open.
  // Waits, woken by changes in the folder, until `ready` holds.
  template <class Ready>
  void WaitUntil(int inotify, Ready isReady, const std::string& failure) {
    const auto deadline = Clock::now() + kStartDeadline;
    while (!isReady()) {
      pollfd p[2] = {{inotify, POLLIN, 0}, {pidfd_.get(), POLLIN, 0}};
      const int ready = poll(p, 2, MillisecondsLeft(deadline));
      if (ready < 0 && errno != EINTR) FailErrno("poll");
      if (ready == 0) {
        Fail("the device " + failure + " within " + std::to_string(kStartDeadline.count()) +
             " s; its log: " + log_.string());
      }
      if (p[1].revents != 0) Fail(Exited());
      char events[4096];
      while (read(inotify, events, sizeof events) > 0) {
      }
    }
  }

  std::string NetworkUrl() const {
    std::ifstream log(log_);
    const std::string prefix = "network port ";
    for (std::string line; std::getline(log, line);) {
      if (line.starts_with(prefix)) return line.substr(prefix.size());
    }
    return {};
  }

  std::string Exited() const {
    int status = 0;
    std::string how = "the device ended early";
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      how += WIFEXITED(status) ? " with status " + std::to_string(WEXITSTATUS(status))
                               : " on signal " + std::to_string(WTERMSIG(status));
    }
    std::ifstream log(log_);
    std::stringstream text;
    text << log.rdbuf();
    return how + "; its log (" + log_.string() + "):\n" + text.str().substr(0, 2000);
  }

  static inline int starts_ = 0;  // numbers the logs of the devices started
  fs::path link_;
  fs::path log_;
  std::string url_;
  pid_t pid_ = -1;
  Fd pidfd_;
};

// ---------------------------------------------------------------------------
// Runs and reports.

struct Options {
  fs::path program;
  std::size_t rounds = 5;
  std::size_t sequential = 2000;
  std::size_t pipelined = 20000;
  int idleSeconds = 10;
  bool floorOnly = false;
  bool lineTiming = false;
  bool pipelinedGiven = false;
};

Options ParseArguments(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto number = [&](const char* name) -> std::size_t {
      if (i + 1 >= argc) throw std::invalid_argument(std::string(name) + " needs a number");
      const long long value = std::atoll(argv[++i]);
      if (value <= 0) throw std::invalid_argument(std::string(name) + " needs a positive number");
      return static_cast<std::size_t>(value);
    };
    if (arg == "--rounds") {
      options.rounds = number("--rounds");
    } else if (arg == "--sequential") {
      options.sequential = number("--sequential");
    } else if (arg == "--pipelined") {
      options.pipelined = number("--pipelined");
      options.pipelinedGiven = true;
    } else if (arg == "--line-timing") {
      options.lineTiming = true;
    } else if (arg == "--idle-seconds") {
      options.idleSeconds = static_cast<int>(number("--idle-seconds"));
    } else if (arg == "--floor-only") {
      options.floorOnly = true;
    } else if (!arg.starts_with("-") && options.program.empty()) {
      options.program = arg;
    } else {
      throw std::invalid_argument("unknown argument " + std::string(arg));
    }
  }
  if (options.program.empty() && !options.floorOnly) {
    throw std::invalid_argument("the path of the quillane program is missing");
  }
  return options;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "quillane-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) FailErrno("mkdtemp");
    path_ = pattern;
  }
  ~ScratchFolder() {
    if (keep_) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& Path() const { return path_; }
  void Keep() { keep_ = true; }

 private:
  fs::path path_;
  bool keep_ = false;
};

struct Subject {
  const char* name;
  Client* client;
  Sequential sequential;
  std::vector<double> sequentialP50;  // per round
  std::vector<double> throughput;     // per round, commands per second
};

void Warm(Client& client) {
  client.Drain();
  MeasureSequential(client, 50);
}

void PrintRound(std::size_t round, const char* name, const Sequential& s, const Pipelined& p) {
  std::printf(
      "round %zu %-6s sequential p50 %7.1f us  p99 %7.1f us  max %8.1f us | pipelined "
      "%zu/%zu replies in %.3f s = %.0f/s\n",
      round, name, Percentile(s.microseconds, 0.5), Percentile(s.microseconds, 0.99),
      Percentile(s.microseconds, 1.0), p.replies, p.commands, p.seconds, p.PerSecond());
  std::fflush(stdout);
}

void RunRound(std::size_t round, Subject& subject, const Options& options, bool& complete) {
  Sequential s = MeasureSequential(*subject.client, options.sequential);
  subject.client->Drain();
  const Pipelined p = MeasurePipelined(*subject.client, options.pipelined);
  if (p.replies < p.commands) {
    std::printf(
        "round %zu %s: only %zu of %zu pipelined replies arrived, %zu of %zu command "
        "bytes taken (quiet for %lld s)\n",
        round, subject.name, p.replies, p.commands, p.bytesWritten, p.commands * kCommand.size(),
        static_cast<long long>(kQuietDeadline.count()));
    complete = false;
  }
  subject.client->Drain();
  PrintRound(round, subject.name, s, p);
  subject.sequentialP50.push_back(Percentile(s.microseconds, 0.5));
  subject.throughput.push_back(p.PerSecond());
  subject.sequential.microseconds.insert(subject.sequential.microseconds.end(),
                                         s.microseconds.begin(), s.microseconds.end());
}

void PrintSummary(const Subject& subject) {
  const auto& all = subject.sequential.microseconds;
  const auto [p50Min, p50Max] =
      std::minmax_element(subject.sequentialP50.begin(), subject.sequentialP50.end());
  const auto [tMin, tMax] =
      std::minmax_element(subject.throughput.begin(), subject.throughput.end());
  std::printf(
      "%-6s sequential over %zu: p50 %.1f us (rounds %.1f..%.1f)  p99 %.1f us  max %.1f "
      "us | pipelined median %.0f/s (rounds %.0f..%.0f)\n",
      subject.name, all.size(), Percentile(all, 0.5), *p50Min, *p50Max, Percentile(all, 0.99),
      Percentile(all, 1.0), Percentile(subject.throughput, 0.5), *tMin, *tMax);
}

void PrintRatios(const Subject& device, const Subject& floor) {
  const auto& d = device.sequential.microseconds;
  const auto& f = floor.sequential.microseconds;
  std::printf(
      "ratio device/floor: sequential p50 %.2f  p99 %.2f  max %.2f | pipelined "
      "throughput %.2f\n",
      Percentile(d, 0.5) / Percentile(f, 0.5), Percentile(d, 0.99) / Percentile(f, 0.99),
      Percentile(d, 1.0) / Percentile(f, 1.0),
      Percentile(device.throughput, 0.5) / Percentile(floor.throughput, 0.5));
}

void PrintUsage(const char* when, const ProcessUsage& before, const ProcessUsage& after) {
  std::printf(
      "device %-34s CPU %7.2f ms  wake-ups %6llu  threads %zu  VmRSS %llu KiB  VmHWM "
      "%llu KiB\n",
      when, after.cpuMilliseconds - before.cpuMilliseconds,
      static_cast<unsigned long long>(after.wakeUps - before.wakeUps), after.threads,
      static_cast<unsigned long long>(after.rssKiB),
      static_cast<unsigned long long>(after.peakRssKiB));
  std::fflush(stdout);
}

// Bytes written as fast as the device takes them while a reader drains the
// replies; returns when all are written.
void Flood(Client& client, const std::string& bytes) {
  std::string_view unsent = bytes;
  auto lastProgress = Clock::now();
  while (!unsent.empty()) {
    pollfd p{client.fd(), POLLIN | POLLOUT, 0};
    const int ready = poll(&p, 1, MillisecondsLeft(lastProgress + kQuietDeadline));
    if (ready < 0 && errno != EINTR) FailErrno("poll");
    if (ready == 0)
      Fail("the device took no flood bytes for " + std::to_string(kQuietDeadline.count()) + " s");
    if ((p.revents & POLLOUT) != 0) {
      const ssize_t n =
          write(client.fd(), unsent.data(), std::min<std::size_t>(unsent.size(), 4096));
      if (n > 0) {
        unsent.remove_prefix(static_cast<std::size_t>(n));
        lastProgress = Clock::now();
      }
    }
    bool gotBytes = false;
    client.ReadAvailable(gotBytes);
  }
  client.Drain();
}

void MeasureResources(const Options& options, const fs::path& folder) {
  const auto idle = std::chrono::milliseconds(options.idleSeconds * 1000);
  const std::string period = std::to_string(options.idleSeconds) + " s";
  {
    DeviceProcess device(options.program, folder, false);
    ProcessUsage start = device.Usage();
    PrintUsage("after start", ProcessUsage{}, start);
    device.Idle(idle);
    ProcessUsage noClient = device.Usage();
    PrintUsage(("idle " + period + ", no client").c_str(), start, noClient);

    Client client(OpenTerminal(device.Link()));
    client.Drain();
    const ProcessUsage attached = device.Usage();
    device.Idle(idle);
    PrintUsage(("idle " + period + ", client attached").c_str(), attached, device.Usage());

    std::mt19937 random(12345);
    std::string noise(2 << 20, '\0');
    for (char& c : noise)
      c = static_cast<char>(random());
    const ProcessUsage beforeFlood = device.Usage();
    Flood(client, noise);
    PrintUsage("after 2 MiB of random bytes", beforeFlood, device.Usage());
    const ProcessUsage beforeLine = device.Usage();
    Flood(client, std::string(2 << 20, 'x'));
    PrintUsage("after a 2 MiB line without LF", beforeLine, device.Usage());
    const ProcessUsage beforeCommands = device.Usage();
    std::string commands;
    for (int i = 0; i < 200'000; ++i)
      commands += kCommand;
    Flood(client, commands);
    PrintUsage("after 200000 pipelined commands", beforeCommands, device.Usage());
  }
  {
    // Clients that come and go must leave nothing awake behind them.
    DeviceProcess device(options.program, folder, false);
    for (int i = 0; i < 1000; ++i) {
      Client client(OpenTerminal(device.Link()));
      client.WriteAll("?\r\n", Clock::now() + std::chrono::seconds(10));
      if (!client.ReadLines(1, Clock::now() + std::chrono::seconds(10))) {
        Fail("no reply in a short session");
      }
    }
    const ProcessUsage afterSessions = device.Usage();
    device.Idle(idle);
    PrintUsage(("idle " + period + " after 1000 short sessions").c_str(), afterSessions,
               device.Usage());
  }
  {
    DeviceProcess device(options.program, folder, true);
    const ProcessUsage start = device.Usage();
    device.Idle(idle);
    PrintUsage(("simulation on, " + period + ", no client").c_str(), start, device.Usage());
  }
}

// --- Line timing at 9600 8N1: 10 bits a byte, 960 bytes a second.

constexpr double kBytesPerSecond = 960.0;

// Replies to "a\r\n" are "0\r\n" while the parameters are fresh.
constexpr std::size_t kReplyBytes = 3;

void MeasureLineTiming(const Options& options, const fs::path& folder) {
  const std::vector<std::string> timed = {"--line-timing"};
  DeviceProcess device(options.program, folder, false, "virtual", timed);
  Client client(OpenTerminal(device.Link()));
  client.Drain();
  MeasureSequential(client, 20);  // warm
  const std::size_t sequentialCount = std::min<std::size_t>(options.sequential, 500);
  const Sequential s = MeasureSequential(client, sequentialCount);
  const double theoryRoundTripMs = (kCommand.size() + kReplyBytes) / kBytesPerSecond * 1000.0;
  std::printf(
      "line timing 9600 8N1: get round trip over %zu: p50 %.2f ms  p99 %.2f ms  max %.2f ms | "
      "rate's time %.2f ms (3 bytes in, 3 out)\n",
      sequentialCount, Percentile(s.microseconds, 0.5) / 1000.0,
      Percentile(s.microseconds, 0.99) / 1000.0, Percentile(s.microseconds, 1.0) / 1000.0,
      theoryRoundTripMs);
  client.Drain();
  const std::size_t pipelined = options.pipelinedGiven ? options.pipelined : 1000;
  const Pipelined p = MeasurePipelined(client, pipelined);
  // In and out overlap: the commands' time, then the last reply's.
  const double theorySeconds =
      (static_cast<double>(pipelined * kCommand.size()) + kReplyBytes) / kBytesPerSecond;
  std::printf(
      "line timing 9600 8N1: %zu/%zu pipelined replies in %.3f s | rate's time %.3f s "
      "(%.1f%%)\n",
      p.replies, p.commands, p.seconds, theorySeconds, 100.0 * p.seconds / theorySeconds);
  if (p.replies < p.commands) Fail("pipelined replies were lost with line timing");
  std::fflush(stdout);

  const auto idle = std::chrono::milliseconds(options.idleSeconds * 1000);
  const std::string period = std::to_string(options.idleSeconds) + " s";
  const ProcessUsage before = device.Usage();
  device.Idle(idle);
  PrintUsage(("line timing, idle " + period + ", client").c_str(), before, device.Usage());

  const std::vector<std::string> everything = {
      "--line-timing", "--line-delay",  "50",     "--fault", "delay:ms=200,every=3",
      "--fault",       "corrupt:p=0.1", "--seed", "1"};
  DeviceProcess faulty(options.program, folder, false, "virtual", everything);
  Client faultyClient(OpenTerminal(faulty.Link()));
  faultyClient.Drain();
  for (int i = 0; i < 10; ++i) {
    faultyClient.WriteAll(kCommand, Clock::now() + kReplyDeadline);
    if (!faultyClient.ReadLines(1, Clock::now() + kReplyDeadline)) Fail("no reply with faults on");
  }
  faultyClient.Drain();
  const ProcessUsage quiet = faulty.Usage();
  faulty.Idle(idle);
  PrintUsage(("all options, idle " + period + ", client").c_str(), quiet, faulty.Usage());
}

int Run(const Options& options) {
  ScratchFolder folder;
  if (options.lineTiming) {
    try {
      MeasureLineTiming(options, folder.Path());
    } catch (const std::exception& error) {
      folder.Keep();
      std::fprintf(stderr, "roundtrip: %s\n(scratch folder kept: %s)\n", error.what(),
                   folder.Path().c_str());
      return 1;
    }
    return 0;
  }
  bool complete = true;
  try {
    std::optional<DeviceProcess> device;
    std::optional<Client> deviceClient;
    std::optional<DeviceProcess> networkDevice;
    std::optional<Client> networkClient;
    if (!options.floorOnly) {
      device.emplace(options.program, folder.Path(), false);
      deviceClient.emplace(OpenTerminal(device->Link()));
      std::printf("device pid %d, link %s, log %s\n", device->Pid(), device->Link().c_str(),
                  device->Log().c_str());
      networkDevice.emplace(options.program, folder.Path(), false, "tcp:0");
      networkClient.emplace(ConnectToUrl(networkDevice->Url()));
      std::printf("network device pid %d, %s, log %s\n", networkDevice->Pid(),
                  networkDevice->Url().c_str(), networkDevice->Log().c_str());
    }
    FloorDevice floorDevice;
    Client floorClient(OpenTerminal(floorDevice.SlavePath()));
    floorDevice.Start();

    Subject deviceSubject{"device", deviceClient ? &*deviceClient : nullptr, {}, {}, {}};
    Subject floorSubject{"floor", &floorClient, {}, {}, {}};
    Subject networkSubject{"tcp", networkClient ? &*networkClient : nullptr, {}, {}, {}};
    if (deviceClient) Warm(*deviceClient);
    if (networkClient) Warm(*networkClient);
    Warm(floorClient);
    std::printf("%zu rounds: %zu sequential round trips and %zu pipelined commands each\n",
                options.rounds, options.sequential, options.pipelined);
    for (std::size_t round = 1; round <= options.rounds; ++round) {
      if (deviceClient) RunRound(round, deviceSubject, options, complete);
      RunRound(round, floorSubject, options, complete);
      if (networkClient) RunRound(round, networkSubject, options, complete);
    }
    std::printf("== summary\n");
    if (deviceClient) PrintSummary(deviceSubject);
    PrintSummary(floorSubject);
    if (networkClient) PrintSummary(networkSubject);
    if (deviceClient) {
      PrintRatios(deviceSubject, floorSubject);
      const ProcessUsage usage = device->Usage();
      PrintUsage("after the round trips", ProcessUsage{}, usage);
    }
    deviceClient.reset();
    device.reset();
    networkClient.reset();
    networkDevice.reset();
    if (!options.floorOnly) {
      std::printf("== idle CPU and memory (log to %s)\n", folder.Path().c_str());
      MeasureResources(options, folder.Path());
    }
  } catch (const std::exception& error) {
    folder.Keep();
    std::fprintf(stderr, "roundtrip: %s\n(scratch folder kept: %s)\n", error.what(),
                 folder.Path().c_str());
    return 1;
  }
  if (!complete) {
    folder.Keep();
    std::fprintf(stderr, "roundtrip: replies were lost (scratch folder kept: %s)\n",
                 folder.Path().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  Options options;
  try {
    options = ParseArguments(argc, argv);
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr,
                 "roundtrip: %s\nusage: roundtrip QUILLANE [--rounds N] [--sequential N] "
                 "[--pipelined N] [--idle-seconds S] [--floor-only] [--line-timing]\n",
                 error.what());
    return 2;
  }
  return Run(options);
}
