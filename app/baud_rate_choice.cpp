#include "app/baud_rate_choice.h"

#include <array>
#include <charconv>
#include <utility>

namespace app {
namespace {

constexpr std::array<std::pair<std::int32_t, cport::TBaudRate>, 15> kNamedRates = {{
    {110, cport::br110},
    {300, cport::br300},
    {600, cport::br600},
    {1200, cport::br1200},
    {2400, cport::br2400},
    {4800, cport::br4800},
    {9600, cport::br9600},
    {14400, cport::br14400},
    {19200, cport::br19200},
    {38400, cport::br38400},
    {56000, cport::br56000},
    {57600, cport::br57600},
    {115200, cport::br115200},
    {128000, cport::br128000},
    {256000, cport::br256000},
}};

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<BaudRateChoice> ChooseBaudRate(std::string_view text) {
  text = TrimBlanks(text);
  std::int32_t rate = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || rate <= 0) {
    return std::nullopt;
  }
  for (const auto& [named, value] : kNamedRates) {
    if (named == rate) return BaudRateChoice{value, rate};
  }
  return BaudRateChoice{cport::brCustom, rate};
}

void ApplyBaudRate(cport::TCustomComPort& port, const BaudRateChoice& choice) {
  if (choice.baudRate == cport::brCustom) port.SetCustomBaudRate(choice.customBaudRate);
  port.SetBaudRate(choice.baudRate);
}

}  // namespace app
