// The registry: keys addressed by a backslash-separated path below a root
// key, each holding named values of a type (text, integer, raw bytes).
//
// On Windows it is the system's registry, below the predefined root key the
// caller names. On POSIX it is a typed file store of our own, described
// below, one folder per root key.
//
// A Registry object has at most one current key open; values are read from
// and written to that key. Text values (RegistryType::String) are stored with
// one terminating zero byte that counts in the stored length; integer values
// (RegistryType::Dword) hold the 32-bit two's-complement pattern, little
// endian. Key and value names compare ASCII case-insensitively; a value keeps
// the spelling it was first written with.
//
// POSIX: on disk every key is a folder under the root (one folder per path
// part) and its values live in one file in that folder, replaced atomically on every
// write (temporary file, fsync, rename), so a reader never sees half a key.
// Each operation reads the file afresh, so several Registry objects on the
// same root see each other's writes; writers of one key serialise through an
// advisory lock.
//
// Threads: one Registry object belongs to one thread at a time; distinct
// objects may be used from different threads and processes.
//
// Errors: every failure raises RegistryError, whose text and ValueName() name
// the value concerned (or the key, for failures that concern no one value);
// on Windows the text includes the system's message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Value types, numbered as the system registry numbers them.
enum class RegistryType : std::uint32_t {
  None = 0,
  String = 1,        // REG_SZ
  ExpandString = 2,  // REG_EXPAND_SZ
  Binary = 3,        // REG_BINARY
  Dword = 4,         // REG_DWORD
};

// A stored value exactly as kept: its type and its bytes.
struct RegistryValue {
  RegistryType type = RegistryType::None;
  std::string data;

  bool operator==(const RegistryValue&) const = default;
};

// The predefined root keys, numbered as the system numbers them.
enum class RegistryRootKey : std::uint32_t {
  ClassesRoot = 0x80000000,    // HKEY_CLASSES_ROOT
  CurrentUser = 0x80000001,    // HKEY_CURRENT_USER
  LocalMachine = 0x80000002,   // HKEY_LOCAL_MACHINE
  Users = 0x80000003,          // HKEY_USERS
  CurrentConfig = 0x80000005,  // HKEY_CURRENT_CONFIG
};

class RegistryError : public std::runtime_error {
 public:
  RegistryError(std::string value_name, const std::string& message);

  // The value (or key path) the failure concerns.
  const std::string& ValueName() const { return value_name_; }

 private:
  std::string value_name_;
};

class Registry {
 public:
  // POSIX: the folder of HKEY_CURRENT_USER, $XDG_CONFIG_HOME/quillane/registry,
  // else ~/.config/quillane/registry; another root key's folder is a sibling
  // named after it ("registry.HKEY_LOCAL_MACHINE").
  static std::filesystem::path DefaultRoot();

  // The current user's keys (HKEY_CURRENT_USER).
  Registry();
  // The keys below the predefined root key `root`.
  explicit Registry(RegistryRootKey root);
  // POSIX only, where the registry is our file store: a store kept in the
  // folder `root` (created on demand), for tests and hosts that keep their
  // own.
  explicit Registry(std::filesystem::path root);

  RegistryRootKey RootKey() const { return root_key_; }
  // POSIX: the store's folder.
  const std::filesystem::path& Root() const { return root_; }

  // Opens the key at `path` (parts separated by backslashes, taken from the
  // root; leading and trailing backslashes are ignored) and makes it current.
  // A missing key is created when `can_create` is true; otherwise false is
  // returned and the current key stays as it was. An empty or "." / ".."
  // part, or a failure to create, raises RegistryError.
  bool OpenKey(std::string_view path, bool can_create);
  bool KeyExists(std::string_view path) const;
  // Removes the key at `path` with its values and subkeys (closing it first
  // when it is the current key); false when there was no such key.
  bool DeleteKey(std::string_view path);
  void CloseKey();
  bool HasCurrentKey() const { return current_ != nullptr; }
  // The path given to the last successful OpenKey, empty when none is open.
  std::string CurrentPath() const;

  // Text up to the first zero byte; empty text when the value does not
  // exist. A value of a type other than String or ExpandString raises.
  std::string ReadString(std::string_view name) const;
  // The stored Dword; raises when the value is missing or of another type.
  std::int32_t ReadInteger(std::string_view name) const;
  // Store `text` (plus its terminating zero) as a String value.
  void WriteString(std::string_view name, std::string_view text);
  // Store `value` as a Dword value.
  void WriteInteger(std::string_view name, std::int32_t value);

  // The value as stored, or nothing when it does not exist.
  std::optional<RegistryValue> ReadValue(std::string_view name) const;
  void WriteValue(std::string_view name, const RegistryValue& value);
  bool ValueExists(std::string_view name) const;
  // Returns false when there was no such value.
  bool DeleteValue(std::string_view name);
  // The names of the current key's values, in the order first written.
  std::vector<std::string> ValueNames() const;

 private:
  // The platform's hold on the current key: its folder on POSIX, its open
  // handle on Windows.
  struct CurrentKey;
  // The current key; raises naming `name` when none is open.
  const CurrentKey& Current(std::string_view name) const;

  RegistryRootKey root_key_ = RegistryRootKey::CurrentUser;
  std::filesystem::path root_;
  std::shared_ptr<const CurrentKey> current_;
  std::string current_path_;
};

}  // namespace platform
