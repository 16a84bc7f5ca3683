// Opening a device by port name, and the texts of the system error numbers.
// The port-name table and the system's own texts are the platform's
// (detail/device_openers.h).
#include "cport/serial_device.h"

#include "cport/detail/device_openers.h"

namespace cport::device {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

}  // namespace

std::string SystemErrorMessage(DWORD code) {
  std::string text = detail::SystemText(code);
  if (text.empty()) text = "System error " + std::to_string(code) + ".";
  return text;
}

std::string SystemErrorMessage(const DeviceError& error) {
  std::string text = SystemErrorMessage(error.code);
  if (error.reason != nullptr) {
    text += " (" + std::string(error.reason) + ")";
  } else if (error.posixErrno != 0) {
    text += " (" + detail::PosixReason(error.posixErrno) + ")";
  }
  return text;
}

std::string SystemReason(const DeviceError& error) {
  if (error.reason != nullptr) return error.reason;
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
