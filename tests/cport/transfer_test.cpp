// Data transfer on a memory line: the synchronous calls, the starting layer,
// time-outs, aborts, and every error code a transfer can report.
#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "port_on_line.h"

namespace cport::testing {
namespace {

using namespace device;
using Names = std::vector<std::string>;

class Transfer : public PortOnLine {
 protected:
  Transfer() { port_.SetEvents({}); }  // nothing else touches the device

  // Every report an OnException handler receives: "code/system error".
  void CollectReports() {
    port_.SetOnException([this](TCustomComPort&, TComExceptions code, const std::string&,
                                std::int64_t error, const std::string&) {
      reports_.push_back(std::to_string(code) + "/" + std::to_string(error));
    });
  }
  std::vector<std::string> reports_;
};

// ---------------------------------------------------------------------------
// Synchronous calls

TEST_F(Transfer, SendTextWritesTheBytesUnchanged) {
  Open();
  const std::string bytes("a\0\xb0\xff\r\n", 6);
  EXPECT_EQ(port_.SendText(bytes), 6);
  ASSERT_TRUE(line_.WaitForWritten(6));
  EXPECT_EQ(line_.Written(), bytes);
}

TEST_F(Transfer, EmptySendTextDoesNothingEvenWhenClosed) {
  EXPECT_EQ(port_.SendText(""), 0);
  Open();
  line_.ClearCalls();
  EXPECT_EQ(port_.SendText(""), 0);
  for (const std::string& call : line_.CallNames())
    EXPECT_NE(call, "WriteFile");
}

TEST_F(Transfer, ReceiveTextWithNothingToAskForClearsTextWithoutReading) {
  Open();
  line_.Inject("abc");
  line_.ClearCalls();
  for (const std::int32_t count : {0, -5}) {
    std::string text = "old";
    EXPECT_EQ(port_.ReceiveText(text, count), 0);
    EXPECT_EQ(text, "");
  }
  for (const std::string& call : line_.CallNames())
    EXPECT_NE(call, "ReadFile");
}

TEST_F(Transfer, ReceiveTextReturnsWhatIsWaitingAtOnceWithDefaultTimeouts) {
  Open();
  line_.Inject("abc");
  std::string text = "old";
  EXPECT_EQ(port_.ReceiveText(text, 10), 3);
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(port_.ReceiveText(text, 10), 0);
  EXPECT_EQ(text, "");
}

TEST_F(Transfer, ReceiveBufferFillsTheCallersBuffer) {
  Open();
  line_.Inject("hello");
  char buffer[8] = {};
  EXPECT_EQ(port_.ReceiveBuffer(buffer, 3), 3);
  EXPECT_EQ(std::string(buffer, 3), "hel");
  EXPECT_EQ(port_.InputQueueCount(), 2);
}

TEST_F(Transfer, AWriteCutShortByTheDeviceReturnsTheShorterCountQuietly) {
  CollectReports();
  PortLink link;
  std::string announced;
  link.TxData = [&](TCustomComPort&, const char* data, std::int32_t n) {
    announced.assign(data, static_cast<std::size_t>(n));
  };
  port_.RegisterLink(&link);
  Open();
  line_.LimitWrites(2);
  EXPECT_EQ(port_.SendText("hello"), 2);
  EXPECT_TRUE(reports_.empty());
  EXPECT_EQ(announced, "he");  // only what went out counts as transmitted
  port_.UnregisterLink(&link);
}

TEST_F(Transfer, AReadWithoutTimeoutsWaitsForItsFullCount) {
  port_.Timeouts().SetReadInterval(0);  // no time-outs at all
  Open();
  std::string text;
  auto reading = std::async(std::launch::async, [&] { return port_.ReceiveText(text, 4); });
  ASSERT_TRUE(line_.WaitForCall("ReadFile"));
  line_.Inject("ab");
  line_.Inject("cdef");
  EXPECT_EQ(reading.get(), 4);
  EXPECT_EQ(text, "abcd");
  EXPECT_EQ(port_.InputQueueCount(), 2);
}

// ---------------------------------------------------------------------------
// The starting layer

TEST_F(Transfer, ANewRecordWaitsForNothing) {
  PortLink link;
  int notified = 0;
  link.TxData = [&](TCustomComPort&, const char*, std::int32_t) { ++notified; };
  link.RxActivity = [&](TCustomComPort&, bool) { ++notified; };
  port_.RegisterLink(&link);
  CollectReports();
  auto record = CreatePendingTransfer();
  EXPECT_EQ(record->Kind, tkWrite);
  EXPECT_EQ(record->Size, 0);
  EXPECT_EQ(record->Data, nullptr);
  EXPECT_EQ(port_.WaitForTransfer(record.get()), 0);
  EXPECT_TRUE(reports_.empty());
  EXPECT_EQ(notified, 0);
  DisposePendingTransfer(record);
  EXPECT_EQ(record, nullptr);
  DisposePendingTransfer(record);  // twice is harmless
  port_.UnregisterLink(&link);
}

TEST_F(Transfer, ARecordCarriesOneTransferAfterAnother) {
  Open();
  auto record = CreatePendingTransfer();
  const std::string first = "first";
  port_.BeginSendText(first, record.get());
  EXPECT_EQ(port_.WaitForTransfer(record.get()), 5);
  EXPECT_EQ(std::string(record->Data.get(), 5), "first");
  const std::string second = "2nd";
  port_.BeginSendText(second, record.get());
  EXPECT_EQ(port_.WaitForTransfer(record.get()), 3);
  EXPECT_EQ(record->Size, 3);
  EXPECT_EQ(std::string(record->Data.get(), 3), "2nd");

  line_.Inject("xyz");
  std::string text;
  EXPECT_EQ(port_.BeginReceiveText(text, 3, record.get()), 3);  // done at once
  EXPECT_EQ(record->Kind, tkRead);
  EXPECT_EQ(port_.WaitForTransfer(record.get()), 3);
  EXPECT_EQ(text, "xyz");
  EXPECT_EQ(record->Size, 3);  // a read leaves the last write's copy alone
  DisposePendingTransfer(record);
  ASSERT_TRUE(line_.WaitForWritten(8));
  EXPECT_EQ(line_.Written(), "first2nd");
}

TEST_F(Transfer, NoRecordIsReportedAndAbsorbedWithNothingDone) {
  Open();
  CollectReports();
  char buffer[4];
  EXPECT_EQ(port_.BeginSendBuffer("ab", 2, nullptr), 0);
  EXPECT_EQ(port_.BeginReceiveBuffer(buffer, 4, nullptr), 0);
  EXPECT_EQ(port_.WaitForTransfer(nullptr), 0);
  EXPECT_EQ(reports_, (Names{"4/0", "4/0", "4/0"}));
}

TEST_F(Transfer, AFailedStartWithAnAbsorbedReportDoesNotHangTheWait) {
  Open();
  CollectReports();
  line_.FailNext("WriteFile", ERROR_GEN_FAILURE);
  EXPECT_EQ(port_.SendText("lost"), 0);
  line_.FailNext("ReadFile", ERROR_GEN_FAILURE);
  std::string text = "kept";
  EXPECT_EQ(port_.ReceiveText(text, 3), 0);
  EXPECT_EQ(reports_, (Names{"2/31", "3/31"}));
}

// ---------------------------------------------------------------------------
// Aborts

enum class Direction { Read, Write };

class Abort : public PortOnLineT<::testing::TestWithParam<Direction>> {
 protected:
  Abort() { port_.SetEvents({}); }
};

TEST_P(Abort, EndsATransferInFlightWithItsCodeAnd995) {
  port_.Timeouts().SetReadInterval(0);  // a read waits for its bytes
  port_.Timeouts().SetWriteTotalMultiplier(0);
  port_.Timeouts().SetWriteTotalConstant(0);  // a write waits for room
  port_.Buffer().SetOutputSize(8);
  Open();
  line_.HoldWrites(true);
  const bool read = GetParam() == Direction::Read;
  auto transfer = std::async(std::launch::async, [&]() -> std::optional<EComPort> {
    try {
      std::string text;
      if (read) {
        port_.ReceiveText(text, 10);
      } else {
        port_.SendText(std::string(20, 'w'));
      }
    } catch (const EComPort& e) {
      return e;
    }
    return std::nullopt;
  });
  ASSERT_TRUE(line_.WaitForCall(read ? "ReadFile" : "WriteFile"));
  port_.AbortAllTransfers();
  const std::optional<EComPort> error = transfer.get();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->ComErrorCode(), read ? ecReadFailed : ecWriteFailed);
  EXPECT_EQ(error->SystemErrorCode(), 995);
  EXPECT_STREQ(error->what(), read ? "ReadFile function failed (Error: 995)"
                                   : "WriteFile function failed (Error: 995)");
}

INSTANTIATE_TEST_SUITE_P(Transfer, Abort, ::testing::Values(Direction::Read, Direction::Write),
                         [](const auto& p) {
                           return p.param == Direction::Read ? "Read" : "Write";
                         });

// ---------------------------------------------------------------------------
// Every failure a transfer reports

enum class Op { SendText, ReceiveText, AbortAll };

struct Failure {
  const char* name;
  bool open;
  Op op;
  const char* failingCall;  // made to fail with ERROR_GEN_FAILURE; null: none
  int code;
  int systemError;
  const char* message;
};

void PrintTo(const Failure& f, std::ostream* os) {
  *os << f.name;
}

class TransferFailure : public PortOnLineT<::testing::TestWithParam<Failure>> {
 protected:
  TransferFailure() { port_.SetEvents({}); }
};

TEST_P(TransferFailure, RaisesItsCodeAndLeavesTheTextAlone) {
  const Failure& f = GetParam();
  if (f.open) Open();
  line_.Inject("abc");
  if (f.failingCall != nullptr) line_.FailNext(f.failingCall, ERROR_GEN_FAILURE);
  std::string text = "untouched";
  try {
    switch (f.op) {
      case Op::SendText:
        port_.SendText("data");
        break;
      case Op::ReceiveText:
        port_.ReceiveText(text, 5);
        break;
      case Op::AbortAll:
        port_.AbortAllTransfers();
        break;
    }
    FAIL() << "nothing raised";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ComErrorCode(), f.code);
    EXPECT_EQ(e.SystemErrorCode(), f.systemError);
    EXPECT_STREQ(e.what(), f.message);
  }
  EXPECT_EQ(text, "untouched");
  // The port is still usable afterwards.
  if (f.open) {
    EXPECT_EQ(port_.SendText("ok"), 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Transfer, TransferFailure,
    ::testing::Values(
        Failure{"SendWhileClosed", false, Op::SendText, nullptr, 24, -1, "Port Not Open"},
        Failure{"ReceiveWhileClosed", false, Op::ReceiveText, nullptr, 24, -1, "Port Not Open"},
        Failure{"WriteFileFails", true, Op::SendText, "WriteFile", 2, 31,
                "WriteFile function failed (Error: 31)"},
        Failure{"ReadFileFails", true, Op::ReceiveText, "ReadFile", 3, 31,
                "ReadFile function failed (Error: 31)"},
        Failure{"WriteResultFails", true, Op::SendText, "GetOverlappedResult", 2, 31,
                "WriteFile function failed (Error: 31)"},
        Failure{"ReadResultFails", true, Op::ReceiveText, "GetOverlappedResult", 3, 31,
                "ReadFile function failed (Error: 31)"},
        Failure{"QueueQueryAfterReadFails", true, Op::ReceiveText, "ClearCommError", 10, 31,
                "ClearCommError function failed (Error: 31)"},
        Failure{"PurgeFails", true, Op::AbortAll, "PurgeComm", 5, 31,
                "PurgeComm function failed (Error: 31)"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace cport::testing
