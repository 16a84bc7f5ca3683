// Where the running program's executable lives, for the files kept beside it.
#pragma once

#include <filesystem>

namespace app {

// The running executable's full path, or an empty path when the system
// cannot say.
std::filesystem::path RunningExecutablePath();

}  // namespace app
