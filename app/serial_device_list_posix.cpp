#include <algorithm>
#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>

#include "app/serial_device_list.h"

namespace app {
namespace {

namespace fs = std::filesystem;

// The names in `folder` that start with `prefix` followed only by digits,
// in numeric order.
std::vector<std::string> NumberedNames(const fs::path& folder, std::string_view prefix) {
  std::vector<std::pair<unsigned, std::string>> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix) || name.size() == prefix.size()) continue;
    unsigned number = 0;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    const auto [end, failed] = std::from_chars(first, last, number);
    if (failed == std::errc() && end == last) found.emplace_back(number, name);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  for (auto& [number, name] : found)
    names.push_back(std::move(name));
  return names;
}

// A built-in port whose UART the kernel did not find has type 0.
bool UartPresent(const fs::path& ttyClasses, const std::string& name) {
  std::ifstream type(ttyClasses / name / "type");
  int value = 0;
  return static_cast<bool>(type >> value) && value != 0;
}

}  // namespace

std::vector<std::string> SerialDevicesPresent(const fs::path& devices, const fs::path& ttyClasses) {
  std::vector<std::string> paths;
  for (const std::string& name : NumberedNames(devices, "ttyS")) {
    if (UartPresent(ttyClasses, name)) paths.push_back((devices / name).string());
  }
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (const std::string& name : NumberedNames(devices, prefix))
      paths.push_back((devices / name).string());
  }
  std::vector<std::string> stable;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(devices / "serial" / "by-id", error)) {
    stable.push_back(entry.path().string());
  }
  std::sort(stable.begin(), stable.end());
  paths.insert(paths.end(), stable.begin(), stable.end());
  return paths;
}

std::vector<std::string> SerialDevicesPresent() {
  return SerialDevicesPresent("/dev", "/sys/class/tty");
}

}  // namespace app
