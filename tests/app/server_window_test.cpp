#include "app/server_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <stdexcept>
#include <thread>

#include "app/temperature_simulation.h"
#include "cport/serial_device_memory.h"
#include "platform/application.h"
#include "platform/tick_count.h"
#include "support/recording_view.h"
#include "support/serve_until.h"
#include "tests/support/temp_folder.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class ServerWindow : public ::testing::Test {
 protected:
  ServerWindow() {
    application.SetErrorDisplay([this](const std::string& message) { errors.push_back(message); });
  }

  test_support::TempFolder dir{"quillane-window"};
  fs::path parameterFile = dir.Path() / "quillane.ini";
  platform::Application application;
  std::vector<std::string> errors;
  testing::RecordingView view;
  TfrmSerialServer window{view, application, parameterFile};
};

// --- Choosing port and rate

TEST_F(ServerWindow, OpenPortIsEnabledOnlyOncePortAndRateAreBothChosen) {
  window.ResetWindowState();
  window.cbComPortNrChange(0, "COM 1");
  EXPECT_FALSE(view.openPortEnabled);
  window.ResetWindowState();
  window.cbBaudRateChange(0, "9600");
  EXPECT_FALSE(view.openPortEnabled);
  window.cbComPortNrChange(2, "COM 3");
  EXPECT_TRUE(view.openPortEnabled);
}

TEST_F(ServerWindow, PortEntriesNameComPortsWithoutTheSpace) {
  window.cbComPortNrChange(0, "COM 1");
  EXPECT_EQ(window.ComPort1.Port(), "COM1");
  window.cbComPortNrChange(9, "COM 10");
  EXPECT_EQ(window.ComPort1.Port(), "COM10");
}

TEST_F(ServerWindow, TypedPortTextIsUsedAsTyped) {
  for (const char* name : {"/dev/ttyUSB0", "COM3", "virtual"}) {
    window.cbComPortNrChange(-1, name);
    EXPECT_EQ(window.ComPort1.Port(), name);
  }
  window.cbComPortNrChange(-1, "  /dev/ttyS1\t");
  EXPECT_EQ(window.ComPort1.Port(), "/dev/ttyS1");
}

TEST_F(ServerWindow, EmptyTypedPortUnchoosesThePort) {
  window.cbComPortNrChange(-1, "virtual");
  window.cbBaudRateChange(0, "9600");
  ASSERT_TRUE(view.openPortEnabled);
  window.cbComPortNrChange(-1, "  ");
  EXPECT_FALSE(view.openPortEnabled);
  EXPECT_EQ(window.ComPort1.Port(), "virtual");
}

struct BaudEntry {
  int index;
  std::string text;
  cport::TBaudRate expected;
};

class ServerWindowBaudEntries : public ServerWindow,
                                public ::testing::WithParamInterface<BaudEntry> {};

