// Saving and loading the port's settings as named values, in an INI section
// (named after the component) or in the values of an open registry key.
//
// One key table drives all four operations: each key's name, group, stored
// form, and how it is read from and assigned to the port. Every load assigns
// through the property setters, one key at a time, so loading onto an open
// port reconfigures the device with the setters' own rules, and a key's
// INI default is the setting's value at the moment that key is read.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "cport/CPort.h"
#include "cport/setting_texts.h"
#include "platform/ini_file.h"
#include "platform/registry.h"

namespace cport {

namespace {

using Port = TCustomComPort;

// One stored setting. A text key has `text`/`assignText`, an integer key
// `integer`/`assignInteger`.
struct SettingKey {
  std::string_view name;
  TStoredProp group;
  std::string (*text)(const Port&) = nullptr;
  void (*assignText)(Port&, std::string_view) = nullptr;
  std::int32_t (*integer)(const Port&) = nullptr;
  void (*assignInteger)(Port&, std::int32_t) = nullptr;
  // Stored only while this holds (checked when the key is reached).
  bool (*applies)(const Port&) = nullptr;
  // INI default used instead of the current value.
  std::optional<std::int32_t> fixedDefault;
};

constexpr SettingKey Text(std::string_view name, TStoredProp group,
                          std::string (*text)(const Port&),
                          void (*assignText)(Port&, std::string_view)) {
  return SettingKey{name, group, text, assignText, nullptr, nullptr, nullptr, std::nullopt};
}

constexpr SettingKey Integer(std::string_view name, TStoredProp group,
                             std::int32_t (*integer)(const Port&),
                             void (*assignInteger)(Port&, std::int32_t)) {
  return SettingKey{name, group, nullptr, nullptr, integer, assignInteger, nullptr, std::nullopt};
}

// The keys in the order every operation walks them; the groups follow each
// other as basic, others, parity, buffer, timeouts, flow control.
constexpr std::array<SettingKey, 29> kSettingKeys{
    Text(
        "Port", spBasic, [](const Port& p) { return p.Port(); },
        [](Port& p, std::string_view t) { p.SetPort(std::string(t)); }),
    Text(
        "BaudRate", spBasic, [](const Port& p) { return FormatBaudRate(p.BaudRate()); },
        [](Port& p, std::string_view t) { p.SetBaudRate(ParseBaudRate(t)); }),
    SettingKey{"CustomBaudRate", spBasic, nullptr, nullptr,
               [](const Port& p) { return p.CustomBaudRate(); },
               [](Port& p, std::int32_t v) { p.SetCustomBaudRate(v); },
               [](const Port& p) { return p.BaudRate() == brCustom; }, 9600},
    Text(
        "StopBits", spBasic, [](const Port& p) { return FormatStopBits(p.StopBits()); },
        [](Port& p, std::string_view t) { p.SetStopBits(ParseStopBits(t)); }),
    Text(
        "DataBits", spBasic, [](const Port& p) { return FormatDataBits(p.DataBits()); },
        [](Port& p, std::string_view t) { p.SetDataBits(ParseDataBits(t)); }),
    Text(
        "Parity", spBasic, [](const Port& p) { return FormatParity(p.Parity().Bits()); },
        [](Port& p, std::string_view t) { p.Parity().SetBits(ParseParity(t)); }),
    Text(
        "FlowControl", spBasic,
        [](const Port& p) { return FormatFlowControl(p.FlowControl().FlowControl()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetFlowControl(ParseFlowControl(t)); }),
    Text(
        "EventChar", spOthers, [](const Port& p) { return FormatChar(p.EventChar()); },
        [](Port& p, std::string_view t) { p.SetEventChar(ParseChar(t)); }),
    Text(
        "DiscardNull", spOthers, [](const Port& p) { return FormatBool(p.DiscardNull()); },
        [](Port& p, std::string_view t) { p.SetDiscardNull(ParseBool(t)); }),
    Text(
        "Parity.Check", spParity, [](const Port& p) { return FormatBool(p.Parity().Check()); },
        [](Port& p, std::string_view t) { p.Parity().SetCheck(ParseBool(t)); }),
    Text(
        "Parity.Replace", spParity, [](const Port& p) { return FormatBool(p.Parity().Replace()); },
        [](Port& p, std::string_view t) { p.Parity().SetReplace(ParseBool(t)); }),
    Text(
        "Parity.ReplaceChar", spParity,
        [](const Port& p) { return FormatChar(p.Parity().ReplaceChar()); },
        [](Port& p, std::string_view t) { p.Parity().SetReplaceChar(ParseChar(t)); }),
    Integer(
        "Buffer.OutputSize", spBuffer, [](const Port& p) { return p.Buffer().OutputSize(); },
        [](Port& p, std::int32_t v) { p.Buffer().SetOutputSize(v); }),
    Integer(
        "Buffer.InputSize", spBuffer, [](const Port& p) { return p.Buffer().InputSize(); },
        [](Port& p, std::int32_t v) { p.Buffer().SetInputSize(v); }),
    Integer(
        "Timeouts.ReadInterval", spTimeouts,
        [](const Port& p) { return p.Timeouts().ReadInterval(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetReadInterval(v); }),
    Integer(
        "Timeouts.ReadTotalConstant", spTimeouts,
        [](const Port& p) { return p.Timeouts().ReadTotalConstant(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalConstant(v); }),
    Integer(
        "Timeouts.ReadTotalMultiplier", spTimeouts,
        [](const Port& p) { return p.Timeouts().ReadTotalMultiplier(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetReadTotalMultiplier(v); }),
    Integer(
        "Timeouts.WriteTotalConstant", spTimeouts,
        [](const Port& p) { return p.Timeouts().WriteTotalConstant(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalConstant(v); }),
    Integer(
        "Timeouts.WriteTotalMultiplier", spTimeouts,
        [](const Port& p) { return p.Timeouts().WriteTotalMultiplier(); },
        [](Port& p, std::int32_t v) { p.Timeouts().SetWriteTotalMultiplier(v); }),
    Text(
        "FlowControl.ControlRTS", spFlowControl,
        [](const Port& p) { return FormatRTSControl(p.FlowControl().ControlRTS()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetControlRTS(ParseRTSControl(t)); }),
    Text(
        "FlowControl.ControlDTR", spFlowControl,
        [](const Port& p) { return FormatDTRControl(p.FlowControl().ControlDTR()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetControlDTR(ParseDTRControl(t)); }),
    Text(
        "FlowControl.DSRSensitivity", spFlowControl,
        [](const Port& p) { return FormatBool(p.FlowControl().DSRSensitivity()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetDSRSensitivity(ParseBool(t)); }),
    Text(
        "FlowControl.OutCTSFlow", spFlowControl,
        [](const Port& p) { return FormatBool(p.FlowControl().OutCTSFlow()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetOutCTSFlow(ParseBool(t)); }),
    Text(
        "FlowControl.OutDSRFlow", spFlowControl,
        [](const Port& p) { return FormatBool(p.FlowControl().OutDSRFlow()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetOutDSRFlow(ParseBool(t)); }),
    Text(
        "FlowControl.TxContinueOnXoff", spFlowControl,
        [](const Port& p) { return FormatBool(p.FlowControl().TxContinueOnXoff()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetTxContinueOnXoff(ParseBool(t)); }),
    Text(
        "FlowControl.XonXoffIn", spFlowControl,
        [](const Port& p) { return FormatBool(p.FlowControl().XonXoffIn()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetXonXoffIn(ParseBool(t)); }),
    Text(
        "FlowControl.XonXoffOut", spFlowControl,
        [](const Port& p) { return FormatBool(p.FlowControl().XonXoffOut()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetXonXoffOut(ParseBool(t)); }),
    Text(
        "FlowControl.XoffChar", spFlowControl,
        [](const Port& p) { return FormatChar(p.FlowControl().XoffChar()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetXoffChar(ParseChar(t)); }),
    Text(
        "FlowControl.XonChar", spFlowControl,
        [](const Port& p) { return FormatChar(p.FlowControl().XonChar()); },
        [](Port& p, std::string_view t) { p.FlowControl().SetXonChar(ParseChar(t)); }),
};

// The two stores behind one face. Reads take the INI default; the registry
// has none (a missing text is empty, a missing integer an error).
class IniStore {
 public:
  IniStore(platform::IniFile& ini, std::string section) : ini_(ini), section_(std::move(section)) {}
  void WriteText(std::string_view key, const std::string& text) {
    ini_.WriteString(section_, key, text);
  }
  void WriteInteger(std::string_view key, std::int32_t value) {
    ini_.WriteInteger(section_, key, value);
  }
  std::string ReadText(std::string_view key, const std::string& fallback) const {
    return ini_.ReadString(section_, key, fallback);
  }
  std::int32_t ReadInteger(std::string_view key, std::int32_t fallback) const {
    return ini_.ReadInteger(section_, key, fallback);
  }

 private:
  platform::IniFile& ini_;
  std::string section_;
};

class RegistryStore {
 public:
  explicit RegistryStore(platform::Registry& registry) : registry_(registry) {}
  void WriteText(std::string_view key, const std::string& text) {
    registry_.WriteString(key, text);
  }
  void WriteInteger(std::string_view key, std::int32_t value) {
    registry_.WriteInteger(key, value);
  }
  std::string ReadText(std::string_view key, const std::string&) const {
    return registry_.ReadString(key);
  }
  std::int32_t ReadInteger(std::string_view key, std::int32_t) const {
    return registry_.ReadInteger(key);
  }

 private:
  platform::Registry& registry_;
};

// Whether `key` takes part now: its group is selected and, for a key that is
// conditional, its condition holds for the settings as they are at this key.
bool Selected(const SettingKey& key, const Port& port) {
  return port.StoredProps().Contains(key.group) && (key.applies == nullptr || key.applies(port));
}

template <class Store>
void SaveSettings(const Port& port, Store& store) {
  for (const SettingKey& key : kSettingKeys) {
    if (!Selected(key, port)) continue;
    if (key.text != nullptr) {
      store.WriteText(key.name, key.text(port));
    } else {
      store.WriteInteger(key.name, key.integer(port));
    }
  }
}

template <class Store>
void LoadSettings(Port& port, const Store& store) {
  for (const SettingKey& key : kSettingKeys) {
    if (!Selected(key, port)) continue;
    if (key.text != nullptr) {
      key.assignText(port, store.ReadText(key.name, key.text(port)));
    } else {
      const std::int32_t fallback = key.fixedDefault.value_or(key.integer(port));
      key.assignInteger(port, store.ReadInteger(key.name, fallback));
    }
  }
}

}  // namespace

void TCustomComPort::SaveToRegistryKey(platform::Registry& registry) {
  RegistryStore store(registry);
  SaveSettings(*this, store);
}

// The INI object keeps its writes in memory; the save is complete once they
// are on disk, and a failure to put them there is the save's failure.
void TCustomComPort::SaveToIniSection(platform::IniFile& ini) {
  IniStore store(ini, Name());
  SaveSettings(*this, store);
  ini.UpdateFile();
}

void TCustomComPort::LoadFromRegistryKey(platform::Registry& registry) {
  LoadSettings(*this, RegistryStore(registry));
}

void TCustomComPort::LoadFromIniSection(platform::IniFile& ini) {
  LoadSettings(*this, IniStore(ini, Name()));
}

}  // namespace cport
