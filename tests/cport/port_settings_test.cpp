// The settings of a port that has never been opened: defaults, setter rules,
// the flow-control summary, even buffer sizes, copying, published settings.
#include <gtest/gtest.h>

#include "cport/CPort.h"

namespace cport {
namespace {

TEST(Defaults, NewPortReadsTheDefaults) {
  TComPort port;
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_FALSE(port.Parity().Check());
  EXPECT_FALSE(port.Parity().Replace());
  EXPECT_EQ(port.Parity().ReplaceChar(), 0);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 0);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  EXPECT_EQ(port.Events().ToBits(), 0x3FF);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.StoredProps(), TStoredProps{spBasic});
  EXPECT_EQ(port.StoredProps().ToBits(), 0x01);
  EXPECT_TRUE(port.TriggersOnRxChar());
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.CodePage(), 0u);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_FALSE(port.OnRxChar());
  EXPECT_FALSE(port.OnException());
}

TEST(Defaults, SubObjectsBelongToThePort) {
  TComPort port;
  EXPECT_EQ(port.Parity().OwnerPort(), &port);
  EXPECT_EQ(port.FlowControl().OwnerPort(), &port);
  EXPECT_EQ(port.Timeouts().OwnerPort(), &port);
  EXPECT_EQ(port.Buffer().OwnerPort(), &port);
  EXPECT_EQ(TComParity().OwnerPort(), nullptr);
}

TEST(Enumerations, OrdinalsAndSetLayout) {
  EXPECT_EQ(sizeof(TBaudRate), 1u);
  EXPECT_EQ(static_cast<int>(br256000), 15);
  EXPECT_EQ(static_cast<int>(rtsToggle), 3);
  EXPECT_EQ(static_cast<int>(evRx80Full), 9);
  EXPECT_EQ(static_cast<int>(spOthers), 5);
  EXPECT_EQ(sizeof(TComEvents), 2u);
  EXPECT_EQ(sizeof(TStoredProps), 1u);
  EXPECT_EQ((TComEvents{evRxChar, evRLSD}).ToBits(), 0x101);
  EXPECT_EQ((TComErrors{lnFraming, lnTxFull}).ToBits(), 0x81);
  EXPECT_EQ((TModemSignals{msRLSD}).ToBits(), 0x08);
}

// --- Flow-control summary

struct SummaryCase {
  const char* name;
  TRTSFlowControl rts;
  bool outCTS;
  bool xonIn;
  bool xonOut;
  TFlowControl expected;
};

class FlowSummaryReading : public testing::TestWithParam<SummaryCase> {};

