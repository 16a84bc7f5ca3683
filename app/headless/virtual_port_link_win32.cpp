#include <stdexcept>

#include "app/headless/virtual_port_link.h"

namespace app {

// There are no virtual ports on Windows, so there is nothing to link to.
VirtualPortLink::VirtualPortLink(std::filesystem::path path) : path_(std::move(path)) {
  throw std::runtime_error(
      "--link is not available on Windows: there are no virtual ports; "
      "give the client the other COM port of a null-modem pair instead");
}

void VirtualPortLink::PointTo(const std::string& target) {
  target_ = target;
}

VirtualPortLink::~VirtualPortLink() = default;

}  // namespace app
