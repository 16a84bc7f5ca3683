// Crash-safe replacement of a whole file.
//
// The contents are written to a new temporary file beside the target (same
// folder, so the rename cannot cross file systems), flushed to disk, and
// renamed over the target; the folder is then flushed so the rename itself
// survives a power loss (Windows: one MoveFileExA that writes through). A
// crash at any point leaves the old file or the new one, never a mix.
// POSIX: a symbolic link is followed, so the file it points to is replaced
// and the link stays; an existing target keeps its permission bits; a new
// one gets 0666 minus the umask.
//
// Errors: std::system_error with the failing step in what() and the system's
// error number in code() (errno on POSIX, GetLastError on Windows); the
// temporary file is removed and the target is left untouched.
// Safe to call from any thread.
#pragma once

#include <filesystem>
#include <string_view>

namespace platform {

void ReplaceFileAtomically(const std::filesystem::path& path, std::string_view contents);

}  // namespace platform