TEST_P(FlowSummaryReading, FirstMatchingRuleWins) {
  const SummaryCase& c = GetParam();
  TComFlowControl flow;
  flow.SetControlRTS(c.rts);
  flow.SetOutCTSFlow(c.outCTS);
  flow.SetXonXoffIn(c.xonIn);
  flow.SetXonXoffOut(c.xonOut);
  EXPECT_EQ(flow.FlowControl(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FlowSummaryReading,
    testing::Values(SummaryCase{"Hardware", rtsHandshake, true, false, false, fcHardware},
                    SummaryCase{"Software", rtsDisable, false, true, true, fcSoftware},
                    SummaryCase{"None", rtsDisable, false, false, false, fcNone},
                    SummaryCase{"XonInOnly", rtsDisable, false, true, false, fcCustom},
                    SummaryCase{"RtsEnableOnly", rtsEnable, false, false, false, fcCustom},
                    SummaryCase{"HandshakeWithoutCts", rtsHandshake, false, false, false, fcCustom},
                    SummaryCase{"CtsWithoutHandshake", rtsDisable, true, false, false, fcCustom},
                    SummaryCase{"HardwarePlusXon", rtsHandshake, true, true, true, fcCustom},
                    SummaryCase{"RtsToggle", rtsToggle, false, false, false, fcCustom}),
    [](const testing::TestParamInfo<SummaryCase>& p) { return p.param.name; });

TEST(FlowSummaryReading, FieldsOutsideTheSummaryDoNotCount) {
  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  flow.SetControlDTR(dtrHandshake);
  flow.SetOutDSRFlow(true);
  flow.SetDSRSensitivity(true);
  flow.SetTxContinueOnXoff(true);
  flow.SetXonChar('a');
  EXPECT_EQ(flow.FlowControl(), fcHardware);
}

TEST(FlowSummaryWriting, SetsTheFourFieldsAndCustomChangesNone) {
  TComFlowControl flow;
  flow.SetFlowControl(fcHardware);
  EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(flow.OutCTSFlow());

  flow.SetFlowControl(fcSoftware);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.OutCTSFlow());
  EXPECT_TRUE(flow.XonXoffIn());
  EXPECT_TRUE(flow.XonXoffOut());
  EXPECT_EQ(flow.FlowControl(), fcSoftware);

  flow.SetControlRTS(rtsToggle);
  flow.SetControlDTR(dtrEnable);
  flow.SetFlowControl(fcCustom);
  EXPECT_EQ(flow.ControlRTS(), rtsToggle);
  EXPECT_TRUE(flow.XonXoffIn());
  EXPECT_EQ(flow.ControlDTR(), dtrEnable);

  flow.SetFlowControl(fcNone);
  EXPECT_EQ(flow.ControlRTS(), rtsDisable);
  EXPECT_FALSE(flow.XonXoffIn());
  EXPECT_FALSE(flow.XonXoffOut());
  EXPECT_EQ(flow.ControlDTR(), dtrEnable);  // not part of the summary
}

// --- Even buffer sizes

TEST(BufferSizes, PositiveOddSizesAreKeptEven) {
  const std::pair<std::int32_t, std::int32_t> cases[] = {{1025, 1024}, {7, 6}, {1, 0},
                                                         {-3, -3},     {0, 0}, {2048, 2048}};
  for (const auto& [requested, stored] : cases) {
    TComBuffer buffer;
    buffer.SetInputSize(requested);
    buffer.SetOutputSize(requested);
    EXPECT_EQ(buffer.InputSize(), stored) << requested;
    EXPECT_EQ(buffer.OutputSize(), stored) << requested;
  }
}

// --- Copying settings objects

TEST(CopySettings, CopiesFieldsButNotTheOwner) {
  TComPort port;
  TComTimeouts source;
  source.SetReadInterval(10);
  source.SetWriteTotalConstant(7);
  port.Timeouts().CopySettingsFrom(&source);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 10);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 7);
  EXPECT_EQ(port.Timeouts().OwnerPort(), &port);

  TComTimeouts freeStanding;
  freeStanding.CopySettingsFrom(&port.Timeouts());
  EXPECT_EQ(freeStanding.OwnerPort(), nullptr);
  EXPECT_EQ(freeStanding.ReadInterval(), 10);

  TComFlowControl flow;
  flow.SetFlowControl(fcSoftware);
  flow.SetXoffChar('x');
  port.SetFlowControl(flow);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
  EXPECT_EQ(port.FlowControl().XoffChar(), 'x');

  TComParity parity;
  parity.SetBits(prEven);
  parity.SetReplaceChar('#');
  port.SetParity(parity);
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_EQ(port.Parity().ReplaceChar(), '#');

  TComBuffer buffer;
  buffer.SetInputSize(4096);
  port.SetBuffer(buffer);
  EXPECT_EQ(port.Buffer().InputSize(), 4096);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
}

TEST(CopySettings, MissingOrForeignSourceFailsAndChangesNothing) {
  TComParity target;
  target.SetBits(prOdd);
  TComBuffer foreign;
  try {
    target.CopySettingsFrom(&foreign);
    FAIL() << "nothing raised";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TComBuffer to a TComParity");
  }
  EXPECT_THROW(target.CopySettingsFrom(nullptr), EConvertError);
  EXPECT_THROW(target.CopySettingsFrom(nullptr), std::invalid_argument);
  EXPECT_EQ(target.Bits(), prOdd);
}

// --- Setters on a closed port

TEST(ClosedPortSetters, StoreTheirValues) {
  TComPort port;
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(31250);
  port.SetPort("com1");  // letter case counts
  port.SetStopBits(sbTwoStopBits);
  port.SetDataBits(dbSeven);
  port.SetDiscardNull(true);
  port.SetEventChar('\r');
  port.SetEvents({evRxChar});
  port.SetSyncMethod(smNone);
  port.SetStoredProps({spBasic, spTimeouts});
  port.SetCodePage(1252);
  port.SetConnected(false);
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 31250);
  EXPECT_EQ(port.Port(), "com1");
  EXPECT_EQ(port.StopBits(), sbTwoStopBits);
  EXPECT_EQ(port.DataBits(), dbSeven);
  EXPECT_TRUE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), '\r');
  EXPECT_EQ(port.Events(), TComEvents{evRxChar});
  EXPECT_EQ(port.SyncMethod(), smNone);
  EXPECT_EQ(port.StoredProps().ToBits(), 0x09);
  EXPECT_EQ(port.CodePage(), 1252u);
  EXPECT_FALSE(port.Connected());
}

TEST(ClosedPortSetters, ConnectedWhileLoadingOnlyStoresTheFlag) {
  TComPort port;
  port.SetPort("no-such-port-h5");
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_TRUE(port.Connected());
  port.SetDesigning(true);  // end of loading in the designer never opens
  port.EndLoading();
  EXPECT_FALSE(port.Loading());
  EXPECT_TRUE(port.Connected());
}

// --- TriggersOnRxChar and linked observers

