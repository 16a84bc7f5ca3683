#include "cport/detail/system_error.h"

#include <cerrno>
#include <cstring>

namespace cport::detail {

namespace {

struct Reason {
  device::DWORD code = 0;
  int err = 0;
};

thread_local Reason lastReason;

std::string Describe(int err) {
  char buffer[256] = {};
  // The GNU variant may return a static string instead of filling buffer.
  const char* text = strerror_r(err, buffer, sizeof buffer);
  return text ? std::string(text) : std::string(buffer);
}

}  // namespace

device::DWORD ErrorFromErrno(int err) {
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
  NoteErrnoReason(code, err);
  return code;
}

void NoteErrnoReason(device::DWORD code, int err) {
  lastReason = Reason{code, err};
}

std::string ErrnoReasonFor(device::DWORD code) {
  if (lastReason.err == 0 || lastReason.code != code) return {};
  return Describe(lastReason.err);
}

}  // namespace cport::detail
