// A symbolic link to a virtual port's client side, so that clients find the
// port at a fixed path (the pseudo-terminal's own name changes every run).
//
// The link is made when the object is constructed: an existing symbolic link
// at the path is replaced (atomically, by renaming a new link over it);
// anything else there is left alone and std::runtime_error says why. The
// destructor removes the link, unless something else has replaced it since.
// Main thread only.
#pragma once

#include <filesystem>
#include <string>

namespace app {

class VirtualPortLink {
 public:
  VirtualPortLink(std::filesystem::path path, std::string target);
  ~VirtualPortLink();
  VirtualPortLink(const VirtualPortLink&) = delete;
  VirtualPortLink& operator=(const VirtualPortLink&) = delete;

 private:
  std::filesystem::path path_;
  std::string target_;
};

}  // namespace app
