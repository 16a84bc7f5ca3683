// The serial devices present on this machine, offered in the window's port
// list after its numbered entries.
//
// On Linux: the built-in ports (/dev/ttyS*) whose UART the kernel found,
// USB adapters (/dev/ttyUSB*, /dev/ttyACM*) and their stable names
// (/dev/serial/by-id/*), in that order, numbered names in numeric order.
// Nothing is opened: the built-in ports are judged by the kernel's record
// of their UART type, so that listing never touches a line's signals. Any
// thread; a folder that cannot be read contributes nothing.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace app {

std::vector<std::string> SerialDevicesPresent();
// The same, with the device folder and the kernel's tty class folder given
// (tests pass a tree of their own).
std::vector<std::string> SerialDevicesPresent(const std::filesystem::path& devices,
                                              const std::filesystem::path& ttyClasses);

}  // namespace app
