// Any baud rate on a tty, through the kernel's termios2 interface (BOTHER).
//
// Kept in a file of its own because the kernel header that defines
// struct termios2 also defines a struct termios that clashes with the one
// of <termios.h>; no file may include both. Callable from any thread.
// Errors: the errno of the failing ioctl (0 on success).
#pragma once

#include <cstdint>

namespace cport::detail {

// Sets both directions of `fd` to `baud`, keeping every other setting.
int SetAnyRate(int fd, std::uint32_t baud);

// The output rate `fd` runs at, in baud, whatever way it was set.
int ReadRate(int fd, std::uint32_t& baud);

}  // namespace cport::detail
