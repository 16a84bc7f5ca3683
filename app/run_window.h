// The two ways the program runs: headless on the console, or in its window.
// Each returns the process's exit status. Called once, from main, after the
// ShutdownSignals object has been made (before any other thread).
#pragma once

#include "app/program_options.h"
#include "app/shutdown_signals.h"

namespace app {

// 0 after SIGINT or SIGTERM; 1 when the port cannot be opened or linked.
int RunHeadless(const ProgramOptions& options, ShutdownSignals& shutdownSignals);

// Writes the port settings the other options give (see --save-port-settings)
// and returns 0, or 1 with the reason on stderr.
int RunSavePortSettings(const ProgramOptions& options);

// 0 when the window was closed or a signal asked to stop; 2 without a
// display (or in a build without the window).
int RunWindow(const ProgramOptions& options, ShutdownSignals& shutdownSignals, int& argc,
              char** argv);

}  // namespace app
