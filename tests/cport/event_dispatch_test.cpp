// Event delivery end to end on a memory line: which handler fires, in which
// order, with which argument, in which thread, and what a close or an
// exception inside a delivery does.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "port_on_line.h"

namespace cport::testing {
namespace {

using namespace device;
using Names = std::vector<std::string>;

// Waits until the event thread has handed a delivery to this (UI) thread,
// without serving it: the thread is then blocked and events pile up.
bool DeliveryQueued() {
  return platform::MsgWaitForMultipleObjects({}, false, 20000, platform::QS_POSTMESSAGE) ==
         platform::WAIT_OBJECT_0;
}

const char* SyncName(TSyncMethod sync) {
  switch (sync) {
    case smThreadSync:
      return "ThreadSync";
    case smWindowSync:
      return "WindowSync";
    case smNone:
      return "None";
  }
  return "?";
}

// ---------------------------------------------------------------------------
// Dispatch order and arguments

class DispatchOrder : public PortOnLine {
 protected:
  // Opens, lets a DSR pass wait in the queue, then piles a line error, one
  // byte and a CTS change up behind it: the next pass carries all three.
  void OpenAndPileUp() {
    Open();
    RecordHandlers(port_, fired_);
    line_.SetModemLines(MS_DSR_ON);
    ASSERT_TRUE(DeliveryQueued());
    line_.InjectLineError(CE_FRAME);
    line_.Inject("b");
    line_.SetModemLines(MS_DSR_ON | MS_CTS_ON);
  }
};

TEST_F(DispatchOrder, ErrorThenRxCharThenCtsInOnePass) {
  OpenAndPileUp();
  ASSERT_TRUE(fired_.WaitFor("CTS(1)"));
  EXPECT_EQ(fired_.Names(), (Names{"DSR(1)", "Error(0x01)", "RxChar(1)", "CTS(1)"}));
}

TEST_F(DispatchOrder, NoOnErrorWhenTheErrorsWereAlreadyCleared) {
  OpenAndPileUp();
  port_.InputQueueCount();  // clears the pending line error before the pass runs
  ASSERT_TRUE(fired_.WaitFor("CTS(1)"));
  EXPECT_EQ(fired_.Names(), (Names{"DSR(1)", "RxChar(1)", "CTS(1)"}));
}

TEST_F(DispatchOrder, AFailingStepSkipsTheRestOfItsPassOnly) {
  OpenAndPileUp();
  port_.SetOnError([&](TCustomComPort&, TComErrors) {
    fired_.Add("Error");
    throw std::runtime_error("error handler failed");
  });
  ASSERT_TRUE(shown_.WaitFor("error handler failed"));
  line_.SetModemLines(MS_CTS_ON);  // DSR off: the thread still watches
  ASSERT_TRUE(fired_.WaitFor("DSR(0)"));
  EXPECT_EQ(fired_.Names(), (Names{"DSR(1)", "Error", "DSR(0)"}));
  EXPECT_TRUE(port_.Connected());
}

TEST_F(DispatchOrder, SignalHandlersGetTheLineLevelNotTheChange) {
  Open();
  RecordHandlers(port_, fired_);
  line_.SetModemLines(MS_CTS_ON | MS_DSR_ON);
  ASSERT_TRUE(fired_.WaitUntil([&] { return fired_.Has("CTS(1)") && fired_.Has("DSR(1)"); }));
  line_.SetModemLines(MS_DSR_ON);
  ASSERT_TRUE(fired_.WaitFor("CTS(0)"));
  EXPECT_EQ(fired_.Count("DSR(1)"), 1u);
}

// ---------------------------------------------------------------------------
// Every event reaches its own handler, in the thread its sync method names.

enum class Trigger { Byte, EventChar, Written, Cts, Dsr, Rlsd, Ring, Break, Overrun, QueueFull };

struct EventCase {
  const char* name;
  Trigger trigger;
  std::string expected;
  Names alsoAllowed;
};

void PrintTo(const EventCase& c, std::ostream* os) {
  *os << c.name;
}

class EveryEvent
    : public PortOnLineT<::testing::TestWithParam<std::tuple<TSyncMethod, EventCase>>> {
 protected:
  void Fire(Trigger trigger) {
    switch (trigger) {
      case Trigger::Byte:
        line_.Inject("a");
        break;
      case Trigger::EventChar:
        line_.Inject("#");
        break;
      case Trigger::Written:
        EXPECT_EQ(port_.SendText("hi"), 2);
        break;
      case Trigger::Cts:
        line_.SetModemLines(MS_CTS_ON);
        break;
      case Trigger::Dsr:
        line_.SetModemLines(MS_DSR_ON);
        break;
      case Trigger::Rlsd:
        line_.SetModemLines(MS_RLSD_ON);
        break;
      case Trigger::Ring:
        line_.SetModemLines(MS_RING_ON);
        break;
      case Trigger::Break:
        line_.InjectBreak();
        break;
      case Trigger::Overrun:
        line_.InjectLineError(CE_OVERRUN);
        break;
      case Trigger::QueueFull:
        line_.Inject(std::string(820, 'x'));  // 80 % of the default 1024
        break;
    }
  }
};

TEST_P(EveryEvent, ReachesItsOwnHandlerInTheRightThread) {
  const auto& [sync, c] = GetParam();
  port_.SetEventChar('#');
  Open(sync);
  RecordHandlers(port_, fired_);
  Fire(c.trigger);
  ASSERT_TRUE(fired_.WaitFor(c.expected));

  Names allowed = c.alsoAllowed;
  allowed.push_back(c.expected);
  for (const Fired& f : fired_.All()) {
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), f.what), allowed.end()) << f.what;
    if (sync == smNone) {
      EXPECT_NE(f.thread, std::this_thread::get_id()) << f.what;
    } else {
      EXPECT_EQ(f.thread, std::this_thread::get_id()) << f.what;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Dispatch, EveryEvent,
    ::testing::Combine(
        ::testing::Values(smThreadSync, smWindowSync, smNone),
        ::testing::Values(EventCase{"RxChar", Trigger::Byte, "RxChar(1)", {}},
                          EventCase{"RxFlag", Trigger::EventChar, "RxFlag", {"RxChar(1)"}},
                          EventCase{"TxEmpty", Trigger::Written, "TxEmpty", {}},
                          EventCase{"CTS", Trigger::Cts, "CTS(1)", {}},
                          EventCase{"DSR", Trigger::Dsr, "DSR(1)", {}},
                          EventCase{"RLSD", Trigger::Rlsd, "RLSD(1)", {}},
                          EventCase{"Ring", Trigger::Ring, "Ring", {}},
                          EventCase{"Break", Trigger::Break, "Break", {}},
                          EventCase{"Error", Trigger::Overrun, "Error(0x04)", {}},
                          EventCase{"Rx80Full", Trigger::QueueFull, "Rx80Full", {"RxChar(820)"}})),
    [](const auto& p) {
      return std::string(SyncName(std::get<0>(p.param))) + "_" + std::get<1>(p.param).name;
    });

// ---------------------------------------------------------------------------
// Received-byte counts

TEST_F(PortOnLine, BytesArrivingDuringAHandlerAreCountedByTheNextOnRxChar) {
  bool first = true;
  port_.SetOnRxChar([&](TCustomComPort& port, std::int32_t count) {
    fired_.Add("RxChar(" + std::to_string(count) + ")");
    std::string text;
    port.ReceiveText(text, count);
    if (first) line_.Inject("12345");
    first = false;
  });
  Open();
  line_.Inject("a");
  ASSERT_TRUE(fired_.WaitFor("RxChar(5)"));
  EXPECT_EQ(fired_.Names(), (Names{"RxChar(1)", "RxChar(5)"}));
}

TEST_F(PortOnLine, APassFindingNoBytesFiresNothing) {
  bool first = true;
  std::string received;
  port_.SetOnRxChar([&](TCustomComPort& port, std::int32_t count) {
    fired_.Add("RxChar(" + std::to_string(count) + ")");
    if (first) line_.Inject("bcd");  // raises a pass of its own
    first = false;
    port.ReceiveText(received, 100);  // ... but takes its bytes now
  });
  port_.SetOnDSRChange([&](TCustomComPort&, bool on) {
    if (on) fired_.Add("DSR(1)");
  });
  Open();
  line_.Inject("a");
  ASSERT_TRUE(fired_.WaitFor("RxChar(1)"));
  line_.SetModemLines(MS_DSR_ON);  // a later pass, after the empty one
  ASSERT_TRUE(fired_.WaitFor("DSR(1)"));
  EXPECT_EQ(fired_.Names(), (Names{"RxChar(1)", "DSR(1)"}));
  EXPECT_EQ(received, "abcd");
}

TEST_F(PortOnLine, TheTransmitEmptyOfAReplyIsDeliveredAfterTheHandlerThatSentIt) {
  port_.SetOnRxChar([&](TCustomComPort& port, std::int32_t count) {
    std::string text;
    port.ReceiveText(text, count);
    port.SendText("answer");  // raises the transmit-empty while the event thread waits for us
    fired_.Add(text);
  });
  port_.SetOnTxEmpty([&](TCustomComPort&) { fired_.Add("TxEmpty"); });
  Open();
  line_.Inject("a");
  ASSERT_TRUE(fired_.WaitFor("TxEmpty"));
  EXPECT_EQ(fired_.Names(), (Names{"a", "TxEmpty"}));
}

// ---------------------------------------------------------------------------
// Linked reading

class LinkedReading : public PortOnLine {
 protected:
  LinkedReading() {
    link_.RxData = [this](TCustomComPort&, const char* data, std::int32_t n) {
      fired_.Add("link(" + std::string(data, static_cast<std::size_t>(n)) + ")");
    };
    link_.RxActivity = [this](TCustomComPort&, bool on) { fired_.Add(on ? "rx on" : "rx off"); };
  }
  PortLink link_;
};

TEST_F(LinkedReading, ALinkTakingTheDataGetsItOnceWithOnRxBufAndOnRxCharStaysQuiet) {
  port_.RegisterLink(&link_);
  EXPECT_TRUE(port_.HasRxBufLink());
  EXPECT_FALSE(port_.TriggersOnRxChar());
  PortLink second;
  second.RxData = [this](TCustomComPort&, const char* data, std::int32_t n) {
    fired_.Add("second(" + std::string(data, static_cast<std::size_t>(n)) + ")");
  };
  port_.RegisterLink(&second);
  Open();
  RecordHandlers(port_, fired_);
  line_.Inject("hello");
  ASSERT_TRUE(fired_.WaitFor("second(hello)"));
  EXPECT_EQ(fired_.Names(),
            (Names{"rx on", "rx off", "RxBuf(hello)", "link(hello)", "second(hello)"}));
  port_.ClosePort();
  port_.UnregisterLink(&second);
  port_.UnregisterLink(&link_);
}

TEST_F(LinkedReading, WithoutLinksTheStoredFlagOffReadsForOnRxBuf) {
  port_.SetTriggersOnRxChar(false);
  Open();
  RecordHandlers(port_, fired_);
  line_.Inject("abc");
  ASSERT_TRUE(fired_.WaitFor("RxBuf(abc)"));
  EXPECT_EQ(fired_.Names(), (Names{"RxBuf(abc)"}));
  EXPECT_EQ(port_.InputQueueCount(), 0);
}

TEST_F(LinkedReading, UnregisteringTheLinkHandsTheBytesBackToOnRxChar) {
  port_.RegisterLink(&link_);
  port_.UnregisterLink(&link_);
  EXPECT_FALSE(port_.HasRxBufLink());
  EXPECT_TRUE(port_.TriggersOnRxChar());
  Open();
  RecordHandlers(port_, fired_);
  line_.Inject("xy");
  ASSERT_TRUE(fired_.WaitFor("RxChar(2)"));
  EXPECT_EQ(fired_.Names(), (Names{"RxChar(2)"}));
}

TEST_F(LinkedReading, TheTriggerFlagCannotChangeWhileALinkTakesTheData) {
  port_.RegisterLink(&link_);
  try {
    port_.SetTriggersOnRxChar(true);
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), ecRxBufLinked);
    EXPECT_STREQ(e.what(), "A component is linked to OnRxBuf event");
  }
  port_.UnregisterLink(&link_);
}

