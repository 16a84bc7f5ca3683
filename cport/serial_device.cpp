// Opening a device by port name, and the texts of the system error numbers.
// The port-name table itself is the platform's (detail/device_openers.h).
#include "cport/serial_device.h"

#include "cport/detail/device_openers.h"

namespace cport::device {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

std::string_view BaseMessage(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS:
      return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
      return "The system cannot find the file specified.";
    case ERROR_ACCESS_DENIED:
      return "Access is denied.";
    case ERROR_INVALID_HANDLE:
      return "The handle is invalid.";
    case ERROR_GEN_FAILURE:
      return "A device attached to the system is not functioning.";
    case ERROR_NOT_SUPPORTED:
      return "The request is not supported.";
    case ERROR_INVALID_PARAMETER:
      return "The parameter is incorrect.";
    case ERROR_OPERATION_ABORTED:
      return "The I/O operation has been aborted because of either a thread exit or an "
             "application request.";
    case ERROR_IO_INCOMPLETE:
      return "Overlapped I/O event is not in a signaled state.";
    case ERROR_IO_PENDING:
      return "Overlapped I/O operation is in progress.";
    case ERROR_DEVICE_NOT_CONNECTED:
      return "The device is not connected.";
    default:
      return {};
  }
}

}  // namespace

std::string SystemErrorMessage(DWORD code) {
  std::string text(BaseMessage(code));
  if (text.empty()) text = "System error " + std::to_string(code) + ".";
  return text;
}

std::string SystemErrorMessage(const DeviceError& error) {
  std::string text = SystemErrorMessage(error.code);
  if (error.posixErrno != 0) text += " (" + detail::PosixReason(error.posixErrno) + ")";
  return text;
}

std::string SystemReason(const DeviceError& error) {
  if (error.posixErrno != 0) return detail::PosixReason(error.posixErrno);
  return SystemErrorMessage(error.code);
}

DeviceError CreateFileA(const std::string& path, std::unique_ptr<SerialDevice>& device) {
  device.reset();
  if (!path.starts_with(kDevicePrefix) || path.size() == kDevicePrefix.size()) {
    return ERROR_FILE_NOT_FOUND;
  }
  return detail::OpenByPortName(path.substr(kDevicePrefix.size()), device);
}

}  // namespace cport::device
