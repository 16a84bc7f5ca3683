// Only kernel headers here: <termios.h> would clash with <asm/termbits.h>.
#include "cport/posix/termios2_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace cport::detail {

int SetAnyRate(int fd, std::uint32_t baud) {
  termios2 tio{};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  tio.c_ispeed = baud;
  tio.c_ospeed = baud;
  return ::ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

int ReadRate(int fd, std::uint32_t& baud) {
  termios2 tio{};
  if (::ioctl(fd, TCGETS2, &tio) != 0) return errno;
  baud = tio.c_ospeed;
  return 0;
}

}  // namespace cport::detail
