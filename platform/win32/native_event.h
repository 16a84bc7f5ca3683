// An event as the system's own event object, for the Windows code that
// hands it to the system (an OVERLAPPED block's hEvent, a system wait).
//
// The object owns its handle and closes it when the last EventHandle to it
// goes away; NativeHandle gives the handle without passing ownership.
#pragma once

#include "platform/win32/windows_headers.h"

#include "platform/events.h"

namespace platform {

class EventObject {
 public:
  explicit EventObject(HANDLE handle) : handle_(handle) {}
  ~EventObject() { ::CloseHandle(handle_); }
  EventObject(const EventObject&) = delete;
  EventObject& operator=(const EventObject&) = delete;

  HANDLE Native() const { return handle_; }

 private:
  HANDLE handle_;
};

// The system handle of `event`, or null for an empty handle.
inline HANDLE NativeHandle(const EventHandle& event) {
  return event ? event->Native() : nullptr;
}

}  // namespace platform