TEST_F(LinkedReading, LinksHearTheTrafficAndTheConnection) {
  PortLink link;
  const auto signal = [this](const char* name) {
    return [this, name](TCustomComPort&, bool on) {
      fired_.Add(std::string(name) + (on ? " on" : " off"));
    };
  };
  link.Connection = signal("connection");
  link.TxActivity = signal("tx");
  link.TxData = [this](TCustomComPort&, const char* data, std::int32_t n) {
    fired_.Add("sent(" + std::string(data, static_cast<std::size_t>(n)) + ")");
  };
  link.TxEmpty = [this](TCustomComPort&) { fired_.Add("tx empty"); };
  link.CTS = signal("cts");
  link.Ring = [this](TCustomComPort&) { fired_.Add("ring"); };
  port_.RegisterLink(&link);
  line_.SetModemLines(MS_CTS_ON);
  Open();
  ASSERT_EQ(port_.SendText("ping"), 4);
  ASSERT_TRUE(fired_.WaitFor("tx empty"));
  line_.SetModemLines(MS_CTS_ON | MS_RING_ON);
  ASSERT_TRUE(fired_.WaitFor("ring"));
  port_.ClosePort();
  EXPECT_EQ(fired_.Names(), (Names{"connection on", "cts on", "tx on", "sent(ping)", "tx off",
                                   "tx empty", "ring", "cts off", "connection off"}));
  port_.UnregisterLink(&link);
}

