// The Windows port-name table: which backend a port name opens.
#include "cport/detail/device_openers.h"

#include <string_view>

#include "cport/detail/port_name_rules.h"
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

// COM1 to COM255.
bool WindowsComPortNumber(std::string_view name, unsigned& number) {
  return ComPortNumber(name, number) && number <= kLastComPort;
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
  if (unsigned number = 0; WindowsComPortNumber(name, number)) {
    return OpenSystemDevice(ComPortPath(number), device);
  }
  return device::ERROR_FILE_NOT_FOUND;
}

}  // namespace cport::detail

namespace cport::device {

std::string DevicePathOf(const std::string& portName) {
  if (unsigned number = 0; detail::WindowsComPortNumber(portName, number)) {
    return detail::ComPortPath(number);
  }
  return portName;
}

}  // namespace cport::device
