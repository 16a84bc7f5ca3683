#include "platform/atomic_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <string>
#include <system_error>

namespace platform {
namespace {

[[noreturn]] void ThrowSystemError(int error, const std::string& step) {
  throw std::system_error(error, std::generic_category(), step);
}

// Owns a descriptor and, until Commit, the temporary file's name.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; fd_ < 0; ++attempt) {
      path_ = target;
      path_ += ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
      fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0 && (errno != EEXIST || attempt > 100)) {
        ThrowSystemError(errno, "cannot create " + path_.string());
      }
    }
  }
  ~TemporaryFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void Write(std::string_view contents) {
    while (!contents.empty()) {
      const ssize_t written = write(fd_, contents.data(), contents.size());
      if (written < 0) {
        if (errno == EINTR) continue;
        ThrowSystemError(errno, "cannot write " + path_.string());
      }
      contents.remove_prefix(static_cast<std::size_t>(written));
    }
  }

  void CopyModeFrom(const std::filesystem::path& target) {
    struct stat status {};
    if (stat(target.c_str(), &status) == 0 && fchmod(fd_, status.st_mode & 07777) != 0) {
      ThrowSystemError(errno, "cannot set the mode of " + path_.string());
    }
  }

  void FlushAndClose() {
    if (fsync(fd_) != 0) ThrowSystemError(errno, "cannot flush " + path_.string());
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) ThrowSystemError(errno, "cannot close " + path_.string());
  }

  void RenameOver(const std::filesystem::path& target) {
    if (rename(path_.c_str(), target.c_str()) != 0) {
      ThrowSystemError(errno, "cannot replace " + target.string());
    }
    committed_ = true;
  }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool committed_ = false;
};

std::filesystem::path ResolveLinks(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? path : resolved;
}

// Makes a completed rename durable; failure here loses nothing that the
// rename has not already made visible, so it is not reported.
void FlushFolder(const std::filesystem::path& file) {
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// True for "<pid>.<n>" where no process <pid> runs any more.
bool IsLeftOfDeadProcess(std::string_view suffix) {
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(suffix.data(), suffix.data() + suffix.size(), pid);
  if (error != std::errc{} || end == suffix.data() || *end != '.' || pid <= 0) return false;
  return kill(pid, 0) != 0 && errno == ESRCH;
}

// A save killed between creating and renaming its temporary file leaves it
// behind; the next save of the same file removes such leftovers.
void RemoveStaleTemporaries(const std::filesystem::path& target) {
  const std::string prefix = target.filename().string() + ".tmp.";
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(prefix) &&
        IsLeftOfDeadProcess(std::string_view(name).substr(prefix.size()))) {
      std::filesystem::remove(entry.path(), error);
    }
  }
}

}  // namespace

void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  const std::filesystem::path target = ResolveLinks(path);
  TemporaryFile temporary(target);
  temporary.Write(contents);
  temporary.CopyModeFrom(target);
  temporary.FlushAndClose();
  temporary.RenameOver(target);
  FlushFolder(target);
  RemoveStaleTemporaries(target);
}

}  // namespace platform
