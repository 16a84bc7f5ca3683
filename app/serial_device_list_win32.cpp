#include "platform/win32/windows_headers.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "app/serial_device_list.h"

namespace app {
namespace {

// The number of a "COMn" name, 0 for any other name.
unsigned ComNumber(std::string_view name) {
  if (name.size() < 4 || !name.starts_with("COM")) return 0;
  unsigned number = 0;
  const auto [end, error] = std::from_chars(name.data() + 3, name.data() + name.size(), number);
  return error == std::errc() && end == name.data() + name.size() ? number : 0;
}

// Every name the system's device namespace holds, as QueryDosDeviceA lists
// them (one after the other, each ended by a zero).
std::string DosDeviceNames() {
  std::string names(64 * 1024, '\0');
  for (;;) {
    const DWORD length = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    if (length != 0) {
      names.resize(length);
      return names;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || names.size() > 16 * 1024 * 1024) {
      return {};
    }
    names.resize(names.size() * 2);
  }
}

}  // namespace

// On Windows: the COM ports the system knows (its device namespace's COMn
// names), in numeric order. Nothing is opened.
std::vector<std::string> SerialDevicesPresent() {
  const std::string names = DosDeviceNames();
  std::vector<std::pair<unsigned, std::string>> found;
  for (std::size_t at = 0; at < names.size();) {
    const std::size_t end = std::min(names.find('\0', at), names.size());
    const std::string name = names.substr(at, end - at);
    if (const unsigned number = ComNumber(name); number != 0) found.emplace_back(number, name);
    at = end + 1;
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> ports;
  for (auto& [number, name] : found)
    ports.push_back(std::move(name));
  return ports;
}

}  // namespace app
