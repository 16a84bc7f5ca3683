#include "app/headless/virtual_port_link.h"

#include <unistd.h>

#include <stdexcept>
#include <system_error>

namespace app {
namespace {

namespace fs = std::filesystem;

std::runtime_error LinkError(const fs::path& path, const std::string& reason) {
  return std::runtime_error("cannot link " + path.string() + ": " + reason);
}

}  // namespace

VirtualPortLink::VirtualPortLink(fs::path path, std::string target)
    : path_(std::move(path)), target_(std::move(target)) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path_, error);
  if (fs::exists(status) && !fs::is_symlink(status)) {
    throw LinkError(path_, "it exists and is not a symbolic link");
  }
  // A new link beside the old one, renamed over it: the path never dangles.
  fs::path fresh = path_;
  fresh += ".new-" + std::to_string(::getpid());
  fs::remove(fresh, error);
  fs::create_symlink(target_, fresh, error);
  if (error) throw LinkError(path_, error.message());
  fs::rename(fresh, path_, error);
  if (error) {
    std::error_code ignored;
    fs::remove(fresh, ignored);
    throw LinkError(path_, error.message());
  }
}

VirtualPortLink::~VirtualPortLink() {
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(path_, error)) &&
      fs::read_symlink(path_, error) == fs::path(target_)) {
    fs::remove(path_, error);
  }
}

}  // namespace app