TEST_P(ServerWindowBaudEntries, SetsTheNamedRate) {
  window.ComPort1.SetBaudRate(cport::br110);
  window.cbBaudRateChange(GetParam().index, GetParam().text);
  EXPECT_EQ(window.ComPort1.BaudRate(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Entries, ServerWindowBaudEntries,
                         ::testing::Values(BaudEntry{0, "9600", cport::br9600},
                                           BaudEntry{1, "38400", cport::br38400},
                                           BaudEntry{2, "115200", cport::br115200},
                                           BaudEntry{-1, "57600", cport::br57600},
                                           BaudEntry{-1, "19200", cport::br19200}));

TEST_F(ServerWindow, TypedRateWithoutNameIsCustom) {
  window.cbBaudRateChange(-1, "250000");
  EXPECT_EQ(window.ComPort1.BaudRate(), cport::brCustom);
  EXPECT_EQ(window.ComPort1.CustomBaudRate(), 250000);
}

TEST_F(ServerWindow, TypedTextThatIsNoRateIsReportedAndChangesNothing) {
  window.cbComPortNrChange(0, "COM 1");
  window.ComPort1.SetBaudRate(cport::br38400);
  for (const char* text : {"fast", "", "0", "-9600", "96OO"}) {
    EXPECT_THROW(window.cbBaudRateChange(-1, text), std::invalid_argument) << text;
    EXPECT_EQ(window.ComPort1.BaudRate(), cport::br38400);
    EXPECT_FALSE(view.openPortEnabled) << "the rate must not count as chosen";
  }
}

// --- Reset and start-up

TEST_F(ServerWindow, ResetReturnsToTheNothingChosenState) {
  window.cbComPortNrChange(1, "COM 2");
  window.cbBaudRateChange(1, "38400");
  view.AddLogLine("something");
  window.RawCounter = 17;
  window.ResetWindowState();
  EXPECT_THAT(view.log, IsEmpty());
  EXPECT_EQ(view.portText, "select port");
  EXPECT_EQ(view.baudRateText, "select baud rate");
  EXPECT_FALSE(view.openPortEnabled);
  EXPECT_EQ(window.RawCounter, 0);
  // The component keeps what was chosen; choosing one box again is not enough.
  EXPECT_EQ(window.ComPort1.Port(), "COM2");
  EXPECT_EQ(window.ComPort1.BaudRate(), cport::br38400);
  window.cbComPortNrChange(1, "COM 2");
  EXPECT_FALSE(view.openPortEnabled);
}

TEST_F(ServerWindow, FirstStartCreatesTheParameterFileWithDefaults) {
  window.FormCreate();
  EXPECT_TRUE(fs::exists(parameterFile));
  EXPECT_EQ(window.Parameters()[15], -20.0f);
  EXPECT_EQ(window.Parameters()[19], 0.549f);
  EXPECT_THAT(errors, IsEmpty());
}

// The idle handler is observable through the simulation box it reads.
void RunUntilIdleHandlerRuns(platform::Application& application, testing::RecordingView& view) {
  view.onSimulationQuery = [&application] { application.Terminate(); };
  application.Run();
}

TEST_F(ServerWindow, StartUpErrorIsShownAndTheIdleHandlerStillInstalled) {
  fs::create_directory(parameterFile);  // cannot be read as a file, nor replaced by one
  window.FormCreate();
  ASSERT_EQ(errors.size(), 1u);
  RunUntilIdleHandlerRuns(application, view);
  EXPECT_GE(view.simulationQueries, 1);
}

TEST_F(ServerWindow, ParameterLoadWarningIsLogged) {
  std::ofstream(parameterFile) << "[parameter]\npar A=1e39\npar O=-20\n";
  window.FormCreate();
  EXPECT_THAT(errors, IsEmpty());
  ASSERT_EQ(view.log.size(), 1u);
  EXPECT_THAT(view.log[0], HasSubstr("par A"));
  EXPECT_EQ(window.Parameters()[1], 0.0f);
  EXPECT_EQ(window.Parameters()[15], -20.0f);
}

// --- Port control without a device

TEST_F(ServerWindow, OpenFailureGoesToTheCallerWithoutBoxOrLogLine) {
  window.FormCreate();
  window.cbComPortNrChange(-1, (dir.Path() / "no-such-tty").string());
  window.cbBaudRateChange(0, "9600");
  try {
    window.btOpenPortClick();
    FAIL() << "no error";
  } catch (const cport::EComPort& error) {
    EXPECT_EQ(error.ComErrorCode(), 1);
    EXPECT_EQ(error.SystemErrorCode(), 2);
  }
  EXPECT_THAT(view.log, IsEmpty());
  EXPECT_THAT(view.errorBoxes, IsEmpty());
}

TEST(OutputLostLine, SaysHowManyBytesTheClientDidNotRead) {
  EXPECT_EQ(OutputLostLine(123), "output lost: 123 bytes the client did not read");
}

TEST_F(ServerWindow, ClosingAClosedPortLogsOnlyTheClose) {
  window.FormCreate();
  view.AddLogLine("earlier");
  window.btClosePortClick();
  EXPECT_THAT(view.log, ElementsAre("com port close"));
  EXPECT_THAT(view.errorBoxes, IsEmpty());
}

TEST_F(ServerWindow, SimulationWaitsForAnOpenPort) {
  view.simulation = true;
  bool done = true;
  window.SimulationTick(done);
  EXPECT_TRUE(done);
  EXPECT_THAT(view.log, IsEmpty());
  EXPECT_EQ(window.RawCounter, 0);
}

// --- With an open port (a memory line plays the client)

class ServerWindowOpen : public ServerWindow {
 protected:
  void SetUp() override {
    window.FormCreate();
    window.cbComPortNrChange(-1, line.Name());
    window.cbBaudRateChange(0, "9600");
    window.btOpenPortClick();
    ASSERT_TRUE(window.ComPort1.Connected());
  }

  // Sends `bytes` as the client and serves deliveries until `logLines` more
  // lines have been logged.
  void Receive(std::string_view bytes, std::size_t logLines) {
    const std::size_t target = view.log.size() + logLines;
    ASSERT_TRUE(line.Inject(bytes));
    ASSERT_TRUE(testing::ServeUntil(application, [&] { return view.log.size() >= target; }));
  }

  // One simulation tick whose wait is ended by the driven clock.
  void Tick(bool& done) {
    application.QueueCall([this] { clock.Advance(1000); });
    window.SimulationTick(done);
  }

  cport::device::MemoryLine line{"h8-window-line"};
  platform::FakeTickClock clock{0xFFFFFC00u};
};

TEST_F(ServerWindowOpen, OpeningLogsAndOpeningAgainOnlyLogsAgain) {
  EXPECT_THAT(view.log, ElementsAre("com port open"));
  EXPECT_TRUE(view.openPortEnabled);
  window.btOpenPortClick();
  EXPECT_THAT(view.log, ElementsAre("com port open", "com port open"));
  const auto names = line.CallNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "CreateFileA"), 1);
}