// ---------------------------------------------------------------------------
// Signal announcement

TEST_F(PortOnLine, OpenAnnouncesTheLineLevelsAndCloseAnnouncesThemOff) {
  line_.SetModemLines(MS_CTS_ON | MS_RLSD_ON);
  RecordHandlers(port_, fired_);
  port_.SetOnAfterOpen([&](TCustomComPort&) { fired_.Add("AfterOpen"); });
  port_.SetOnBeforeClose([&](TCustomComPort&) { fired_.Add("BeforeClose"); });
  Open();
  EXPECT_EQ(fired_.Names(), (Names{"AfterOpen", "CTS(1)", "DSR(0)", "RLSD(1)"}));
  fired_.Clear();
  line_.ClearCalls();
  port_.ClosePort();
  EXPECT_EQ(fired_.Names(), (Names{"CTS(0)", "DSR(0)", "RLSD(0)", "BeforeClose"}));
  EXPECT_EQ(line_.CallNames({"WaitCommEvent", "GetOverlappedResult"}),
            (Names{"PurgeComm", "SetCommMask", "PurgeComm", "CloseHandle"}));
}

// ---------------------------------------------------------------------------
// Events empty: no thread, transfers still work

TEST_F(PortOnLine, WithNoEventsNothingWatchesButTransfersWork) {
  port_.SetEvents({});
  Open();
  RecordHandlers(port_, fired_);
  line_.Inject("abc");
  EXPECT_EQ(port_.SendText("xyz"), 3);
  ASSERT_TRUE(line_.WaitForWritten(3));
  std::string text;
  EXPECT_EQ(port_.ReceiveText(text, 10), 3);
  EXPECT_EQ(text, "abc");
  app_.ProcessMessages();
  EXPECT_TRUE(fired_.Names().empty());
  for (const std::string& call : line_.CallNames()) {
    EXPECT_NE(call, "WaitCommEvent");
    EXPECT_NE(call, "SetCommMask");
  }
}

