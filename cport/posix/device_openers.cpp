// The POSIX port-name table: which backend a port name opens.
#include "cport/detail/device_openers.h"

#include <cerrno>
#include <string_view>

#include "cport/detail/port_name_rules.h"
#include "cport/network_port_name.h"

namespace cport::detail {

namespace {

std::string ComPortPath(unsigned number) {
  return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace

device::DeviceError OpenByPortName(const std::string& name,
                                   std::unique_ptr<device::SerialDevice>& device) {
  if (device::DeviceError result; OpenMemoryDevice(name, device, result)) return result;
  if (SameLetters(name, "loop")) return OpenLoopDevice(device);
  if (SameLetters(name, "virtual")) return OpenVirtualDevice(device);
  if (!name.empty() && name.front() == '/') return OpenPosixDevice(name, device);
  if (LooksLikeNetworkPortName(name)) return OpenNetworkDevice(name, device);
  if (unsigned number = 0; ComPortNumber(name, number)) {
    return OpenPosixDevice(ComPortPath(number), device);
  }
  return {device::ERROR_FILE_NOT_FOUND, ENOENT};
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