TEST_F(ServerWindowOpen, ReceivedLineIsLoggedCarriedOutAndAnswered) {
  Receive("A;12.5\r\n", 2);
  EXPECT_THAT(view.log, ElementsAre("com port open", "received A;12.5\r\n", "command number 1"));
  EXPECT_EQ(window.Parameters()[1], 12.5f);
  ASSERT_TRUE(line.WaitForWritten(4));
  EXPECT_EQ(line.Written(), "ok\r\n");
}

TEST_F(ServerWindowOpen, ClosingResetsTheWindowAndLogsOnlyTheClose) {
  Receive("a\r\n", 2);
  window.btClosePortClick();
  EXPECT_FALSE(window.ComPort1.Connected());
  EXPECT_THAT(view.log, ElementsAre("com port close"));
  EXPECT_EQ(view.portText, "select port");
  EXPECT_EQ(view.baudRateText, "select baud rate");
  EXPECT_FALSE(view.openPortEnabled);
  EXPECT_THAT(view.errorBoxes, IsEmpty());
}

TEST_F(ServerWindowOpen, CloseClickedWhileAChunkIsHandledWaitsForTheHandler) {
  // The click arrives while the handler lets the application handle messages.
  window.ComPort1.SetOnRxChar([this](cport::TCustomComPort& sender, std::int32_t count) {
    application.QueueCall([this] { window.btClosePortClick(); });
    window.ComPort1RxChar(sender, count);
  });
  ASSERT_TRUE(line.Inject("?\r\n"));
  ASSERT_TRUE(testing::ServeUntil(application, [&] { return !window.ComPort1.Connected(); }));
  EXPECT_EQ(line.Written(), "quillane, V 1.0\r\n");
  EXPECT_THAT(view.log, ElementsAre("com port close"));
  EXPECT_THAT(view.errorBoxes, IsEmpty());
}

TEST_F(ServerWindowOpen, ReadingsFollowTheSweepAndAreLoggedAndSent) {
  view.simulation = true;
  bool done = true;
  Tick(done);
  EXPECT_FALSE(done);
  done = true;
  Tick(done);
  EXPECT_FALSE(done);
  EXPECT_THAT(view.log, ElementsAre("com port open",
                                    "raw  4 T -17.80\xB0"
                                    "C",
                                    "raw  8 T -15.61\xB0"
                                    "C"));
  ASSERT_TRUE(line.WaitForWritten(19));
  EXPECT_THAT(line.Written(), ::testing::StartsWith("-17.8040008544922\r\n-15.6"));
  EXPECT_EQ(window.RawCounter, 8);
}

