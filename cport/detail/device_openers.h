// Opening a device by port name: the platform's table of port names and the
// backends' open functions it picks from. CreateFileA strips the "\\.\"
// prefix and calls OpenByPortName; each platform has one openers file that
// implements OpenByPortName and DevicePathOf (posix/device_openers.cpp,
// win32/device_openers.cpp). Each open function returns ERROR_SUCCESS and
// sets `device`, or returns the failure (2 no such device, 5 in use, ...)
// with its POSIX reason and leaves `device` empty. Callable from any thread.
#pragma once

#include <memory>
#include <string>

#include "cport/serial_device.h"

namespace cport::detail {

// The platform's port-name table.
device::DeviceError OpenByPortName(const std::string& name,
                                   std::unique_ptr<device::SerialDevice>& device);

// POSIX only:
// A tty by path (a real port, a USB adapter, a pseudo-terminal slave).
device::DeviceError OpenPosixDevice(const std::string& path,
                                    std::unique_ptr<device::SerialDevice>& device);
// A new pseudo-terminal pair; ClientPath names the slave.
device::DeviceError OpenVirtualDevice(std::unique_ptr<device::SerialDevice>& device);
// A listening socket by network port name ("tcp:...", "rfc2217:..."); 2 for
// a name that is not well formed.
device::DeviceError OpenNetworkDevice(const std::string& name,
                                      std::unique_ptr<device::SerialDevice>& device);
// An in-memory loopback: what is written is read back.
device::DeviceError OpenLoopDevice(std::unique_ptr<device::SerialDevice>& device);
// A test's memory line registered under `name`; false when no line has that
// name (then `result` is untouched).
bool OpenMemoryDevice(const std::string& name, std::unique_ptr<device::SerialDevice>& device,
                      device::DeviceError& result);

// The reason the system gives for a POSIX error number.
std::string PosixReason(int posixErrno);
// The system's description of a Win32 error number ("Access is denied."),
// empty when it has none.
std::string SystemText(device::DWORD code);

}  // namespace cport::detail
