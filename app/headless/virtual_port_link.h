// A symbolic link to a virtual port's client side, so that clients find the
// port at a fixed path (the pseudo-terminal's own name changes every run).
//
// One program serves a link at a time. Constructing the object claims the
// link: a lock file beside it ("<link>.lock", holding the owner's process
// id) is locked for the object's life, and a second program that finds it
// locked is refused with std::runtime_error naming the link and the running
// program's process id. A lock file left by a program that is gone is free
// and taken over. PointTo then makes the link: an existing symbolic link at
// the path is replaced (atomically, by renaming a new link over it);
// anything else there is left alone and std::runtime_error says why. The
// destructor removes the link, unless something else has replaced it since,
// and the lock file. Main thread only.
#pragma once

#include <filesystem>
#include <string>

namespace app {

class VirtualPortLink {
 public:
  explicit VirtualPortLink(std::filesystem::path path);
  ~VirtualPortLink();
  VirtualPortLink(const VirtualPortLink&) = delete;
  VirtualPortLink& operator=(const VirtualPortLink&) = delete;

  void PointTo(const std::string& target);

 private:
  std::filesystem::path path_;
  std::filesystem::path lockPath_;
  int lockFd_ = -1;
  std::string target_;
};

}  // namespace app
