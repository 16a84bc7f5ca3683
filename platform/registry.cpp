// The typed reads and writes, the same over every platform's store.
#include <utility>

#include "platform/registry.h"

namespace platform {
namespace {

[[noreturn]] void Fail(std::string_view name, const std::string& what) {
  throw RegistryError(std::string(name), "registry value \"" + std::string(name) + "\": " + what);
}

}  // namespace

RegistryError::RegistryError(std::string value_name, const std::string& message)
    : std::runtime_error(message), value_name_(std::move(value_name)) {}

bool Registry::ValueExists(std::string_view name) const {
  return ReadValue(name).has_value();
}

std::string Registry::ReadString(std::string_view name) const {
  const auto value = ReadValue(name);
  if (!value) return {};
  if (value->type != RegistryType::String && value->type != RegistryType::ExpandString) {
    Fail(name, "is not a text value");
  }
  return value->data.substr(0, value->data.find('\0'));
}

std::int32_t Registry::ReadInteger(std::string_view name) const {
  const auto value = ReadValue(name);
  if (!value) Fail(name, "does not exist");
  if (value->type != RegistryType::Dword || value->data.size() != 4) {
    Fail(name, "is not an integer value");
  }
  std::uint32_t bits = 0;
  for (int i = 3; i >= 0; --i) {
    bits = (bits << 8) | static_cast<unsigned char>(value->data[static_cast<std::size_t>(i)]);
  }
  return static_cast<std::int32_t>(bits);
}

void Registry::WriteString(std::string_view name, std::string_view text) {
  std::string data(text);
  data.push_back('\0');
  WriteValue(name, RegistryValue{RegistryType::String, std::move(data)});
}

void Registry::WriteInteger(std::string_view name, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  std::string data(4, '\0');
  for (std::size_t i = 0; i < 4; ++i)
    data[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  WriteValue(name, RegistryValue{RegistryType::Dword, std::move(data)});
}

}  // namespace platform
