// Synchronous reads and writes on a device of the device layer, the way the
// device tests drive the component's side of a line: each call is expected
// to succeed, and a failure is reported to the running test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cport/serial_device.h"

namespace test_support {

// Writes `bytes` in one call; the count the device took.
inline cport::device::DWORD WriteToDevice(cport::device::SerialDevice& device,
                                          std::string_view bytes) {
  cport::device::DWORD written = 0;
  EXPECT_EQ(device.WriteFile(bytes.data(), static_cast<cport::device::DWORD>(bytes.size()),
                             &written, nullptr),
            cport::device::ERROR_SUCCESS);
  return written;
}

// One read of up to `count` bytes under the device's time-outs.
inline std::string ReadFromDevice(cport::device::SerialDevice& device, cport::device::DWORD count) {
  std::string buffer(count, '\0');
  cport::device::DWORD read = 0;
  EXPECT_EQ(device.ReadFile(buffer.data(), count, &read, nullptr), cport::device::ERROR_SUCCESS);
  buffer.resize(read);
  return buffer;
}

}  // namespace test_support
