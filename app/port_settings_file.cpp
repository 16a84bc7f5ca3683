#include "app/port_settings_file.h"

#include <stdexcept>

#include "platform/ini_file.h"

namespace app {
namespace {

const cport::TStoredProps kAllGroups{cport::spBasic,    cport::spFlowControl, cport::spBuffer,
                                     cport::spTimeouts, cport::spParity,      cport::spOthers};

// Selects all six groups for one load or save, then restores the port's own.
class AllGroups {
 public:
  explicit AllGroups(cport::TCustomComPort& port) : port_(port), saved_(port.StoredProps()) {
    port_.SetStoredProps(kAllGroups);
  }
  ~AllGroups() { port_.SetStoredProps(saved_); }
  AllGroups(const AllGroups&) = delete;
  AllGroups& operator=(const AllGroups&) = delete;

 private:
  cport::TCustomComPort& port_;
  cport::TStoredProps saved_;
};

}  // namespace

LoadedPortSettings LoadPortSettingsFile(cport::TCustomComPort& port,
                                        const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) {
    throw std::runtime_error("port settings file " + file.string() + " does not exist");
  }
  platform::IniFile ini(file);
  const AllGroups all(port);
  port.LoadFromIniSection(ini);
  return {ini.ValueExists(port.Name(), "Port"), ini.ValueExists(port.Name(), "BaudRate")};
}

void SavePortSettingsFile(cport::TCustomComPort& port, const std::filesystem::path& file) {
  platform::IniFile ini(file);
  const AllGroups all(port);
  port.SaveToIniSection(ini);
}

}  // namespace app
