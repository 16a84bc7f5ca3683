/* Test scaffolding for Wine on a pseudo-terminal, never part of the program.
 *
 * A pseudo-terminal has no modem lines: TIOCMGET, TIOCMSET, TIOCMBIS and
 * TIOCMBIC fail with ENOTTY, and Wine's GetCommModemStatus and
 * WaitCommEvent then fail. Loaded with LD_PRELOAD into Wine, this answers
 * those four requests for pty slaves (character devices with major numbers
 * 136 to 143) as a cable to a ready modem would: DTR and RTS stay as set,
 * CTS, DSR and DCD read on. Every other request goes to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int outputs = TIOCM_DTR | TIOCM_RTS;

static int is_pty_slave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int answer(unsigned long request, int* lines) {
  const int kept = TIOCM_DTR | TIOCM_RTS;
  switch (request) {
    case TIOCMGET:
      *lines = (outputs & kept) | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
      return 0;
    case TIOCMSET:
      outputs = *lines & kept;
      return 0;
    case TIOCMBIS:
      outputs |= *lines & kept;
      return 0;
    case TIOCMBIC:
      outputs &= ~(*lines & kept);
      return 0;
    default:
      return -1;
  }
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*next)(int, unsigned long, void*) = 0;
  va_list args;
  va_start(args, request);
  void* argument = va_arg(args, void*);
  va_end(args);
  if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
       request == TIOCMBIC) && argument && is_pty_slave(fd)) {
    return answer(request, (int*)argument);
  }
  if (!next) next = (int (*)(int, unsigned long, void*))dlsym(RTLD_NEXT, "ioctl");
  return next(fd, request, argument);
}
