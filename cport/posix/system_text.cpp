// The descriptions of the Win32 error numbers the POSIX backends report,
// worded as the system that defines them words them, and the result an
// ended operation's block keeps.
#include <string_view>

#include "cport/detail/device_openers.h"

namespace cport {
namespace detail {

namespace {

std::string_view BaseMessage(device::DWORD code) {
  switch (code) {
    case device::ERROR_SUCCESS:
      return "The operation completed successfully.";
    case device::ERROR_FILE_NOT_FOUND:
      return "The system cannot find the file specified.";
    case device::ERROR_ACCESS_DENIED:
      return "Access is denied.";
    case device::ERROR_INVALID_HANDLE:
      return "The handle is invalid.";
    case device::ERROR_GEN_FAILURE:
      return "A device attached to the system is not functioning.";
    case device::ERROR_NOT_SUPPORTED:
      return "The request is not supported.";
    case device::ERROR_INVALID_PARAMETER:
      return "The parameter is incorrect.";
    case device::ERROR_OPERATION_ABORTED:
      return "The I/O operation has been aborted because of either a thread exit or an "
             "application request.";
    case device::ERROR_IO_INCOMPLETE:
      return "Overlapped I/O event is not in a signaled state.";
    case device::ERROR_IO_PENDING:
      return "Overlapped I/O operation is in progress.";
    case device::ERROR_DEVICE_NOT_CONNECTED:
      return "The device is not connected.";
    default:
      return {};
  }
}

}  // namespace

std::string SystemText(device::DWORD code) {
  return std::string(BaseMessage(code));
}

}  // namespace detail

namespace device {

// The POSIX backends complete a block by writing its result into it.
DeviceError EndedOperationResult(const OVERLAPPED& overlapped, DWORD* transferred) {
  *transferred = static_cast<DWORD>(overlapped.InternalHigh);
  return static_cast<DWORD>(overlapped.Internal);
}

}  // namespace device
}  // namespace cport
