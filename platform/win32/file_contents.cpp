#include "platform/win32/windows_headers.h"

#include <system_error>

#include "platform/file_contents.h"
#include "platform/win32/system_message.h"

namespace platform {
namespace {

// Closes the handle on every path out of the reader.
class ReadOnlyFile {
 public:
  explicit ReadOnlyFile(const std::filesystem::path& path)
      : handle_(::CreateFileA(path.string().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~ReadOnlyFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

[[noreturn]] void ThrowReadError(DWORD error) {
  throw std::system_error(static_cast<int>(error), std::system_category(),
                          "cannot read: " + SystemMessage(error));
}

}  // namespace

std::optional<std::string> ReadFileIfExists(const std::filesystem::path& path) {
  const ReadOnlyFile file(path);
  if (file.Get() == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    ThrowReadError(error);
  }
  std::string contents;
  char buffer[16384];
  for (;;) {
    DWORD count = 0;
    if (!::ReadFile(file.Get(), buffer, sizeof buffer, &count, nullptr)) {
      ThrowReadError(::GetLastError());
    }
    if (count == 0) return contents;
    contents.append(buffer, count);
  }
}

}  // namespace platform
