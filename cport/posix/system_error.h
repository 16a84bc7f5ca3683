// Turning POSIX failures into the device layer's results.
//
// ErrorFromErrno maps an errno value onto the Win32 number the component
// relies on and keeps the errno beside it, so the failure carries its own
// reason to whoever reports it.
#pragma once

#include "cport/serial_device.h"

namespace cport::detail {

// ENOENT, ENODEV, ENXIO -> 2; EACCES, EPERM, EBUSY, EWOULDBLOCK -> 5;
// EINVAL, ENOTTY -> 87; EIO, EPIPE, ENOTCONN -> 1167; ECANCELED -> 995;
// anything else -> 31.
device::DeviceError ErrorFromErrno(int err);

}  // namespace cport::detail
