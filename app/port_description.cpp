#include "app/port_description.h"

#include <array>

#include "cport/setting_texts.h"

namespace app {

std::string LineSettingsText(const cport::TCustomComPort& port) {
  static constexpr std::array<char, 5> kParityLetters{'N', 'O', 'E', 'M', 'S'};
  const std::string rate = port.BaudRate() == cport::brCustom
                               ? std::to_string(port.CustomBaudRate())
                               : cport::FormatBaudRate(port.BaudRate());
  return rate + " baud " + cport::FormatDataBits(port.DataBits()) +
         kParityLetters.at(port.Parity().Bits()) + cport::FormatStopBits(port.StopBits()) +
         ", flow control " + cport::FormatFlowControl(port.FlowControl().FlowControl());
}

std::string PortOpenedText(const cport::TCustomComPort& port) {
  std::string device = port.ClientPath();
  if (device.empty()) device = cport::device::DevicePathOf(port.Port());
  std::string text = "port " + port.Port() + " open";
  if (!device.empty() && device != port.Port()) text += " on " + device;
  return text + ", " + LineSettingsText(port);
}

}  // namespace app