TEST_F(ServerWindowOpen, ReadingComesNoSoonerThanASecond) {
  view.simulation = true;
  const std::uint32_t start = clock.Now();
  std::uint32_t loggedAt = start;
  view.onLog = [&](const std::string&) { loggedAt = clock.Now(); };
  std::promise<void> mostOfTheSecond;
  application.QueueCall([&] {
    clock.Advance(999);
    mostOfTheSecond.set_value();
  });
  std::thread lastMillisecond([&, passed = mostOfTheSecond.get_future()]() mutable {
    passed.wait();
    clock.Advance(1);
  });
  bool done = true;
  window.SimulationTick(done);
  lastMillisecond.join();
  EXPECT_GE(platform::TicksSince(start, loggedAt), 1000u);
}

TEST_F(ServerWindowOpen, UntickedBoxSendsNothing) {
  bool done = true;
  window.SimulationTick(done);
  EXPECT_TRUE(done);
  EXPECT_THAT(view.log, ElementsAre("com port open"));
  EXPECT_EQ(line.Written(), "");
}

TEST_F(ServerWindowOpen, ReadingOverflowSendsNothingAndTriesAgainNextTime) {
  Receive("S;1e38\r\n", 2);
  ASSERT_TRUE(line.WaitForWritten(4));
  line.TakeWritten();
  const auto logged = view.log.size();
  view.simulation = true;
  bool done = true;
  EXPECT_THROW(Tick(done), std::overflow_error);
  EXPECT_TRUE(done);
  EXPECT_EQ(window.RawCounter, 4);
  EXPECT_EQ(view.log.size(), logged);
  EXPECT_EQ(line.Written(), "");
}

TEST_F(ServerWindowOpen, PortClosedDuringTheWaitLogsAndSendsNothing) {
  view.simulation = true;
  application.QueueCall([this] {
    window.btClosePortClick();
    clock.Advance(1000);
  });
  bool done = true;
  EXPECT_NO_THROW(window.SimulationTick(done));
  EXPECT_TRUE(done);  // nothing more to do until the port opens again
  EXPECT_THAT(view.log, ElementsAre("com port close"));
  EXPECT_THAT(view.errorBoxes, IsEmpty());
  EXPECT_THAT(errors, IsEmpty());
  EXPECT_EQ(line.Written(), "");
  EXPECT_EQ(window.RawCounter, 0);
}

TEST_F(ServerWindowOpen, PortReopenedDuringTheWaitStartsAfreshWithoutTheStaleReading) {
  view.simulation = true;
  application.QueueCall([this] {
    window.btClosePortClick();
    window.cbComPortNrChange(-1, line.Name());
    window.cbBaudRateChange(0, "9600");
    window.btOpenPortClick();
    clock.Advance(1000);
  });
  bool done = true;
  window.SimulationTick(done);
  EXPECT_TRUE(done);
  EXPECT_THAT(view.log, ElementsAre("com port close", "com port open"));
  EXPECT_EQ(line.Written(), "");
  Tick(done);
  EXPECT_EQ(view.log.back(),
            "raw  4 T -17.80\xB0"
            "C");
}

TEST_F(ServerWindowOpen, ClosingAndReopeningStartsTheSweepAgain) {
  view.simulation = true;
  bool done = true;
  Tick(done);
  Tick(done);
  window.btClosePortClick();
  EXPECT_EQ(window.RawCounter, 0);
  window.cbComPortNrChange(-1, line.Name());
  window.cbBaudRateChange(0, "9600");
  window.btOpenPortClick();
  Tick(done);
  EXPECT_EQ(view.log.back(),
            "raw  4 T -17.80\xB0"
            "C");
}

TEST_F(ServerWindow, OpenThatFailsWithoutAnErrorShowsTheBox) {
  window.FormCreate();
  window.ComPort1.SetOnException([](cport::TCustomComPort&, cport::TComExceptions,
                                    const std::string&, std::int64_t, const std::string&) {});
  window.cbComPortNrChange(-1, (dir.Path() / "no-such-tty").string());
  window.cbBaudRateChange(0, "9600");
  window.btOpenPortClick();
  EXPECT_THAT(view.errorBoxes, ElementsAre("error open port"));
  EXPECT_THAT(view.log, IsEmpty());
}

}  // namespace
}  // namespace app
