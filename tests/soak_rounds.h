// How many rounds a repeated-use test runs. `make test` runs the quick count;
// `make soak` sets QUILLANE_SOAK_FACTOR to run every such test many times
// longer.
#pragma once

#include <cstdlib>
#include <string>

namespace soak {

inline int Rounds(int quick) {
  const char* factor = std::getenv("QUILLANE_SOAK_FACTOR");
  if (factor == nullptr) return quick;
  const int times = std::atoi(factor);
  return times > 1 ? quick * times : quick;
}

}  // namespace soak
