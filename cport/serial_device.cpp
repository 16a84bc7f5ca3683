// Opening a device by port name, and the texts of the system error numbers.
#include "cport/serial_device.h"

#include <cctype>
#include <charconv>

#include "cport/detail/device_openers.h"
#include "cport/detail/system_error.h"
#include "cport/network_port_name.h"

namespace cport::device {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// COMn with n from 1: the n-th serial port, /dev/ttyS{n-1}.
bool ComPortNumber(std::string_view name, unsigned& number) {
  if (name.size() < 4 || !SameLetters(name.substr(0, 3), "COM")) return false;
  const std::string_view digits = name.substr(3);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return error == std::errc() && end == digits.data() + digits.size() && number >= 1 &&
         digits.front() != '0';
}

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
  const std::string reason = detail::ErrnoReasonFor(code);
  if (!reason.empty()) text += " (" + reason + ")";
  return text;
}

DWORD CreateFileA(const std::string& path, std::unique_ptr<SerialDevice>& device) {
  device.reset();
  detail::NoteErrnoReason(ERROR_SUCCESS, 0);  // a reason from an earlier call must not stick
  if (!path.starts_with(kDevicePrefix) || path.size() == kDevicePrefix.size()) {
    return ERROR_FILE_NOT_FOUND;
  }
  const std::string name = path.substr(kDevicePrefix.size());
  if (DWORD result = 0; detail::OpenMemoryDevice(name, device, result)) return result;
  if (SameLetters(name, "loop")) return detail::OpenLoopDevice(device);
  if (SameLetters(name, "virtual")) return detail::OpenVirtualDevice(device);
  if (name.front() == '/') return detail::OpenPosixDevice(name, device);
  if (LooksLikeNetworkPortName(name)) return detail::OpenNetworkDevice(name, device);
  if (unsigned number = 0; ComPortNumber(name, number)) {
    return detail::OpenPosixDevice("/dev/ttyS" + std::to_string(number - 1), device);
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace cport::device
