#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cport/CPort.h"
#include "cport/serial_device_memory.h"
#include "platform/ini_file.h"
#include "platform/registry.h"
#include "tests/support/temp_folder.h"

namespace cport {
namespace {

namespace fs = std::filesystem;

constexpr TStoredProps kAllGroups{spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers};

std::string FileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every setting that persistence covers, read through the getters.
std::string Describe(const TCustomComPort& p) {
  const auto& f = p.FlowControl();
  const auto& t = p.Timeouts();
  std::ostringstream out;
  out << "Port=" << p.Port() << " BaudRate=" << int{p.BaudRate()}
      << " Custom=" << p.CustomBaudRate() << " StopBits=" << int{p.StopBits()}
      << " DataBits=" << int{p.DataBits()} << " EventChar=" << int{p.EventChar()}
      << " DiscardNull=" << p.DiscardNull() << " Parity=" << int{p.Parity().Bits()} << "/"
      << p.Parity().Check() << "/" << p.Parity().Replace() << "/" << int{p.Parity().ReplaceChar()}
      << " Buffer=" << p.Buffer().InputSize() << "/" << p.Buffer().OutputSize()
      << " Timeouts=" << t.ReadInterval() << "/" << t.ReadTotalMultiplier() << "/"
      << t.ReadTotalConstant() << "/" << t.WriteTotalMultiplier() << "/" << t.WriteTotalConstant()
      << " Flow=" << f.OutCTSFlow() << f.OutDSRFlow() << int{f.ControlDTR()} << int{f.ControlRTS()}
      << f.XonXoffOut() << f.XonXoffIn() << f.DSRSensitivity() << f.TxContinueOnXoff() << "/"
      << int{f.XonChar()} << "/" << int{f.XoffChar()};
  return out.str();
}

// A value other than the default in every setting persistence covers; the
// flow-control fields make the summary "Custom".
void SetEverything(TCustomComPort& p) {
  p.SetPort("COM7");
  p.SetBaudRate(br57600);
  p.SetStopBits(sbTwoStopBits);
  p.SetDataBits(dbSeven);
  p.SetEventChar('\n');
  p.SetDiscardNull(true);
  p.Parity().SetBits(prMark);
  p.Parity().SetCheck(true);
  p.Parity().SetReplace(true);
  p.Parity().SetReplaceChar('\xFF');
  p.Buffer().SetInputSize(4096);
  p.Buffer().SetOutputSize(2048);
  p.Timeouts().SetReadInterval(10);
  p.Timeouts().SetReadTotalMultiplier(2);
  p.Timeouts().SetReadTotalConstant(300);
  p.Timeouts().SetWriteTotalMultiplier(-5);
  p.Timeouts().SetWriteTotalConstant(0);
  auto& f = p.FlowControl();
  f.SetOutCTSFlow(true);
  f.SetOutDSRFlow(true);
  f.SetControlDTR(dtrHandshake);
  f.SetControlRTS(rtsToggle);
  f.SetXonXoffOut(true);
  f.SetXonXoffIn(false);
  f.SetDSRSensitivity(true);
  f.SetTxContinueOnXoff(true);
  f.SetXonChar('A');
  f.SetXoffChar(' ');
}

class Persistence : public ::testing::Test {
 protected:
  Persistence() : registry_(folder_.Path() / "registry") {
    port_.SetName("ComPort1");
    fresh_.SetName("ComPort1");
    EXPECT_TRUE(registry_.OpenKey("Software\\Quillane\\ComPort1", true));
  }

  fs::path IniPath() const { return folder_.Path() / "port.ini"; }
  void WriteIni(const std::string& text) const { std::ofstream(IniPath()) << text; }

