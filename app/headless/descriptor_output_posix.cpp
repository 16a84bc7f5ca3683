#include <unistd.h>

#include <cerrno>

#include "app/headless/descriptor_output.h"

namespace app {

void WriteAllToDescriptor(int descriptor, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(descriptor, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace app