TEST(TriggersOnRxChar, RefusedWithCode22WhileALinkTakesTheData) {
  TComPort port;
  PortLink link;
  link.RxData = [](TCustomComPort&, const char*, std::int32_t) {};
  port.RegisterLink(&link);
  EXPECT_TRUE(port.HasRxBufLink());
  EXPECT_FALSE(port.TriggersOnRxChar());  // reads false while the link takes the data
  try {
    port.SetTriggersOnRxChar(false);
    FAIL() << "nothing raised";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), 22);
    EXPECT_EQ(e.SystemErrorCode(), -1);
    EXPECT_STREQ(e.what(), "A component is linked to OnRxBuf event");
  }
  port.UnregisterLink(&link);
  EXPECT_FALSE(port.HasRxBufLink());
  EXPECT_TRUE(port.TriggersOnRxChar());  // the refused write stored nothing
}

TEST(TriggersOnRxChar, StoredAfterAnAbsorbedReport) {
  TComPort port;
  int reports = 0;
  port.SetOnException([&](TCustomComPort&, TComExceptions code, const std::string&, std::int64_t,
                          const std::string&) {
    EXPECT_EQ(code, ecRxBufLinked);
    ++reports;
  });
  PortLink link;
  link.RxData = [](TCustomComPort&, const char*, std::int32_t) {};
  port.RegisterLink(&link);
  port.SetTriggersOnRxChar(false);
  EXPECT_EQ(reports, 1);
  port.UnregisterLink(&link);
  EXPECT_FALSE(port.TriggersOnRxChar());
}

TEST(Links, OnlyALinkWithAReceivedDataHandlerCounts) {
  TComPort port;
  PortLink plain;
  plain.CTS = [](TCustomComPort&, bool) {};
  port.RegisterLink(&plain);
  port.RegisterLink(&plain);
  EXPECT_FALSE(port.HasRxBufLink());
  port.SetTriggersOnRxChar(false);
  EXPECT_FALSE(port.TriggersOnRxChar());
}

// --- Published settings

TEST(PublishedSettings, ThirtyFourPropertiesInOrder) {
  TComPort port;
  const std::vector<std::string> expected = {
      "Name",          "Tag",         "Connected",    "BaudRate",
      "Port",          "Parity",      "StopBits",     "DataBits",
      "DiscardNull",   "EventChar",   "Events",       "Buffer",
      "FlowControl",   "Timeouts",    "StoredProps",  "TriggersOnRxChar",
      "SyncMethod",    "OnAfterOpen", "OnAfterClose", "OnBeforeOpen",
      "OnBeforeClose", "OnRxChar",    "OnRxBuf",      "OnTxEmpty",
      "OnBreak",       "OnRing",      "OnCTSChange",  "OnDSRChange",
      "OnRLSDChange",  "OnRxFlag",    "OnError",      "OnRx80Full",
      "OnException",   "CodePage"};
  EXPECT_EQ(port.PublishedPropertyNames(), expected);
}

TEST(PublishedSettings, DefaultsStreamOnlyWhatHasNoDeclaredDefault) {
  TComPort port;
  const std::vector<std::string> expected = {"Name",
                                             "BaudRate",
                                             "Port",
                                             "Parity.Bits",
                                             "StopBits",
                                             "DataBits",
                                             "Events",
                                             "FlowControl.OutCTSFlow",
                                             "FlowControl.OutDSRFlow",
                                             "FlowControl.ControlDTR",
                                             "FlowControl.ControlRTS",
                                             "FlowControl.XonXoffOut",
                                             "FlowControl.XonXoffIn",
                                             "StoredProps",
                                             "TriggersOnRxChar"};
  EXPECT_EQ(port.StreamedSettingNames(), expected);
}

TEST(PublishedSettings, ChangedDefaultsAreStreamedAndTheSummaryNever) {
  TComPort port;
  port.SetTag(3);
  port.Parity().SetCheck(true);
  port.Buffer().SetOutputSize(2048);
  port.FlowControl().SetXonChar('a');
  port.FlowControl().SetFlowControl(fcHardware);
  port.Timeouts().SetReadInterval(0);
  port.SetSyncMethod(smWindowSync);
  port.SetCodePage(1252);
  port.SetOnRxChar([](TCustomComPort&, std::int32_t) {});
  std::vector<std::string> names = port.StreamedSettingNames();
  for (const char* name : {"Tag", "Parity.Check", "Buffer.OutputSize", "FlowControl.XonChar",
                           "Timeouts.ReadInterval", "SyncMethod", "CodePage", "OnRxChar"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
  }
  for (const char* name : {"FlowControl.FlowControl", "Buffer.InputSize", "Parity.Replace",
                           "OnRxBuf", "Timeouts.ReadTotalConstant", "Connected"}) {
    EXPECT_EQ(std::find(names.begin(), names.end(), name), names.end()) << name;
  }
}

}  // namespace
}  // namespace cport
