// The program's command-line choices, as parsed by the entry point.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "app/fault_option.h"

namespace app {

struct ProgramOptions {
  bool headless = false;
  std::string port = "virtual";  // a port name as the port box takes it
  bool portGiven = false;
  std::string baudRate = "9600";  // a positive rate (checked by the parser)
  bool baudRateGiven = false;
  bool simulate = false;
  std::optional<std::filesystem::path> link;  // headless, virtual port only
  std::filesystem::path parameterFile;
  std::optional<std::filesystem::path> portSettings;      // loaded before the port opens
  std::optional<std::filesystem::path> savePortSettings;  // written, then the program ends
  LineFaultOptions lineFaults;                            // off unless asked for
};

}  // namespace app
