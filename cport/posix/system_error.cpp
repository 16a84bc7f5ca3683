#include "cport/posix/system_error.h"

#include <cerrno>
#include <cstring>

#include "cport/detail/device_openers.h"

namespace cport::detail {

device::DeviceError ErrorFromErrno(int err) {
  device::DWORD code = device::ERROR_GEN_FAILURE;
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      code = device::ERROR_FILE_NOT_FOUND;
      break;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      code = device::ERROR_ACCESS_DENIED;
      break;
    case EINVAL:
    case ENOTTY:
      code = device::ERROR_INVALID_PARAMETER;
      break;
    case EIO:
    case EPIPE:
    case ENOTCONN:
      code = device::ERROR_DEVICE_NOT_CONNECTED;
      break;
    case ECANCELED:
      code = device::ERROR_OPERATION_ABORTED;
      break;
    default:
      break;
  }
  return {code, err};
}

std::string PosixReason(int posixErrno) {
  // The system's own words ("Inappropriate ioctl for device") say nothing to
  // someone who named a file that is not a serial line.
  if (posixErrno == ENOTTY) return "not a serial device";
  char buffer[256] = {};
  // The GNU variant may return a static string instead of filling buffer.
  const char* text = strerror_r(posixErrno, buffer, sizeof buffer);
  return text ? std::string(text) : std::string(buffer);
}

}  // namespace cport::detail
