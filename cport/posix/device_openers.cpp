// The POSIX port-name table: which backend a port name opens.
#include "cport/detail/device_openers.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <string_view>

#include "cport/network_port_name.h"

namespace cport::detail {

namespace {

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
