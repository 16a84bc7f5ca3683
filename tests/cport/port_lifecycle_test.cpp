// Opening, configuring and closing a port on a memory line: the device calls
// in their order, the notifications in theirs, and every failure path.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "cport/CPort.h"
#include "cport/serial_device_memory.h"
#include "platform/application.h"

namespace cport {
namespace {

using device::MemoryLine;

class TestPort : public TComPort {
 public:
  using TComPort::ThreadCreated;
};

struct Recorder {
  std::vector<std::string> events;

  void Attach(TCustomComPort& port) {
    port.SetOnBeforeOpen([this](TCustomComPort&) { events.push_back("BeforeOpen"); });
    port.SetOnAfterOpen([this](TCustomComPort&) { events.push_back("AfterOpen"); });
    port.SetOnBeforeClose([this](TCustomComPort&) { events.push_back("BeforeClose"); });
    port.SetOnAfterClose([this](TCustomComPort&) { events.push_back("AfterClose"); });
    port.SetOnCTSChange([this](TCustomComPort&, bool on) { Signal("CTS", on); });
    port.SetOnDSRChange([this](TCustomComPort&, bool on) { Signal("DSR", on); });
    port.SetOnRLSDChange([this](TCustomComPort&, bool on) { Signal("RLSD", on); });
  }
  void Signal(const char* line, bool on) { events.push_back(std::string(line) + (on ? "+" : "-")); }
};

using Strings = std::vector<std::string>;
const Strings kOpenSequence = {"BeforeOpen", "AfterOpen", "CTS+", "DSR-", "RLSD+"};
const Strings kCloseSequence = {"CTS-", "DSR-", "RLSD-", "BeforeClose", "AfterClose"};

Strings Concat(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Runs `action` and returns the EComPort it raised.
EComPort RaisedBy(const std::function<void()>& action) {
  try {
    action();
  } catch (const EComPort& e) {
    return e;
  }
  ADD_FAILURE() << "nothing raised";
  return EComPort(0);
}

class Lifecycle : public testing::Test {
 protected:
  Lifecycle() {
    line.SetModemLines(device::MS_CTS_ON | device::MS_RLSD_ON);
    port.SetPort(line.Name());
    port.SetEvents({});  // no event thread: these tests are about open and close
    recorder.Attach(port);
  }

  void OpenAndForget() {
    port.OpenPort();
    line.ClearCalls();
    recorder.events.clear();
  }

  // Declared before the port: destroying an open port still notifies.
  MemoryLine line{"h5-lifecycle"};
  Recorder recorder;
  TestPort port;
};

TEST_F(Lifecycle, OpenWithDefaultsSendsQueueSizesThenLineSettingsThenTimeouts) {
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(line.IsOpen());
  EXPECT_EQ(line.CallNames(),
            (Strings{"CreateFileA", "SetupComm", "SetCommState", "SetCommTimeouts",
                     "GetCommModemStatus", "GetCommModemStatus", "GetCommModemStatus"}));
  const std::vector<device::DeviceCall> calls = line.Calls();
  EXPECT_EQ(calls[1].args, (std::vector<std::uint64_t>{1024, 1024}));
  ASSERT_TRUE(calls[2].dcb.has_value());
  const device::DCB& dcb = *calls[2].dcb;
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.Flags, 0x00000001u);
  EXPECT_EQ(dcb.XonLim, 256);
  EXPECT_EQ(dcb.XoffLim, 256);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, device::NOPARITY);
  EXPECT_EQ(dcb.StopBits, device::ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  ASSERT_TRUE(calls[3].timeouts.has_value());
  EXPECT_EQ(*calls[3].timeouts, (device::COMMTIMEOUTS{device::MAXDWORD, 0, 0, 100, 1000}));
}

TEST_F(Lifecycle, OpenAndCloseNotifyInOrder) {
  port.OpenPort();
  EXPECT_EQ(recorder.events, kOpenSequence);
  line.ClearCalls();
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(line.IsOpen());
  EXPECT_EQ(recorder.events, Concat(kOpenSequence, kCloseSequence));
  // Closing announces the lines off without asking the device.
  EXPECT_EQ(line.CallNames(), (Strings{"PurgeComm", "CloseHandle"}));
  EXPECT_EQ(line.Calls()[0].args, (std::vector<std::uint64_t>{3}));
}

TEST_F(Lifecycle, OpenWhileOpenAndCloseWhileClosedDoNothing) {
  port.ClosePort();
  OpenAndForget();
  port.OpenPort();
  port.SetConnected(true);
  EXPECT_TRUE(recorder.events.empty());
  EXPECT_TRUE(line.CallNames().empty());
  port.ClosePort();
  recorder.events.clear();
  line.ClearCalls();
  port.ClosePort();
  port.SetConnected(false);
  EXPECT_TRUE(recorder.events.empty());
  EXPECT_TRUE(line.CallNames().empty());
}

TEST_F(Lifecycle, DesignModeNeverOpens) {
  port.SetDesigning(true);
  port.OpenPort();
  port.SetConnected(true);
  EXPECT_TRUE(port.Connected());  // the designer only stores the flag
  EXPECT_FALSE(line.IsOpen());
  EXPECT_TRUE(recorder.events.empty());
}

TEST_F(Lifecycle, EmptyEventsStartNoThread) {
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
  EXPECT_FALSE(port.ThreadCreated());
  EXPECT_EQ(recorder.events, kOpenSequence);
}

TEST_F(Lifecycle, PortNamesAboveNineOpenTheSameWay) {
  MemoryLine com10("COM10");
  port.SetPort("COM10");
  port.OpenPort();
  EXPECT_TRUE(com10.IsOpen());
  EXPECT_EQ(com10.Calls().at(0).path, "\\\\.\\COM10");
}

// --- Open failures

TEST_F(Lifecycle, MissingDeviceRaisesCode1WithSystemError2) {
  port.SetPort("h5-no-such-port");
  const EComPort error = RaisedBy([&] { port.OpenPort(); });
  EXPECT_EQ(error.ComErrorCode(), 1);
  EXPECT_EQ(error.SystemErrorCode(), 2);
  EXPECT_STREQ(error.what(), "Unable to open com port (Error: 2)");
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(recorder.events, Strings{"BeforeOpen"});
}

TEST_F(Lifecycle, DeviceInUseRaisesCode1WithSystemError5) {
  TComPort other;
  other.SetEvents({});
  other.SetPort(line.Name());
  other.OpenPort();
  const EComPort error = RaisedBy([&] { port.OpenPort(); });
  EXPECT_EQ(error.ComErrorCode(), 1);
  EXPECT_EQ(error.SystemErrorCode(), 5);
  EXPECT_FALSE(port.Connected());
  EXPECT_TRUE(other.Connected());
}

TEST_F(Lifecycle, AbsorbedOpenFailureStopsWithoutConfiguring) {
  std::vector<int> codes;
  port.SetOnException([&](TCustomComPort&, TComExceptions code, const std::string&, std::int64_t,
                          const std::string&) { codes.push_back(code); });
  line.FailNext("CreateFileA", device::ERROR_ACCESS_DENIED);
  EXPECT_NO_THROW(port.OpenPort());
  EXPECT_EQ(codes, std::vector<int>{1});
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(recorder.events, Strings{"BeforeOpen"});
  EXPECT_EQ(line.CallNames(), Strings{"CreateFileA"});
}

TEST_F(Lifecycle, DeviceFailureCarriesThePathAndReasonBesideTheMessage) {
  line.FailNext("CreateFileA", device::DeviceError(device::ERROR_ACCESS_DENIED, EBUSY));
  try {
    port.OpenPort();
    FAIL() << "no error";
  } catch (const EComPort& error) {
    EXPECT_STREQ(error.what(), "Unable to open com port (Error: 5)");
    EXPECT_EQ(error.Detail(), line.Name() + ": Device or resource busy");
    EXPECT_EQ(DescribeFailure(error),
              "Unable to open com port (Error: 5): " + line.Name() + ": Device or resource busy");
  }
  // The next failure of the same number has no reason of its own.
  line.FailNext("CreateFileA", device::ERROR_ACCESS_DENIED);
  try {
    port.OpenPort();
    FAIL() << "no error";
  } catch (const EComPort& error) {
    EXPECT_EQ(error.Detail(),
              line.Name() + ": " + device::SystemErrorMessage(device::ERROR_ACCESS_DENIED));
  }
  std::string winMessage;
  port.SetOnException([&](TCustomComPort&, TComExceptions, const std::string&, std::int64_t,
                          const std::string& message) { winMessage = message; });
  line.FailNext("CreateFileA", device::DeviceError(device::ERROR_ACCESS_DENIED, EBUSY));
  port.OpenPort();
  EXPECT_EQ(winMessage, "Systemfehler.  Code: 5.\r\n" +
                            device::SystemErrorMessage(device::ERROR_ACCESS_DENIED) +
                            " (Device or resource busy)");
}

struct ConfigureFailure {
  const char* call;
  int code;
};

class ConfigurationFails : public Lifecycle,
                           public testing::WithParamInterface<ConfigureFailure> {};

TEST_P(ConfigurationFails, ClosesTheDeviceAgainAndRaises) {
  line.FailNext(GetParam().call, device::ERROR_INVALID_PARAMETER);
  const EComPort error = RaisedBy([&] { port.OpenPort(); });
  EXPECT_EQ(error.ComErrorCode(), GetParam().code);
  EXPECT_EQ(error.SystemErrorCode(), 87);
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(line.IsOpen());
  EXPECT_EQ(line.CallNames().back(), "CloseHandle");
  EXPECT_EQ(recorder.events, Strings{"BeforeOpen"});
  // The port opens normally afterwards.
  port.OpenPort();
  EXPECT_TRUE(port.Connected());
}

INSTANTIATE_TEST_SUITE_P(Calls, ConfigurationFails,
                         testing::Values(ConfigureFailure{"SetupComm", 9},
                                         ConfigureFailure{"SetCommState", 7},
                                         ConfigureFailure{"SetCommTimeouts", 8}),
                         [](const testing::TestParamInfo<ConfigureFailure>& p) {
                           return std::string(p.param.call);
                         });

// --- Setters

struct SetterCase {
  const char* name;
  std::function<void(TCustomComPort&)> write;
  const char* call;  // the one device call on an open port
};

class Setters : public Lifecycle, public testing::WithParamInterface<SetterCase> {};

TEST_P(Setters, ClosedPortOnlyStores) {
  GetParam().write(port);
  EXPECT_TRUE(line.CallNames().empty());
}

TEST_P(Setters, OpenPortMakesExactlyTheNamedCallOnce) {
  OpenAndForget();
  GetParam().write(port);
  EXPECT_EQ(line.CallNames(), Strings{GetParam().call});
  EXPECT_TRUE(port.Connected());
}

TEST_P(Setters, LoadingPortOnlyStores) {
  OpenAndForget();
  port.BeginLoading();
  GetParam().write(port);
  EXPECT_TRUE(line.CallNames().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Setters,
    testing::Values(
        SetterCase{"BaudRate", [](TCustomComPort& p) { p.SetBaudRate(br115200); }, "SetCommState"},
        SetterCase{"CustomBaudRate", [](TCustomComPort& p) { p.SetCustomBaudRate(31250); },
                   "SetCommState"},
        SetterCase{"StopBits", [](TCustomComPort& p) { p.SetStopBits(sbTwoStopBits); },
                   "SetCommState"},
        SetterCase{"DataBits", [](TCustomComPort& p) { p.SetDataBits(dbSeven); }, "SetCommState"},
        SetterCase{"DiscardNull", [](TCustomComPort& p) { p.SetDiscardNull(true); },
                   "SetCommState"},
        SetterCase{"EventChar", [](TCustomComPort& p) { p.SetEventChar('\n'); }, "SetCommState"},
        SetterCase{"ParityCheck", [](TCustomComPort& p) { p.Parity().SetCheck(true); },
                   "SetCommState"},
        SetterCase{"XonChar", [](TCustomComPort& p) { p.FlowControl().SetXonChar('q'); },
                   "SetCommState"},
        SetterCase{"SummaryCustom",
                   [](TCustomComPort& p) { p.FlowControl().SetFlowControl(fcCustom); },
                   "SetCommState"},
        SetterCase{"SummaryNoneAgain",
                   [](TCustomComPort& p) { p.FlowControl().SetFlowControl(fcNone); },
                   "SetCommState"},
        SetterCase{"ParityObject", [](TCustomComPort& p) { p.SetParity(TComParity()); },
                   "SetCommState"},
        SetterCase{"FlowObject", [](TCustomComPort& p) { p.SetFlowControl(TComFlowControl()); },
                   "SetCommState"},
        SetterCase{"ReadInterval", [](TCustomComPort& p) { p.Timeouts().SetReadInterval(0); },
                   "SetCommTimeouts"},
        SetterCase{"TimeoutsObject", [](TCustomComPort& p) { p.SetTimeouts(TComTimeouts()); },
                   "SetCommTimeouts"},
        SetterCase{"InputSize", [](TCustomComPort& p) { p.Buffer().SetInputSize(1025); },
                   "SetupComm"},
        SetterCase{"BufferObject", [](TCustomComPort& p) { p.SetBuffer(TComBuffer()); },
                   "SetupComm"}),
    [](const testing::TestParamInfo<SetterCase>& p) { return std::string(p.param.name); });

TEST_F(Lifecycle, WritingHeldValuesMakesNoCall) {
  OpenAndForget();
  port.SetBaudRate(br9600);
  port.SetCustomBaudRate(9600);
  port.SetPort(line.Name());
  port.SetStopBits(sbOneStopBit);
  port.Parity().SetBits(prNone);
  port.FlowControl().SetControlRTS(rtsDisable);
  port.Timeouts().SetWriteTotalConstant(1000);
  port.Buffer().SetOutputSize(1024);
  port.SetSyncMethod(smThreadSync);
  port.SetEvents(AllComEvents);
  EXPECT_TRUE(line.CallNames().empty());
  EXPECT_TRUE(recorder.events.empty());
}

TEST_F(Lifecycle, OddSizeWrittenAgainReappliesAgain) {
  OpenAndForget();
  port.Buffer().SetInputSize(1025);
  port.Buffer().SetInputSize(1025);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(line.CallNames(), (Strings{"SetupComm", "SetupComm"}));
  EXPECT_EQ(line.Calls()[1].args, (std::vector<std::uint64_t>{1024, 1024}));
}

TEST_F(Lifecycle, FailedReapplyKeepsTheNewValueAndThePortOpen) {
  OpenAndForget();
  line.FailNext("SetCommState", device::ERROR_INVALID_PARAMETER);
  const EComPort error = RaisedBy([&] { port.SetBaudRate(br256000); });
  EXPECT_EQ(error.ComErrorCode(), 7);
  EXPECT_EQ(error.SystemErrorCode(), 87);
  EXPECT_EQ(port.BaudRate(), br256000);
  EXPECT_TRUE(port.Connected());
}

TEST_F(Lifecycle, SyncMethodIsRefusedWhileOpen) {
  OpenAndForget();
  const EComPort error = RaisedBy([&] { port.SetSyncMethod(smNone); });
  EXPECT_EQ(error.ComErrorCode(), 14);
  EXPECT_EQ(error.SystemErrorCode(), -1);
  EXPECT_STREQ(error.what(), "Cannot set property while connected");
  EXPECT_EQ(port.SyncMethod(), smThreadSync);

  int reports = 0;
  port.SetOnException([&](TCustomComPort&, TComExceptions, const std::string&, std::int64_t,
                          const std::string&) { ++reports; });
  port.SetSyncMethod(smWindowSync);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);  // also refused when absorbed
  port.ClosePort();
  port.SetSyncMethod(smNone);
  EXPECT_EQ(port.SyncMethod(), smNone);
}

TEST_F(Lifecycle, NewPortNameReopensUnderThatName) {
  MemoryLine second("h5-lifecycle-2");
  port.OpenPort();
  recorder.events.clear();
  port.SetPort(second.Name());
  EXPECT_EQ(recorder.events,
            Concat(kCloseSequence, {"BeforeOpen", "AfterOpen", "CTS-", "DSR-", "RLSD-"}));
  EXPECT_FALSE(line.IsOpen());
  EXPECT_TRUE(second.IsOpen());
  EXPECT_TRUE(port.Connected());
}

TEST_F(Lifecycle, FailedReopenLeavesThePortClosedWithTheNewName) {
  port.OpenPort();
  const EComPort error = RaisedBy([&] { port.SetPort("h5-no-such-port"); });
  EXPECT_EQ(error.ComErrorCode(), 1);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Port(), "h5-no-such-port");
  EXPECT_FALSE(line.IsOpen());
}

// --- Close failures and re-entry

TEST_F(Lifecycle, FailedAbortLeavesThePortOpen) {
  OpenAndForget();
  line.FailNext("PurgeComm", device::ERROR_GEN_FAILURE);
  const EComPort error = RaisedBy([&] { port.ClosePort(); });
  EXPECT_EQ(error.ComErrorCode(), 5);
  EXPECT_EQ(error.SystemErrorCode(), 31);
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(line.IsOpen());
  EXPECT_EQ(recorder.events, (Strings{"CTS-", "DSR-", "RLSD-", "BeforeClose"}));
  port.ClosePort();
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(line.IsOpen());
}

TEST_F(Lifecycle, FailedCloseHandleIsNotReported) {
  OpenAndForget();
  line.FailNext("CloseHandle", device::ERROR_GEN_FAILURE);
  EXPECT_NO_THROW(port.ClosePort());
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(recorder.events, kCloseSequence);
}

TEST_F(Lifecycle, CloseRequestedDuringACloseDoesNothing) {
  OpenAndForget();
  port.SetOnBeforeClose([&](TCustomComPort& sender) {
    recorder.events.push_back("BeforeClose");
    sender.ClosePort();
    sender.SetConnected(false);
  });
  port.ClosePort();
  EXPECT_EQ(recorder.events, kCloseSequence);
  EXPECT_EQ(line.CallNames(), (Strings{"PurgeComm", "CloseHandle"}));
}

TEST_F(Lifecycle, DestroyingAnOpenPortClosesIt) {
  {
    TComPort scoped;
    scoped.SetEvents({});
    scoped.SetPort(line.Name());
    scoped.OpenPort();
    EXPECT_TRUE(line.IsOpen());
  }
  EXPECT_FALSE(line.IsOpen());
}

// --- OnException route

TEST_F(Lifecycle, HandlerAbsorbsAFailingApplyAndTheOpenGoesOn) {
  struct Report {
    TComExceptions code;
    std::string message;
    std::int64_t winError;
    std::string winMessage;
  };
  std::vector<Report> reports;
  port.SetOnException([&](TCustomComPort&, TComExceptions code, const std::string& message,
                          std::int64_t winError, const std::string& winMessage) {
    reports.push_back({code, message, winError, winMessage});
  });
  line.FailNext("SetCommTimeouts", device::ERROR_GEN_FAILURE);
  EXPECT_NO_THROW(port.OpenPort());
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].code, ecSetTimeoutsFailed);
  EXPECT_EQ(reports[0].message, "SetCommTimeouts failed");
  EXPECT_EQ(reports[0].winError, 31);
  EXPECT_FALSE(reports[0].winMessage.empty());
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(recorder.events, kOpenSequence);
}

