// The window's entry in a build without Qt: says so and points to --headless.
#include <cstdio>

#include "app/run_window.h"

namespace app {

int RunWindow(const ProgramOptions&, ShutdownSignals&, int&, char**) {
  std::fputs("quillane: this build has no window; run with --headless\n", stderr);
  return 2;
}

}  // namespace app
