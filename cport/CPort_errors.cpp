// The component's error codes, EComPort and ReportComError.
#include <array>
#include <string>

#include "cport/CPort.h"

namespace cport {

namespace {

constexpr std::array<std::string_view, 25> kErrorMessages = {
    "",
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
    "Port Not Open",
};

std::string WithSystemError(int code, int systemError) {
  return std::string(ComErrorMessage(code)) + " (Error: " + std::to_string(systemError) + ")";
}

// The run-time's text for an operating-system error, as the component has
// always shown it next to its own message.
std::string OperatingSystemErrorText(const device::DeviceError& systemError) {
  const std::string description = device::SystemErrorMessage(systemError);
  return "Systemfehler.  Code: " + std::to_string(systemError.code) + ".\r\n" + description;
}

}  // namespace

std::string_view ComErrorMessage(int code) {
  if (code < 1 || code >= static_cast<int>(kErrorMessages.size())) return {};
  return kErrorMessages[static_cast<std::size_t>(code)];
}

EComPort::EComPort(int code, int systemError, std::string detail)
    : std::runtime_error(WithSystemError(code, systemError)),
      systemErrorCode_(systemError),
      comErrorCode_(code),
      detail_(std::move(detail)) {}

EComPort::EComPort(int code)
    : std::runtime_error(std::string(ComErrorMessage(code))),
      systemErrorCode_(-1),
      comErrorCode_(code) {}

std::string DescribeFailure(const std::exception& error) {
  std::string text = error.what();
  if (const auto* port = dynamic_cast<const EComPort*>(&error); port && !port->Detail().empty()) {
    text += ": " + port->Detail();
  }
  return text;
}

void TCustomComPort::ReportComError(std::uint16_t code, std::int64_t systemError) {
  if (onException_) {
    std::string winMessage;
    if (systemError > 0) {
      winMessage = OperatingSystemErrorText(static_cast<device::DWORD>(systemError));
    }
    onException_(*this, static_cast<TComExceptions>(static_cast<std::uint8_t>(code)),
                 std::string(ComErrorMessage(code)), systemError, winMessage);
    return;
  }
  if (systemError > 0) {
    // The exception carries the low 32 bits of the system error.
    throw EComPort(code, static_cast<int>(static_cast<std::uint32_t>(systemError)));
  }
  throw EComPort(code);
}

void TCustomComPort::ReportDeviceError(std::uint16_t code, const device::DeviceError& error) {
  if (error.code == device::ERROR_SUCCESS) return;
  if (onException_) {
    onException_(*this, static_cast<TComExceptions>(static_cast<std::uint8_t>(code)),
                 std::string(ComErrorMessage(code)), error.code, OperatingSystemErrorText(error));
    return;
  }
  throw EComPort(code, static_cast<int>(error.code),
                 device::DevicePathOf(port_) + ": " + device::SystemReason(error));
}

}  // namespace cport
