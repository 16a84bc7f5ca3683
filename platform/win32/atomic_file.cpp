// The new contents go to a temporary file beside the target, are flushed,
// and replace the target in one MoveFileExA that waits until the move is on
// disk, so a crash leaves the old file or the new one.
#include "platform/win32/windows_headers.h"

#include <atomic>
#include <string>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/win32/system_message.h"

namespace platform {
namespace {

[[noreturn]] void ThrowSystemError(DWORD error, const std::string& step) {
  throw std::system_error(static_cast<int>(error), std::system_category(),
                          step + ": " + SystemMessage(error));
}

// Owns the temporary file's handle and, until Commit, its name.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; handle_ == INVALID_HANDLE_VALUE; ++attempt) {
      path_ = target.string() + ".tmp." + std::to_string(::GetCurrentProcessId()) + "." +
              std::to_string(counter++);
      handle_ = ::CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
      const DWORD error = ::GetLastError();
      if (handle_ == INVALID_HANDLE_VALUE && (error != ERROR_FILE_EXISTS || attempt > 100)) {
        ThrowSystemError(error, "cannot create " + path_);
      }
    }
  }
  ~TemporaryFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    if (!committed_) ::DeleteFileA(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  void Write(std::string_view contents) {
    while (!contents.empty()) {
      DWORD written = 0;
      const auto chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size(), 1u << 30));
      if (!::WriteFile(handle_, contents.data(), chunk, &written, nullptr)) {
        ThrowSystemError(::GetLastError(), "cannot write " + path_);
      }
      contents.remove_prefix(written);
    }
  }

  void FlushAndClose() {
    if (!::FlushFileBuffers(handle_)) ThrowSystemError(::GetLastError(), "cannot flush " + path_);
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle)) ThrowSystemError(::GetLastError(), "cannot close " + path_);
  }

  void MoveOver(const std::filesystem::path& target) {
    if (!::MoveFileExA(path_.c_str(), target.string().c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      ThrowSystemError(::GetLastError(), "cannot replace " + target.string());
    }
    committed_ = true;
  }

 private:
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool committed_ = false;
};

}  // namespace

void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  TemporaryFile temporary(path);
  temporary.Write(contents);
  temporary.FlushAndClose();
  temporary.MoveOver(path);
}

}  // namespace platform
