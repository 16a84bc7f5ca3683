#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include "platform/registry_file.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kValuesFile = ".values";
constexpr std::string_view kLockFile = ".lock";

std::string Quoted(std::string_view name) {
  return "\"" + std::string(name) + "\"";
}

[[noreturn]] void Fail(std::string_view name, const std::string& what) {
  throw RegistryError(std::string(name), "registry value " + Quoted(name) + ": " + what);
}

[[noreturn]] void FailErrno(std::string_view name, const std::string& what, int error) {
  Fail(name, what + ": " + std::generic_category().message(error));
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// A file descriptor closed on every path.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  // Closes now and reports the close's own error (a late write failure).
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

// Folder of a key path, below `root`. Empty parts are refused.
fs::path KeyFolder(const fs::path& root, std::string_view path) {
  while (!path.empty() && path.front() == '\\')
    path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\')
    path.remove_suffix(1);
  fs::path folder = root;
  if (path.empty()) return folder;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('\\', start);
    const std::string_view part = path.substr(start, end - start);
    if (part.empty()) {
      throw RegistryError(std::string(path),
                          "registry key " + Quoted(path) + ": empty part in the key path");
    }
    folder /= registry_file::EncodeKeyPart(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return folder;
}

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// Replaces `target` by a file holding `bytes`, so that readers and a crash
// leave either the old or the complete new content, never a mix. (The folder
// is not synced: after a crash the last write may be missing, never torn.)
void ReplaceFileAtomically(const fs::path& target, std::string_view bytes, std::string_view name) {
  std::string temp = target.string() + ".tmp.XXXXXX";
  Fd fd(::mkstemp(temp.data()));
  if (fd.get() < 0) FailErrno(name, "cannot create " + temp, errno);
  int error = WriteAll(fd.get(), bytes);
  if (error == 0 && ::fsync(fd.get()) != 0) error = errno;
  const int close_error = fd.Close();
  if (error == 0) error = close_error;
  if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    FailErrno(name, "cannot write " + target.string(), error);
  }
}

fs::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  std::array<char, 4096> buffer{};
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  throw RegistryError("", "registry: no home folder for the current user");
}

const char* RootKeyName(RegistryRootKey root) {
  switch (root) {
    case RegistryRootKey::ClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RegistryRootKey::CurrentUser:
      return "HKEY_CURRENT_USER";
    case RegistryRootKey::LocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case RegistryRootKey::Users:
      return "HKEY_USERS";
    case RegistryRootKey::CurrentConfig:
      return "HKEY_CURRENT_CONFIG";
  }
  throw RegistryError("", "registry: unknown root key");
}

fs::path FolderOf(RegistryRootKey root) {
  fs::path folder = Registry::DefaultRoot();
  if (root == RegistryRootKey::CurrentUser) return folder;
  return folder.parent_path() / (folder.filename().string() + "." + RootKeyName(root));
}

struct Entry {
  std::string name;
  RegistryValue value;
};

}  // namespace

struct Registry::CurrentKey {
  fs::path folder;
  std::string path;  // as given to OpenKey

  const fs::path& Folder(std::string_view name) const {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) Fail(name, "the key " + Quoted(path) + " no longer exists");
    return folder;
  }
};

namespace {

std::vector<Entry> LoadEntries(const fs::path& folder, std::string_view name) {
  const fs::path file = folder / kValuesFile;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (!fs::exists(file)) return {};
    Fail(name, "cannot read " + file.string());
  }
  std::ostringstream content;
  content << in.rdbuf();
  std::vector<Entry> entries;
  auto parsed = registry_file::Parse(content.str());
  if (!parsed) Fail(name, "the file " + file.string() + " is damaged");
  for (auto& [value_name, value] : *parsed) {
    entries.push_back(Entry{std::move(value_name), std::move(value)});
  }
  return entries;
}

void StoreEntries(const fs::path& folder, std::string_view name,
                  const std::vector<Entry>& entries) {
  std::vector<std::pair<std::string, RegistryValue>> values;
  values.reserve(entries.size());
  for (const auto& entry : entries)
    values.emplace_back(entry.name, entry.value);
  ReplaceFileAtomically(folder / kValuesFile, registry_file::Format(values), name);
}

// Reads the key's values, lets `change` edit them and stores them again
// when it returns true, all under the key's advisory lock.
template <typename Change>
void Modify(const fs::path& folder, std::string_view name, Change change) {
  const fs::path lock_path = folder / kLockFile;
  Fd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lock.get() < 0) FailErrno(name, "cannot lock " + lock_path.string(), errno);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) FailErrno(name, "cannot lock " + lock_path.string(), errno);
  }
  std::vector<Entry> entries = LoadEntries(folder, name);
  if (change(entries)) StoreEntries(folder, name, entries);
}

}  // namespace

const Registry::CurrentKey& Registry::Current(std::string_view name) const {
  if (!current_) Fail(name, "no registry key is open");
  return *current_;
}

fs::path Registry::DefaultRoot() {
  fs::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    config = xdg;
  } else {
    config = HomeFolder() / ".config";
  }
  return config / "quillane" / "registry";
}

Registry::Registry() : Registry(RegistryRootKey::CurrentUser) {}

Registry::Registry(RegistryRootKey root) : root_key_(root), root_(FolderOf(root)) {}

Registry::Registry(fs::path root) : root_(std::move(root)) {}

bool Registry::OpenKey(std::string_view path, bool can_create) {
  fs::path folder = KeyFolder(root_, path);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    if (!can_create) return false;
    fs::create_directories(folder, ec);
    if (ec) {
      throw RegistryError(std::string(path),
                          "registry key " + Quoted(path) + ": cannot create: " + ec.message());
    }
  }
  current_ = std::make_shared<const CurrentKey>(CurrentKey{std::move(folder), std::string(path)});
  current_path_ = std::string(path);
  return true;
}

bool Registry::KeyExists(std::string_view path) const {
  std::error_code ec;
  return fs::is_directory(KeyFolder(root_, path), ec);
}

bool Registry::DeleteKey(std::string_view path) {
  const fs::path folder = KeyFolder(root_, path);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return false;
  if (current_ && (current_->folder == folder ||
                   current_->folder.string().starts_with(folder.string() + "/"))) {
    CloseKey();
  }
  fs::remove_all(folder, ec);
  if (ec) {
    throw RegistryError(std::string(path),
                        "registry key " + Quoted(path) + ": cannot delete: " + ec.message());
  }
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
  for (auto& entry : LoadEntries(Current(name).Folder(name), name)) {
    if (SameName(entry.name, name)) return std::move(entry.value);
  }
  return std::nullopt;
}

void Registry::WriteValue(std::string_view name, const RegistryValue& value) {
  Modify(Current(name).Folder(name), name, [&](std::vector<Entry>& entries) {
    for (auto& entry : entries) {
      if (SameName(entry.name, name)) {
        entry.value = value;
        return true;
      }
    }
    entries.push_back(Entry{std::string(name), value});
    return true;
  });
}

bool Registry::DeleteValue(std::string_view name) {
  bool found = false;
  Modify(Current(name).Folder(name), name, [&](std::vector<Entry>& entries) {
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [&](const Entry& entry) { return SameName(entry.name, name); });
    found = it != entries.end();
    if (found) entries.erase(it);
    return found;
  });
  return found;
}

std::vector<std::string> Registry::ValueNames() const {
  std::vector<std::string> names;
  for (auto& entry : LoadEntries(Current("").Folder(""), ""))
    names.push_back(std::move(entry.name));
  return names;
}

}  // namespace platform
