#include "cport/posix/tty_line.h"

#include <termios.h>

#include <cerrno>

#include "cport/posix/system_error.h"

namespace cport::detail {

device::DeviceError Failure(int err) {
  return ErrorFromErrno(err);
}

device::DeviceError OpenFailure(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return {device::ERROR_FILE_NOT_FOUND, err};
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return {device::ERROR_ACCESS_DENIED, err};
    default:
      return {device::ERROR_GEN_FAILURE, err};
  }
}

device::DeviceError MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return OpenFailure(errno);
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return OpenFailure(errno);
  return device::ERROR_SUCCESS;
}

TtyLine::TtyLine(UniqueFd fd, SerialDriver& driver, PosixIoThread::Options options)
    : fd_(std::move(fd)), driver_(driver), io_(fd_.Get(), driver, std::move(options)) {}

void TtyLine::StopIoAndRelease() {
  io_.Stop();
  fd_.Reset();
}

}  // namespace cport::detail
