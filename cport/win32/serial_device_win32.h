// The system's serial device: every device call is the Win32 call of the
// same name on the device's handle, so the kernel driver does the work.
//
// The component's OVERLAPPED blocks carry the system's own block in their
// reserved storage (OVERLAPPED::System): an operation places a fresh system
// block there whose event is the block's hEvent object, the system signals
// it, and GetOverlappedResult takes the result from it into Internal and
// InternalHigh. Blocks must carry an event. Results are the numbers
// GetLastError gives.
#pragma once

#include <memory>
#include <string>

#include "cport/serial_device.h"

namespace cport::detail {

// CreateFileA(path, read and write, exclusive, OPEN_EXISTING,
// FILE_FLAG_OVERLAPPED); the failure as GetLastError gives it.
device::DeviceError OpenSystemDevice(const std::string& path,
                                     std::unique_ptr<device::SerialDevice>& device);

}  // namespace cport::detail
