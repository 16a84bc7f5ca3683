// The Windows port-name table: which backend a port name opens.
#include "cport/detail/device_openers.h"

#include <cctype>
#include <charconv>
#include <string_view>

#include "cport/network_port_name.h"
#include "cport/win32/serial_device_win32.h"

namespace cport::detail {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";
constexpr unsigned kLastComPort = 255;

constexpr const char* kNoVirtualPorts =
    "Windows has no virtual ports: use one of a pair of COM ports made by a null-modem emulator "
    "driver and connect the client to the other one (network ports, tcp:PORT, are not available "
    "on Windows yet)";
constexpr const char* kNoNetworkPorts =
    "network ports work on Linux only for now: on Windows use a COM port, for example one of a "
    "pair made by a null-modem emulator driver";

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

// COM1 to COM255.
bool ComPortNumber(std::string_view name, unsigned& number) {
  if (name.size() < 4 || !SameLetters(name.substr(0, 3), "COM")) return false;
  const std::string_view digits = name.substr(3);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return error == std::errc() && end == digits.data() + digits.size() && number >= 1 &&
         number <= kLastComPort && digits.front() != '0';
}

// The system's name of a COM port; COM10 and up are reached only this way.
std::string ComPortPath(unsigned number) {
  return std::string(kDevicePrefix) + "COM" + std::to_string(number);
}

bool IsDeviceName(std::string_view name) {
  return name.starts_with(kDevicePrefix) && name.size() > kDevicePrefix.size();
}

}  // namespace

device::DeviceError OpenByPortName(const std::string& name,
                                   std::unique_ptr<device::SerialDevice>& device) {
  if (device::DeviceError result; OpenMemoryDevice(name, device, result)) return result;
  if (SameLetters(name, "loop")) return OpenLoopDevice(device);
  if (SameLetters(name, "virtual")) return {device::ERROR_FILE_NOT_FOUND, 0, kNoVirtualPorts};
  if (LooksLikeNetworkPortName(name)) {
    return {device::ERROR_FILE_NOT_FOUND, 0, kNoNetworkPorts};
  }
  if (IsDeviceName(name)) return OpenSystemDevice(name, device);
  if (unsigned number = 0; ComPortNumber(name, number)) {
    return OpenSystemDevice(ComPortPath(number), device);
  }
  return device::ERROR_FILE_NOT_FOUND;
}

}  // namespace cport::detail

namespace cport::device {

std::string DevicePathOf(const std::string& portName) {
  if (unsigned number = 0; detail::ComPortNumber(portName, number)) {
    return detail::ComPortPath(number);
  }
  return portName;
}

}  // namespace cport::device
