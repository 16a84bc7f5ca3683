#include "platform/file_contents.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform {
namespace {

// Closes the descriptor on every path out of the reader.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::filesystem::path& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~ReadOnlyFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  int Get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void ThrowReadError(int error) {
  throw std::system_error(error, std::generic_category(), "cannot read");
}

}  // namespace

std::optional<std::string> ReadFileIfExists(const std::filesystem::path& path) {
  const ReadOnlyFile file(path);
  if (file.Get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    ThrowReadError(errno);
  }
  std::string contents;
  char buffer[16384];
  for (;;) {
    const ssize_t count = ::read(file.Get(), buffer, sizeof buffer);
    if (count == 0) return contents;
    if (count < 0) {
      if (errno == EINTR) continue;
      ThrowReadError(errno);
    }
    contents.append(buffer, static_cast<std::size_t>(count));
  }
}

}  // namespace platform
