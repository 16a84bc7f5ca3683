// The registry is the system's: keys are opened below the predefined root
// key the caller named, values are stored with the system's types.
#include "platform/win32/windows_headers.h"

#include <algorithm>
#include <utility>

#include "platform/registry.h"
#include "platform/win32/system_message.h"

namespace platform {

namespace fs = std::filesystem;

struct Registry::CurrentKey {
  explicit CurrentKey(HKEY opened) : key(opened) {}
  ~CurrentKey() { ::RegCloseKey(key); }
  CurrentKey(const CurrentKey&) = delete;
  CurrentKey& operator=(const CurrentKey&) = delete;

  HKEY key;
};

namespace {

std::string Quoted(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

[[noreturn]] void FailValue(std::string_view name, const std::string& what, LONG error) {
  throw RegistryError(std::string(name),
                      "registry value " + Quoted(name) + ": " + what + ": " + SystemMessage(error));
}

[[noreturn]] void FailKey(std::string_view path, const std::string& what, LONG error) {
  throw RegistryError(std::string(path),
                      "registry key " + Quoted(path) + ": " + what + ": " + SystemMessage(error));
}

HKEY RootHandle(RegistryRootKey root) {
  switch (root) {
    case RegistryRootKey::ClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegistryRootKey::CurrentUser:
      return HKEY_CURRENT_USER;
    case RegistryRootKey::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegistryRootKey::Users:
      return HKEY_USERS;
    case RegistryRootKey::CurrentConfig:
      return HKEY_CURRENT_CONFIG;
  }
  throw RegistryError("", "registry: unknown root key");
}

// The path without leading and trailing backslashes; an empty part between
// two backslashes is refused, as the system would read it differently.
std::string SubKey(std::string_view path) {
  while (!path.empty() && path.front() == '\\')
    path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\')
    path.remove_suffix(1);
  if (path.find("\\\\") != std::string_view::npos) {
    throw RegistryError(std::string(path),
                        "registry key " + Quoted(path) + ": empty part in the key path");
  }
  return std::string(path);
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `key` is `top` or lies below it (names compare without case).
bool IsAtOrBelow(const std::string& key, const std::string& top) {
  if (key.size() < top.size()) return false;
  const bool prefix = std::equal(top.begin(), top.end(), key.begin(),
                                 [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
  return prefix && (key.size() == top.size() || top.empty() || key[top.size()] == '\\');
}

}  // namespace

const Registry::CurrentKey& Registry::Current(std::string_view name) const {
  if (!current_) {
    throw RegistryError(std::string(name),
                        "registry value " + Quoted(name) + ": no registry key is open");
  }
  return *current_;
}

fs::path Registry::DefaultRoot() {
  return {};
}

Registry::Registry() : Registry(RegistryRootKey::CurrentUser) {}

Registry::Registry(RegistryRootKey root) : root_key_(root) {}

bool Registry::OpenKey(std::string_view path, bool can_create) {
  const std::string sub = SubKey(path);
  HKEY opened = nullptr;
  const REGSAM access = KEY_READ | KEY_WRITE;
  if (can_create) {
    const LONG error =
        ::RegCreateKeyExA(RootHandle(root_key_), sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          access, nullptr, &opened, nullptr);
    if (error != ERROR_SUCCESS) FailKey(path, "cannot create", error);
  } else {
    const LONG error = ::RegOpenKeyExA(RootHandle(root_key_), sub.c_str(), 0, access, &opened);
    if (error == ERROR_FILE_NOT_FOUND) return false;
    if (error != ERROR_SUCCESS) FailKey(path, "cannot open", error);
  }
  current_ = std::make_shared<const CurrentKey>(opened);
  current_path_ = std::string(path);
  return true;
}

bool Registry::KeyExists(std::string_view path) const {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(RootHandle(root_key_), SubKey(path).c_str(), 0, KEY_READ, &opened) !=
      ERROR_SUCCESS) {
    return false;
  }
  ::RegCloseKey(opened);
  return true;
}

bool Registry::DeleteKey(std::string_view path) {
  const std::string sub = SubKey(path);
  if (current_ && IsAtOrBelow(SubKey(current_path_), sub)) CloseKey();
  const LONG error = ::RegDeleteTreeA(RootHandle(root_key_), sub.c_str());
  if (error == ERROR_FILE_NOT_FOUND) return false;
  if (error != ERROR_SUCCESS) FailKey(path, "cannot delete", error);
  return true;
}

void Registry::CloseKey() {
  current_.reset();
  current_path_.clear();
}

std::string Registry::CurrentPath() const {
  return current_path_;
}

std::optional<RegistryValue> Registry::ReadValue(std::string_view name) const {
  const HKEY key = Current(name).key;
  const std::string valueName(name);
  std::string data;
  for (;;) {
    DWORD type = 0;
    auto size = static_cast<DWORD>(data.size());
    const LONG error =
        ::RegQueryValueExA(key, valueName.c_str(), nullptr, &type,
                           data.empty() ? nullptr : reinterpret_cast<BYTE*>(data.data()), &size);
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
    // The first call only asks for the size, and a value that grew in
    // between asks again.
    if (error == ERROR_MORE_DATA || (error == ERROR_SUCCESS && data.empty() && size > 0)) {
      data.resize(size);
      continue;
    }
    if (error != ERROR_SUCCESS) FailValue(name, "cannot read", error);
    data.resize(size);
    return RegistryValue{static_cast<RegistryType>(type), std::move(data)};
  }
}

void Registry::WriteValue(std::string_view name, const RegistryValue& value) {
  const HKEY key = Current(name).key;
  const LONG error = ::RegSetValueExA(
      key, std::string(name).c_str(), 0, static_cast<DWORD>(value.type),
      reinterpret_cast<const BYTE*>(value.data.data()), static_cast<DWORD>(value.data.size()));
  if (error != ERROR_SUCCESS) FailValue(name, "cannot write", error);
}

bool Registry::DeleteValue(std::string_view name) {
  const LONG error = ::RegDeleteValueA(Current(name).key, std::string(name).c_str());
  if (error == ERROR_FILE_NOT_FOUND) return false;
  if (error != ERROR_SUCCESS) FailValue(name, "cannot delete", error);
  return true;
}

std::vector<std::string> Registry::ValueNames() const {
  const HKEY key = Current("").key;
  std::vector<std::string> names;
  // Value names are at most 16383 characters.
  std::string buffer(16384, '\0');
  for (DWORD index = 0;; ++index) {
    auto length = static_cast<DWORD>(buffer.size());
    const LONG error =
        ::RegEnumValueA(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) return names;
    if (error != ERROR_SUCCESS) FailValue("", "cannot list the values", error);
    names.emplace_back(buffer.data(), length);
  }
}

}  // namespace platform