// ---------------------------------------------------------------------------
// Closing from inside a delivery is deferred until the delivery has returned.

class CloseDuringDelivery : public PortOnLineT<::testing::TestWithParam<TSyncMethod>> {
 protected:
  CloseDuringDelivery() {
    port_.SetOnBeforeClose([this](TCustomComPort&) { fired_.Add("BeforeClose"); });
    port_.SetOnAfterClose([this](TCustomComPort&) { fired_.Add("AfterClose"); });
  }
  void Reported(TCustomComPort& port) { fired_.Add(port.Connected() ? "still open" : "closed"); }
};

TEST_P(CloseDuringDelivery, FromAHandlerHappensAfterItReturns) {
  port_.SetOnRxChar([this](TCustomComPort& port, std::int32_t) {
    fired_.Add("RxChar");
    port.ClosePort();
    Reported(port);
  });
  Open(GetParam());
  line_.Inject("a");
  ASSERT_TRUE(fired_.WaitFor("AfterClose"));
  EXPECT_EQ(fired_.Names(), (Names{"RxChar", "still open", "BeforeClose", "AfterClose"}));
  EXPECT_FALSE(port_.Connected());

  // The port opens and delivers again.
  fired_.Clear();
  port_.SetOnRxChar(
      [this](TCustomComPort&, std::int32_t n) { fired_.Add("again " + std::to_string(n)); });
  Open(GetParam());
  line_.Inject("bc");
  EXPECT_TRUE(fired_.WaitFor("again 2"));
}

