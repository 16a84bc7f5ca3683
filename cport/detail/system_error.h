// Turning POSIX failures into the device layer's system error numbers.
//
// ErrorFromErrno maps an errno value onto the Win32 number the component
// relies on and remembers the POSIX reason for the calling thread, so that
// SystemErrorMessage, asked in the same thread for the same number, can add
// the system's own words ("... (Device or resource busy)"). Thread-safe: the
// reason is kept per thread.
#pragma once

#include <string>

#include "cport/serial_device.h"

namespace cport::detail {

// ENOENT, ENODEV, ENXIO -> 2; EACCES, EPERM, EBUSY, EWOULDBLOCK -> 5;
// EINVAL, ENOTTY -> 87; EIO, EPIPE, ENOTCONN -> 1167; ECANCELED -> 995;
// anything else -> 31.
device::DWORD ErrorFromErrno(int err);
// Remembers `err` as the POSIX reason for `code` in this thread.
void NoteErrnoReason(device::DWORD code, int err);
// The POSIX description remembered for `code` in this thread, or empty.
std::string ErrnoReasonFor(device::DWORD code);

}  // namespace cport::detail