// --- End of loading

TEST_F(Lifecycle, StoredConnectedOpensWhenLoadingEnds) {
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_FALSE(line.IsOpen());
  EXPECT_TRUE(line.CallNames().empty());
  port.EndLoading();
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(line.IsOpen());
  EXPECT_EQ(recorder.events, kOpenSequence);
}

TEST_F(Lifecycle, FailedOpenAtEndOfLoadingGoesToTheApplication) {
  platform::Application app;
  std::vector<int> shown;
  app.SetOnException([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const EComPort& e) {
      shown.push_back(e.ComErrorCode());
    }
  });
  port.SetPort("h5-no-such-port");
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_NO_THROW(port.EndLoading());
  EXPECT_EQ(shown, std::vector<int>{1});
  EXPECT_FALSE(port.Connected());
  EXPECT_FALSE(port.Loading());
}

// --- Status queries

TEST_F(Lifecycle, InputQueueCountCountsWaitingBytes) {
  port.OpenPort();
  EXPECT_EQ(port.InputQueueCount(), 0);
  ASSERT_TRUE(line.Inject("abc"));
  EXPECT_EQ(port.InputQueueCount(), 3);
}

TEST_F(Lifecycle, LineErrorsCountParityOnlyWhileCheckedAndAreCleared) {
  port.OpenPort();
  ASSERT_TRUE(line.InjectLineError(device::CE_FRAME | device::CE_RXPARITY));
  EXPECT_EQ(port.ReadLineErrors(), TComErrors{lnFraming});
  port.Parity().SetCheck(true);
  ASSERT_TRUE(line.InjectLineError(device::CE_FRAME | device::CE_RXPARITY));
  EXPECT_EQ(port.ReadLineErrors(), (TComErrors{lnFraming, lnParity}));
  EXPECT_TRUE(port.ReadLineErrors().Empty());
}

