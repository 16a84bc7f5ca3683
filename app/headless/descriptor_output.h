// Writing the console's text to a standard descriptor.
//
// The console front end writes its log and its errors through descriptors
// rather than iostreams, so that a test can hand it a pipe. Any thread.
#pragma once

#include <string_view>

namespace app {

inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Writes all of `text` to `descriptor`, retrying interrupted writes; gives
// up quietly on any other error (a closed pipe, a full disk).
void WriteAllToDescriptor(int descriptor, std::string_view text);

}  // namespace app
