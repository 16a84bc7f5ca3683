// quillane: a PC that behaves like a small serial-line measuring device.
//
//   quillane [--headless] [--port NAME] [--baud RATE] [--simulate]
//            [--link PATH] [--parameter-file PATH]
//            [--port-settings FILE] [--save-port-settings FILE]
//            [--fault FAULT]... [--seed N] [--line-delay MS] [--line-timing]
//
// Without --headless the window opens and the options preselect its
// controls; with it the port is opened at start and the log goes to stdout.
// Exit status: 0 on a clean end, 1 when the port cannot be opened, 2 for a
// usage error or when no display is available for the window.
#include <CLI/CLI.hpp>
#include <iostream>

#include "app/baud_rate_choice.h"
#include "app/fault_option.h"
#include "app/parameter_table.h"
#include "app/program_options.h"
#include "app/run_window.h"
#include "app/shutdown_signals.h"

namespace {

constexpr int kUsageError = 2;

struct PathOptions {
  std::string link;
  std::string parameterFile;
  std::string portSettings;
  std::string savePortSettings;
  std::vector<std::string> faults;
  std::uint64_t seed = 0;
};

constexpr const char* kFaultHelp =
    "A fault on what the device sends (repeatable): KIND[:KEY=VALUE,...] with KIND one of "
    "drop, delay (ms=MS), truncate (keep=BYTES, default half), corrupt, noise (bytes=N, default "
    "8), duplicate, stall (ms=MS), hangup (virtual and network ports: the client is dropped as "
    "by a pulled cable); exactly one of every=N, at=N+M+..., p=P; and on=replies (default), "
    "readings or all. Example: delay:ms=1500,every=3";

void DefineLineFaultOptions(CLI::App& cli, app::LineFaultOptions& faults, PathOptions& paths) {
  cli.add_option("--fault", paths.faults, kFaultHelp)
      ->type_name("FAULT")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check([](const std::string& text) -> std::string {
        try {
          app::ParseFaultOption(text);
        } catch (const app::FaultOptionError& error) {
          return error.what();
        }
        return "";
      });
  cli.add_option("--seed", paths.seed,
                 "Seed of the fault schedule's random choices (default: picked and logged)");
  cli.add_option("--line-delay", faults.lineDelayMs,
                 "Every byte the device sends leaves the line MS milliseconds later")
      ->type_name("MS")
      ->check(CLI::Range(std::uint32_t{0}, app::kMaxFaultMilliseconds));
  cli.add_flag("--line-timing", faults.lineTiming,
               "Bytes move at the port's baud rate both ways, as on a UART (9600 8N1: 960 bytes "
               "a second), so writes take their time and end short under their time-out; a "
               "real tty does this already");
}

void DefineOptions(CLI::App& cli, app::ProgramOptions& options, PathOptions& paths) {
  cli.set_version_flag("--version", "quillane " QUILLANE_VERSION);
  cli.add_flag("--headless", options.headless, "Run without a window, logging to stdout");
  cli.add_option("--port", options.port,
                 "Port name: virtual (a new pseudo-terminal), COM1..COMn, a device path, "
                 "tcp:[HOST:]PORT or rfc2217:[HOST:]PORT (a listening socket)")
      ->default_str("virtual")
      ->check([](const std::string& name) {
        return name.find_first_not_of(" \t") == std::string::npos ? "the port name is empty" : "";
      });
  cli.add_option("--baud", options.baudRate, "Baud rate, any positive number")
      ->default_str("9600")
      ->check([](const std::string& rate) {
        return app::ChooseBaudRate(rate) ? "" : "'" + rate + "' is not a valid baud rate";
      });
  cli.add_flag("--simulate", options.simulate, "Send a simulated temperature reading every second");
  cli.add_option("--link", paths.link,
                 "With --headless and a virtual port: a symbolic link to its client side");
  cli.add_option("--parameter-file", paths.parameterFile,
                 "Parameter file to use instead of the one next to the program");
  cli.add_option("--port-settings", paths.portSettings,
                 "INI file whose [ComPort1] section sets the port before it opens")
      ->check(CLI::ExistingFile);
  cli.add_option("--save-port-settings", paths.savePortSettings,
                 "Write the port's settings as an INI file and exit");
  DefineLineFaultOptions(cli, options.lineFaults, paths);
}

void TakeLineFaultOptions(const CLI::App& cli, const PathOptions& paths,
                          app::LineFaultOptions& faults) {
  for (const std::string& text : paths.faults)
    faults.faults.push_back(app::ParseFaultOption(text));
  if (cli.count("--seed") > 0) faults.seed = paths.seed;
}

// Rules that join several options.
void CheckCombinations(const CLI::App& cli, const app::ProgramOptions& options) {
  if (const auto problem = app::CheckLineFaultsForPort(options.lineFaults, options.port)) {
    throw CLI::ValidationError(problem->option, problem->reason);
  }
  if (cli.count("--link") == 0) return;
  if (!options.headless) throw CLI::ValidationError("--link", "needs --headless");
  if (options.port != "virtual") throw CLI::ValidationError("--link", "needs --port virtual");
}

}  // namespace

int main(int argc, char** argv) {
  app::ProgramOptions options;
  PathOptions paths;
  CLI::App cli("A serial-line measuring device simulated on this computer", "quillane");
  DefineOptions(cli, options, paths);
  try {
    cli.parse(argc, argv);
    TakeLineFaultOptions(cli, paths, options.lineFaults);
    CheckCombinations(cli, options);
  } catch (const CLI::Success& done) {
    return cli.exit(done);
  } catch (const CLI::Error& error) {
    cli.exit(error);
    return kUsageError;
  }
  options.portGiven = cli.count("--port") > 0;
  options.baudRateGiven = cli.count("--baud") > 0;
  if (!paths.link.empty()) options.link = paths.link;
  options.parameterFile = paths.parameterFile.empty() ? app::DefaultParameterFilePath()
                                                      : std::filesystem::path(paths.parameterFile);
  if (!paths.portSettings.empty()) options.portSettings = paths.portSettings;
  if (!paths.savePortSettings.empty()) {
    options.savePortSettings = paths.savePortSettings;
    return app::RunSavePortSettings(options);
  }

  // Before any thread starts, so that every thread inherits the blocked mask.
  app::ShutdownSignals shutdownSignals;
  return options.headless ? app::RunHeadless(options, shutdownSignals)
                          : app::RunWindow(options, shutdownSignals, argc, argv);
}
