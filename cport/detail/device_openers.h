// The backends' open functions, called by CreateFileA once it has picked the
// backend from the port name. Each returns ERROR_SUCCESS and sets `device`,
// or returns the system error (2 no such device, 5 in use, ...) and leaves
// `device` empty. Callable from any thread.
#pragma once

#include <memory>
#include <string>

#include "cport/serial_device.h"

namespace cport::detail {

// A tty by path (a real port, a USB adapter, a pseudo-terminal slave).
device::DWORD OpenPosixDevice(const std::string& path,
                              std::unique_ptr<device::SerialDevice>& device);
// A new pseudo-terminal pair; ClientPath names the slave.
device::DWORD OpenVirtualDevice(std::unique_ptr<device::SerialDevice>& device);
// A listening socket by network port name ("tcp:...", "rfc2217:..."); 2 for
// a name that is not well formed.
device::DWORD OpenNetworkDevice(const std::string& name,
                                std::unique_ptr<device::SerialDevice>& device);
// An in-memory loopback: what is written is read back.
device::DWORD OpenLoopDevice(std::unique_ptr<device::SerialDevice>& device);
// A test's memory line registered under `name`; false when no line has that
// name (then `result` is untouched).
bool OpenMemoryDevice(const std::string& name, std::unique_ptr<device::SerialDevice>& device,
                      device::DWORD& result);

}  // namespace cport::detail