  // In memory: the registry syncs every write to disk, which costs about
  // 10 ms a write on slow disks.
  test_support::TempFolder folder_ = test_support::TempFolder::InMemory("quillane-persistence");
  platform::Registry registry_;
  TComPort port_;
  TComPort fresh_;
};

TEST_F(Persistence, ANewPortSavesSixBasicEntriesInOrder) {
  platform::IniFile ini(IniPath());
  port_.SaveToIniSection(ini);
  EXPECT_EQ(FileText(IniPath()),
            "[ComPort1]\nPort=COM1\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\n"
            "FlowControl=None\n");
}

TEST_F(Persistence, AllGroupsSaveTwentyEightKeysInTableOrder) {
  port_.SetStoredProps(kAllGroups);
  port_.SaveToRegistryKey(registry_);
  // clang-format off
  const std::vector<std::string> expected{
      "Port", "BaudRate", "StopBits", "DataBits", "Parity", "FlowControl",
      "EventChar", "DiscardNull",
      "Parity.Check", "Parity.Replace", "Parity.ReplaceChar",
      "Buffer.OutputSize", "Buffer.InputSize",
      "Timeouts.ReadInterval", "Timeouts.ReadTotalConstant", "Timeouts.ReadTotalMultiplier",
      "Timeouts.WriteTotalConstant", "Timeouts.WriteTotalMultiplier",
      "FlowControl.ControlRTS", "FlowControl.ControlDTR", "FlowControl.DSRSensitivity",
      "FlowControl.OutCTSFlow", "FlowControl.OutDSRFlow", "FlowControl.TxContinueOnXoff",
      "FlowControl.XonXoffIn", "FlowControl.XonXoffOut", "FlowControl.XoffChar",
      "FlowControl.XonChar"};
  // clang-format on
  EXPECT_EQ(registry_.ValueNames(), expected);
  EXPECT_EQ(registry_.ReadValue("Timeouts.ReadInterval"),
            (platform::RegistryValue{platform::RegistryType::Dword, std::string(4, '\xFF')}));
  EXPECT_EQ(registry_.ReadValue("Port"),
            (platform::RegistryValue{platform::RegistryType::String, std::string("COM1\0", 5)}));
  EXPECT_EQ(registry_.ReadString("FlowControl.XonChar"), "#17");
  EXPECT_EQ(registry_.ReadString("DiscardNull"), "No");

  platform::IniFile ini(IniPath());
  port_.SaveToIniSection(ini);
  EXPECT_EQ(ini.ReadString("ComPort1", "Timeouts.ReadInterval", ""), "-1");
}

TEST_F(Persistence, ACustomRateIsSavedAsTheThirdKeyAndRestored) {
  port_.SetStoredProps(kAllGroups);
  port_.SetBaudRate(brCustom);
  port_.SetCustomBaudRate(31250);
  port_.SaveToRegistryKey(registry_);
  const auto names = registry_.ValueNames();
  ASSERT_EQ(names.size(), 29U);
  EXPECT_EQ(names[2], "CustomBaudRate");
  EXPECT_EQ(registry_.ReadString("BaudRate"), "Custom");

  platform::IniFile ini(IniPath());
  port_.SaveToIniSection(ini);
  EXPECT_EQ(ini.ReadString("ComPort1", "CustomBaudRate", ""), "31250");
  platform::IniFile reread(IniPath());
  fresh_.LoadFromIniSection(reread);
  EXPECT_EQ(fresh_.BaudRate(), brCustom);
  EXPECT_EQ(fresh_.CustomBaudRate(), 31250);
}

TEST_F(Persistence, ACustomRateMissingFromTheSectionBecomes9600) {
  port_.SetCustomBaudRate(31250);
  WriteIni("[ComPort1]\nBaudRate=Custom\n");
  platform::IniFile ini(IniPath());
  port_.LoadFromIniSection(ini);
  EXPECT_EQ(port_.BaudRate(), brCustom);
  EXPECT_EQ(port_.CustomBaudRate(), 9600);
}

TEST_F(Persistence, TheCustomRateIsReadOnlyWhenTheRateJustLoadedIsCustom) {
  port_.SetBaudRate(brCustom);
  port_.SetCustomBaudRate(31250);
  WriteIni("[ComPort1]\nBaudRate=19200\nCustomBaudRate=1000\n");
  platform::IniFile ini(IniPath());
  port_.LoadFromIniSection(ini);
  EXPECT_EQ(port_.BaudRate(), br19200);
  EXPECT_EQ(port_.CustomBaudRate(), 31250);
}

TEST_F(Persistence, EmptyStoredPropsWritesReadsAndChangesNothing) {
  port_.SetStoredProps({});
  SetEverything(port_);
  port_.SaveToRegistryKey(registry_);
  EXPECT_TRUE(registry_.ValueNames().empty());
  platform::IniFile ini(IniPath());
  port_.SaveToIniSection(ini);
  EXPECT_FALSE(fs::exists(IniPath()));

  // Values that would raise or change something if they were read.
  registry_.WriteInteger("Port", 1);
  WriteIni("[ComPort1]\nPort=COM9\nBaudRate=110\n");
  const std::string before = Describe(port_);
  port_.LoadFromRegistryKey(registry_);
  platform::IniFile reread(IniPath());
  port_.LoadFromIniSection(reread);
  EXPECT_EQ(Describe(port_), before);
}

TEST_F(Persistence, UnknownTextsFallBackAndCaseIsIgnored) {
  port_.SetStoredProps(kAllGroups);
  WriteIni(
      "[ComPort1]\nBaudRate=115000\nParity=even\nFlowControl=none\nStopBits=1,5\n"
      "DataBits=7\nDiscardNull=YES\nParity.Check=true\nFlowControl.ControlRTS=TOGGLE\n");
  port_.SetStopBits(sbTwoStopBits);
  platform::IniFile ini(IniPath());
  port_.LoadFromIniSection(ini);
  EXPECT_EQ(port_.BaudRate(), br9600);
  EXPECT_EQ(port_.Parity().Bits(), prEven);
  EXPECT_EQ(port_.StopBits(), sbOneStopBit);
  EXPECT_EQ(port_.DataBits(), dbSeven);
  EXPECT_TRUE(port_.DiscardNull());
  EXPECT_FALSE(port_.Parity().Check());
  EXPECT_EQ(port_.FlowControl().ControlRTS(), rtsToggle);
}

TEST_F(Persistence, MissingIniKeysKeepTheCurrentValuesButEmptyEntriesDoNot) {
  port_.SetStoredProps(kAllGroups);
  SetEverything(port_);
  const std::string before = Describe(port_);
  WriteIni("[ComPort1]\n[Other]\nPort=COM3\n");
  platform::IniFile ini(IniPath());
  port_.LoadFromIniSection(ini);
  EXPECT_EQ(Describe(port_), before);

  WriteIni("[ComPort1]\nPort=\nBaudRate=\n");
  platform::IniFile empty(IniPath());
  port_.LoadFromIniSection(empty);
  EXPECT_EQ(port_.Port(), "");
  EXPECT_EQ(port_.BaudRate(), br9600);
}

TEST_F(Persistence, TheSummaryIsAssignedBeforeTheFlowKeysTakeItsFieldsAsDefaults) {
  port_.SetStoredProps({spBasic, spFlowControl});
  port_.FlowControl().SetFlowControl(fcHardware);
  WriteIni("[ComPort1]\nFlowControl=Software\nFlowControl.XonChar=#1\n");
  platform::IniFile ini(IniPath());
  port_.LoadFromIniSection(ini);
  EXPECT_EQ(port_.FlowControl().FlowControl(), fcSoftware);
  EXPECT_EQ(port_.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_EQ(port_.FlowControl().XonChar(), '\x01');
}

TEST_F(Persistence, AnOddBufferSizeLoadsAsTheNextLowerEvenSize) {
  port_.SetStoredProps({spBuffer});
  WriteIni("[ComPort1]\nBuffer.InputSize=2049\nBuffer.OutputSize=x\n");
  platform::IniFile ini(IniPath());
  port_.LoadFromIniSection(ini);
  EXPECT_EQ(port_.Buffer().InputSize(), 2048);
  EXPECT_EQ(port_.Buffer().OutputSize(), 1024);  // no integer: the current value
}

TEST_F(Persistence, SaveThenLoadIntoAFreshPortReproducesEverySetting) {
  for (const TBaudRate rate : {br57600, brCustom}) {
    port_.SetStoredProps(kAllGroups);
    fresh_.SetStoredProps(kAllGroups);
    SetEverything(port_);
    port_.SetBaudRate(rate);
    if (rate == brCustom) port_.SetCustomBaudRate(31250);

    port_.SaveToRegistryKey(registry_);
    TComPort from_registry;
    from_registry.SetStoredProps(kAllGroups);
    from_registry.LoadFromRegistryKey(registry_);
    EXPECT_EQ(Describe(from_registry), Describe(port_));

    platform::IniFile ini(IniPath());
    port_.SaveToIniSection(ini);
    platform::IniFile reread(IniPath());
    fresh_.LoadFromIniSection(reread);
    EXPECT_EQ(Describe(fresh_), Describe(port_));
  }
}

TEST_F(Persistence, EveryCharacterCodeSurvivesTheRegistry) {
  port_.SetStoredProps({spOthers, spParity, spFlowControl});
  fresh_.SetStoredProps(port_.StoredProps());
  for (int code = 0; code < 256; code += 4) {
    port_.SetEventChar(static_cast<char>(code));
    port_.Parity().SetReplaceChar(static_cast<char>(code + 1));
    port_.FlowControl().SetXonChar(static_cast<char>(code + 2));
    port_.FlowControl().SetXoffChar(static_cast<char>(code + 3));
    port_.SaveToRegistryKey(registry_);
    fresh_.LoadFromRegistryKey(registry_);
    ASSERT_EQ(Describe(fresh_), Describe(port_)) << "codes from " << code;
  }
}

TEST_F(Persistence, ACustomSummaryRestoresNoFlowFieldByItself) {
  port_.FlowControl().SetControlRTS(rtsEnable);
  port_.FlowControl().SetXonXoffIn(true);
  port_.SaveToRegistryKey(registry_);
  EXPECT_EQ(registry_.ReadString("FlowControl"), "Custom");

  fresh_.LoadFromRegistryKey(registry_);
  EXPECT_EQ(fresh_.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_FALSE(fresh_.FlowControl().XonXoffIn());

  port_.SetStoredProps({spBasic, spFlowControl});
  fresh_.SetStoredProps({spBasic, spFlowControl});
  port_.SaveToRegistryKey(registry_);
  fresh_.LoadFromRegistryKey(registry_);
  EXPECT_EQ(Describe(fresh_), Describe(port_));
}

TEST_F(Persistence, MissingRegistryTextsTakeTheFallbacks) {
  port_.SetStoredProps({spBasic, spOthers, spFlowControl});
  SetEverything(port_);
  port_.FlowControl().SetFlowControl(fcHardware);
  port_.LoadFromRegistryKey(registry_);
  EXPECT_EQ(port_.Port(), "");
  EXPECT_EQ(port_.BaudRate(), br9600);
  EXPECT_EQ(port_.StopBits(), sbOneStopBit);
  EXPECT_EQ(port_.DataBits(), dbEight);
  EXPECT_EQ(port_.EventChar(), '\0');
  EXPECT_FALSE(port_.DiscardNull());
  EXPECT_EQ(port_.FlowControl().ControlDTR(), dtrDisable);
  EXPECT_EQ(port_.FlowControl().XonChar(), '\0');
  EXPECT_EQ(port_.FlowControl().FlowControl(), fcNone);
}

TEST_F(Persistence, AMissingRegistryIntegerStopsTheLoadAtThatKey) {
  TComPort source;
  source.SetStoredProps({spBasic, spOthers, spParity, spTimeouts});
  SetEverything(source);
  source.SaveToRegistryKey(registry_);

  fresh_.SetStoredProps(kAllGroups);
  try {
    fresh_.LoadFromRegistryKey(registry_);
    FAIL() << "no error";
  } catch (const platform::RegistryError& error) {
    EXPECT_EQ(error.ValueName(), "Buffer.OutputSize");
  }
  EXPECT_EQ(fresh_.Port(), "COM7");
  EXPECT_EQ(fresh_.DataBits(), dbSeven);
  EXPECT_EQ(fresh_.EventChar(), '\n');
  EXPECT_EQ(fresh_.Parity().ReplaceChar(), '\xFF');
  EXPECT_EQ(fresh_.Buffer().OutputSize(), 1024);
  EXPECT_EQ(fresh_.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(fresh_.FlowControl().XonChar(), '\x11');
}

TEST_F(Persistence, AWrongRegistryTypeStopsTheLoadNamingTheValue) {
  registry_.WriteString("Port", "COM5");
  registry_.WriteInteger("BaudRate", 19200);
  try {
    fresh_.LoadFromRegistryKey(registry_);
    FAIL() << "no error";
  } catch (const platform::RegistryError& error) {
    EXPECT_EQ(error.ValueName(), "BaudRate");
  }
  EXPECT_EQ(fresh_.Port(), "COM5");
}

// --- Loading onto an open port, watched through the memory line.

class PersistenceOnOpenPort : public Persistence {
 protected:
  PersistenceOnOpenPort() : line_("persist-a"), other_("persist-b") {
    port_.SetPort(line_.Name());
    port_.SetSyncMethod(smNone);
    port_.SetEvents({});
    port_.SetStoredProps(kAllGroups);
  }
  ~PersistenceOnOpenPort() override { port_.ClosePort(); }

  // The configuration calls made on `line`, without the event thread's.
  static std::vector<device::DeviceCall> ConfigCalls(const device::MemoryLine& line) {
    std::vector<device::DeviceCall> calls;
    for (auto& call : line.Calls()) {
      if (call.name == "WaitCommEvent" || call.name == "GetOverlappedResult" ||
          call.name == "ClearCommError" || call.name == "GetCommModemStatus") {
        continue;
      }
      calls.push_back(std::move(call));
    }
    return calls;
  }
  static std::vector<std::string> Names(const std::vector<device::DeviceCall>& calls) {
    std::vector<std::string> names;
    for (const auto& call : calls)
      names.push_back(call.name);
    return names;
  }

  device::MemoryLine line_;
  device::MemoryLine other_;
};

TEST_F(PersistenceOnOpenPort, LoadingTheSettingsItHasOnlyReappliesTheLineSettingsOnce) {
  platform::IniFile ini(IniPath());
  port_.SaveToIniSection(ini);
  port_.SaveToRegistryKey(registry_);
  port_.OpenPort();
  ASSERT_TRUE(port_.Connected());

  line_.ClearCalls();
  port_.LoadFromIniSection(ini);
  EXPECT_EQ(Names(ConfigCalls(line_)), std::vector<std::string>{"SetCommState"});

  line_.ClearCalls();
  port_.LoadFromRegistryKey(registry_);
  EXPECT_EQ(Names(ConfigCalls(line_)), std::vector<std::string>{"SetCommState"});
}

TEST_F(PersistenceOnOpenPort, LoadingReconfiguresTheDeviceKeyByKey) {
  WriteIni(
      "[ComPort1]\nBaudRate=19200\nDataBits=7\nParity=Even\nBuffer.InputSize=2048\n"
      "Timeouts.ReadInterval=50\n");
  port_.OpenPort();
  line_.ClearCalls();
  platform::IniFile ini(IniPath());
  port_.LoadFromIniSection(ini);

  const auto calls = ConfigCalls(line_);
  ASSERT_EQ(Names(calls),
            (std::vector<std::string>{"SetCommState", "SetCommState", "SetCommState",
                                      "SetCommState", "SetupComm", "SetCommTimeouts"}));
  EXPECT_EQ(calls[0].dcb->BaudRate, 19200U);  // BaudRate
  EXPECT_EQ(calls[0].dcb->ByteSize, 8);
  EXPECT_EQ(calls[1].dcb->ByteSize, 7);  // DataBits
  EXPECT_EQ(calls[1].dcb->Parity, 0);
  EXPECT_EQ(calls[2].dcb->Parity, 2);  // Parity: even
  EXPECT_EQ(calls[4].args, (std::vector<std::uint64_t>{2048, 1024}));
  EXPECT_EQ(calls[5].args.at(0), 50U);
}

TEST_F(PersistenceOnOpenPort, ADifferentPortReopensBeforeTheNextKey) {
  WriteIni("[ComPort1]\nPort=persist-b\nBaudRate=19200\n");
  port_.OpenPort();
  line_.ClearCalls();
  platform::IniFile ini(IniPath());
  port_.LoadFromIniSection(ini);

  EXPECT_FALSE(line_.IsOpen());
  EXPECT_TRUE(other_.IsOpen());
  std::vector<std::uint32_t> rates;
  for (const auto& call : ConfigCalls(other_)) {
    if (call.dcb) rates.push_back(call.dcb->BaudRate);
  }
  // Opened with the old rate, then the rate key reconfigured the new device.
  ASSERT_GE(rates.size(), 2U);
  EXPECT_EQ(rates.front(), 9600U);
  EXPECT_EQ(rates.back(), 19200U);
}

}  // namespace
}  // namespace cport