TEST_F(Lifecycle, ModemSignalsFollowTheLine) {
  port.OpenPort();
  EXPECT_EQ(port.ReadModemSignals(), (TModemSignals{msCTS, msRLSD}));
  line.SetModemLines(device::MS_DSR_ON | device::MS_RING_ON);
  EXPECT_EQ(port.ReadModemSignals(), (TModemSignals{msDSR, msRing}));
}

TEST_F(Lifecycle, FailedQueriesRaiseOrAnswerEmptyWhenAbsorbed) {
  port.OpenPort();
  line.FailNext("ClearCommError", device::ERROR_GEN_FAILURE);
  EXPECT_EQ(RaisedBy([&] { port.InputQueueCount(); }).ComErrorCode(), 10);
  line.FailNext("GetCommModemStatus", device::ERROR_GEN_FAILURE);
  EXPECT_EQ(RaisedBy([&] { port.ReadModemSignals(); }).ComErrorCode(), 11);

  int reports = 0;
  port.SetOnException([&](TCustomComPort&, TComExceptions, const std::string&, std::int64_t,
                          const std::string&) { ++reports; });
  ASSERT_TRUE(line.Inject("xyz"));
  ASSERT_TRUE(line.InjectLineError(device::CE_FRAME));
  line.FailAlways("ClearCommError", device::ERROR_GEN_FAILURE);
  line.FailAlways("GetCommModemStatus", device::ERROR_GEN_FAILURE);
  EXPECT_EQ(port.InputQueueCount(), 0);
  EXPECT_TRUE(port.ReadLineErrors().Empty());
  EXPECT_TRUE(port.ReadModemSignals().Empty());
  EXPECT_EQ(reports, 3);
}

TEST(ClosedPortQueries, ReportAClosedHandle) {
  TComPort port;
  const EComPort error = RaisedBy([&] { port.InputQueueCount(); });
  EXPECT_EQ(error.ComErrorCode(), 10);
  EXPECT_EQ(error.SystemErrorCode(), static_cast<int>(device::ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace cport
