#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "app/headless/virtual_port_link.h"

namespace app {
namespace {

namespace fs = std::filesystem;

// Another program may unlink the lock file between our open and our lock;
// after that many lost races something else is wrong.
constexpr int kLockAttempts = 8;

std::runtime_error LinkError(const fs::path& path, const std::string& reason) {
  return std::runtime_error("cannot link " + path.string() + ": " + reason);
}

std::string ReadOwner(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  std::string owner = n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
  while (!owner.empty() && (owner.back() == '\n' || owner.back() == ' '))
    owner.pop_back();
  return owner;
}

// Whether `fd` is still the file at `path` (not one unlinked meanwhile).
bool StillAt(int fd, const fs::path& path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Opens and locks the lock file, or throws: busy, or no lock possible.
int LockOwnership(const fs::path& link, const fs::path& lockPath) {
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw LinkError(link, lockPath.string() + ": " + std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      const std::string owner = ReadOwner(fd);
      ::close(fd);
      if (error != EWOULDBLOCK)
        throw LinkError(link, lockPath.string() + ": " + std::strerror(error));
      throw LinkError(link, "another quillane serves it (process " +
                                (owner.empty() ? std::string("unknown") : owner) + ")");
    }
    if (StillAt(fd, lockPath)) return fd;
    ::close(fd);  // its owner removed it as we locked it: try the new one
  }
  throw LinkError(link, "its lock file " + lockPath.string() + " keeps changing");
}

void WriteOwner(int fd) {
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0) return;  // the lock holds; the id is only for messages
  [[maybe_unused]] const ssize_t n = ::pwrite(fd, pid.data(), pid.size(), 0);
}

}  // namespace

VirtualPortLink::VirtualPortLink(fs::path path)
    : path_(std::move(path)), lockPath_(fs::path(path_) += ".lock") {
  lockFd_ = LockOwnership(path_, lockPath_);
  WriteOwner(lockFd_);
}

void VirtualPortLink::PointTo(const std::string& target) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path_, error);
  if (fs::exists(status) && !fs::is_symlink(status)) {
    throw LinkError(path_, "it exists and is not a symbolic link");
  }
  // A new link beside the old one, renamed over it: the path never dangles.
  fs::path fresh = path_;
  fresh += ".new-" + std::to_string(::getpid());
  fs::remove(fresh, error);
  fs::create_symlink(target, fresh, error);
  if (error) throw LinkError(path_, error.message());
  fs::rename(fresh, path_, error);
  if (error) {
    std::error_code ignored;
    fs::remove(fresh, ignored);
    throw LinkError(path_, error.message());
  }
  target_ = target;
}

VirtualPortLink::~VirtualPortLink() {
  std::error_code error;
  if (!target_.empty() && fs::is_symlink(fs::symlink_status(path_, error)) &&
      fs::read_symlink(path_, error) == fs::path(target_)) {
    fs::remove(path_, error);
  }
  // Unlinked while still locked, so a program waiting on it sees it change.
  fs::remove(lockPath_, error);
  ::close(lockFd_);
}

}  // namespace app
