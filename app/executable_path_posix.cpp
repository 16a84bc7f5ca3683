#include <system_error>

#include "app/executable_path.h"

namespace app {

std::filesystem::path RunningExecutablePath() {
  std::error_code error;
  std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return executable;
}

}  // namespace app
