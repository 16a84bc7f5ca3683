#include "platform/win32/windows_headers.h"

#include <algorithm>

#include "app/headless/descriptor_output.h"

namespace app {

// The console's standard handles stand for descriptors 1 and 2; the bytes
// go out as they are (no line-end translation), as on Linux.
void WriteAllToDescriptor(int descriptor, std::string_view text) {
  HANDLE handle =
      ::GetStdHandle(descriptor == kStandardError ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
    if (!::WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

}  // namespace app