TEST_P(CloseDuringDelivery, IsPendingUntilTheDeliveryHasReturned) {
  port_.SetOnRxChar([this](TCustomComPort& port, std::int32_t) {
    port.ClosePort();
    fired_.Add(port.ClosePending() ? "pending" : "not pending");
  });
  Open(GetParam());
  EXPECT_FALSE(port_.ClosePending());
  line_.Inject("a");
  ASSERT_TRUE(fired_.WaitFor("AfterClose"));
  EXPECT_EQ(fired_.Names(), (Names{"pending", "BeforeClose", "AfterClose"}));
  EXPECT_FALSE(port_.ClosePending());
}

INSTANTIATE_TEST_SUITE_P(Dispatch, CloseDuringDelivery,
                         ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& p) { return std::string(SyncName(p.param)); });

TEST_F(PortOnLine, CloseFromAMessageLoopAHandlerEnteredIsDeferredToo) {
  port_.SetOnAfterClose([this](TCustomComPort&) { fired_.Add("AfterClose"); });
  port_.SetOnRxChar([this](TCustomComPort&, std::int32_t) {
    fired_.Add("RxChar");
    app_.QueueCall([this] {
      port_.ClosePort();  // as a click on "close" served inside the handler
      fired_.Add(port_.Connected() ? "still open" : "closed");
    });
    app_.ProcessMessages();
    fired_.Add("handler done");
  });
  Open();
  line_.Inject("a");
  ASSERT_TRUE(fired_.WaitFor("AfterClose"));
  EXPECT_EQ(fired_.Names(), (Names{"RxChar", "still open", "handler done", "AfterClose"}));
}

TEST_F(PortOnLine, ClosingWithADeliveryQueuedRunsItFirstWhileStillConnected) {
  port_.SetOnRxChar([this](TCustomComPort& port, std::int32_t n) {
    fired_.Add(std::string(port.Connected() ? "open " : "closed ") + std::to_string(n));
  });
  port_.SetOnAfterClose([this](TCustomComPort&) { fired_.Add("AfterClose"); });
  Open();
  line_.Inject("abc");
  ASSERT_TRUE(DeliveryQueued());
  port_.ClosePort();
  EXPECT_EQ(fired_.Names(), (Names{"open 3", "AfterClose"}));
}

TEST_F(PortOnLine, ACloseRequestedWhileClosingDoesNothing) {
  port_.SetOnRxChar([this](TCustomComPort& port, std::int32_t) {
    fired_.Add("RxChar");
    port.ClosePort();
  });
  port_.SetOnBeforeClose([this](TCustomComPort&) { fired_.Add("BeforeClose"); });
  port_.SetOnAfterClose([this](TCustomComPort&) { fired_.Add("AfterClose"); });
  Open();
  line_.Inject("a");
  ASSERT_TRUE(DeliveryQueued());
  port_.ClosePort();
  app_.ProcessMessages();  // whatever the handler's request left queued
  EXPECT_EQ(fired_.Names(), (Names{"BeforeClose", "RxChar", "AfterClose"}));

  Open();  // a later session is not closed by the old request
  app_.ProcessMessages();
  EXPECT_TRUE(port_.Connected());
}

// ---------------------------------------------------------------------------
// An exception in a handler is shown and delivery goes on.

class HandlerException : public PortOnLineT<::testing::TestWithParam<TSyncMethod>> {};

TEST_P(HandlerException, IsShownAndLaterEventsAreDelivered) {
  port_.SetOnRxChar([this](TCustomComPort& port, std::int32_t count) {
    std::string text;
    port.ReceiveText(text, count);
    if (text == "boom") throw std::runtime_error("handler failed");
    fired_.Add("got " + text);
  });
  Open(GetParam());
  line_.Inject("boom");
  ASSERT_TRUE(shown_.WaitFor("handler failed"));
  line_.Inject("ok");
  ASSERT_TRUE(fired_.WaitFor("got ok"));
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(shown_.Count("handler failed"), 1u);
  EXPECT_EQ(port_.SendText("still"), 5);
}

INSTANTIATE_TEST_SUITE_P(Dispatch, HandlerException,
                         ::testing::Values(smThreadSync, smWindowSync, smNone),
                         [](const auto& p) { return std::string(SyncName(p.param)); });

}  // namespace
}  // namespace cport::testing
