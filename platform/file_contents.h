// Reading a whole file in one call, for readers of small text files.
//
// Errors: std::system_error whose code() is the system's error number
// (errno on POSIX, GetLastError on Windows) and
// whose what() names the reason; a missing file is not an error.
// Safe to call from any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// The file's bytes, or nothing when it does not exist.
std::optional<std::string> ReadFileIfExists(const std::filesystem::path& path);

}  // namespace platform
