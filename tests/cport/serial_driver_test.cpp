// The shared serial driver, driven from its far side as a backend would, with
// time on a manual clock.
#include "cport/detail/serial_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace cport::detail {
namespace {

using namespace device;
using std::chrono::milliseconds;

struct Transfer {
  OVERLAPPED overlapped{.hEvent = platform::CreateEvent(true, true)};
  std::string buffer = std::string(64, '\0');
  DWORD count = 0;
  DWORD mask = 0;

  bool Signalled() const { return platform::WaitForSingleObject(overlapped.hEvent, 0) == 0; }
};

class DriverTest : public ::testing::Test {
 protected:
  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  SerialDriver driver_{clock_};

  void Receive(std::string_view bytes) {
    driver_.Receive(std::span(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
  }
  void Timeouts(DWORD interval, DWORD multiplier, DWORD constant, DWORD writeMultiplier = 0,
                DWORD writeConstant = 0) {
    ASSERT_EQ(
        driver_.SetCommTimeouts({interval, multiplier, constant, writeMultiplier, writeConstant}),
        ERROR_SUCCESS);
  }
  DWORD StartRead(Transfer& t, DWORD count) {
    return driver_.ReadFile(t.buffer.data(), count, &t.count, &t.overlapped);
  }
  DWORD StartWrite(Transfer& t, std::string_view bytes) {
    t.buffer.assign(bytes);
    return driver_.WriteFile(t.buffer.data(), static_cast<DWORD>(bytes.size()), &t.count,
                             &t.overlapped);
  }
  DWORD StartWait(Transfer& t) { return driver_.WaitCommEvent(&t.mask, &t.overlapped); }
  // The result of a finished transfer; 996 while it still runs.
  DWORD Result(Transfer& t) { return driver_.GetOverlappedResult(&t.overlapped, &t.count, false); }
  std::string Output() {
    std::string out(driver_.OutputQueued(), '\0');
    driver_.PeekOutput(std::span(reinterpret_cast<BYTE*>(out.data()), out.size()));
    return out;
  }
  DWORD InQueue() {
    COMSTAT stat;
    DWORD errors = 0;
    driver_.ClearCommError(&errors, &stat);
    return stat.cbInQue;
  }
};

// --- Reads under COMMTIMEOUTS ---

TEST_F(DriverTest, MaxdwordIntervalWithZeroTotalsReturnsWhatIsQueued) {
  Timeouts(MAXDWORD, 0, 0);
  Receive("abc");
  Transfer t;
  EXPECT_EQ(StartRead(t, 10), ERROR_SUCCESS);
  EXPECT_EQ(t.count, 3u);
  EXPECT_EQ(t.buffer.substr(0, 3), "abc");
  EXPECT_TRUE(t.Signalled());
  Transfer empty;
  EXPECT_EQ(StartRead(empty, 10), ERROR_SUCCESS);
  EXPECT_EQ(empty.count, 0u);
}

TEST_F(DriverTest, TotalTimeoutEndsReadWithShorterCountAndSuccess) {
  Timeouts(0, 10, 100);  // 10 x 5 + 100 = 150 ms
  Transfer t;
  ASSERT_EQ(StartRead(t, 5), ERROR_IO_PENDING);
  EXPECT_FALSE(t.Signalled());
  Receive("ab");
  clock_->Advance(milliseconds(149));
  EXPECT_EQ(Result(t), ERROR_IO_INCOMPLETE);
  clock_->Advance(milliseconds(1));
  EXPECT_TRUE(t.Signalled());
  EXPECT_EQ(Result(t), ERROR_SUCCESS);
  EXPECT_EQ(t.count, 2u);
  EXPECT_EQ(t.buffer.substr(0, 2), "ab");
}

TEST_F(DriverTest, IntervalTimerStartsWithTheFirstByteAndRestartsOnEach) {
  Timeouts(50, 0, 0);
  Transfer t;
  ASSERT_EQ(StartRead(t, 10), ERROR_IO_PENDING);
  clock_->Advance(milliseconds(10000));
  EXPECT_EQ(Result(t), ERROR_IO_INCOMPLETE) << "no byte yet: no interval running";
  Receive("a");
  clock_->Advance(milliseconds(49));
  Receive("b");
  clock_->Advance(milliseconds(49));
  EXPECT_EQ(Result(t), ERROR_IO_INCOMPLETE);
  clock_->Advance(milliseconds(1));
  EXPECT_EQ(Result(t), ERROR_SUCCESS);
  EXPECT_EQ(t.count, 2u);
}

TEST_F(DriverTest, WithoutTimeoutsReadWaitsForTheFullCount) {
  Timeouts(0, 0, 0);
  Transfer t;
  ASSERT_EQ(StartRead(t, 3), ERROR_IO_PENDING);
  Receive("a");
  clock_->Advance(milliseconds(3600000));
  EXPECT_EQ(Result(t), ERROR_IO_INCOMPLETE);
  Receive("bcd");
  EXPECT_EQ(Result(t), ERROR_SUCCESS);
  EXPECT_EQ(t.buffer.substr(0, 3), "abc");
  EXPECT_EQ(InQueue(), 1u) << "the byte beyond the count stays queued";
}

TEST_F(DriverTest, MaxdwordMultiplierReturnsOnFirstByteOrAfterConstant) {
  Timeouts(MAXDWORD, MAXDWORD, 200);
  Transfer first;
  ASSERT_EQ(StartRead(first, 10), ERROR_IO_PENDING);
  Receive("x");
  EXPECT_EQ(Result(first), ERROR_SUCCESS);
  EXPECT_EQ(first.count, 1u);
  Transfer second;
  ASSERT_EQ(StartRead(second, 10), ERROR_IO_PENDING);
  clock_->Advance(milliseconds(200));
  EXPECT_EQ(Result(second), ERROR_SUCCESS);
  EXPECT_EQ(second.count, 0u);
}

TEST_F(DriverTest, PendingReadsAreServedInOrder) {
  Timeouts(0, 0, 0);
  Transfer first, second;
  ASSERT_EQ(StartRead(first, 2), ERROR_IO_PENDING);
  ASSERT_EQ(StartRead(second, 2), ERROR_IO_PENDING);
  Receive("abcd");
  EXPECT_EQ(first.buffer.substr(0, 2), "ab");
  EXPECT_EQ(second.buffer.substr(0, 2), "cd");
}

// --- Writes and the output queue ---

TEST_F(DriverTest, WriteThatFitsCompletesAtOnce) {
  ASSERT_EQ(driver_.SetupComm(16, 8), ERROR_SUCCESS);
  Transfer t;
  EXPECT_EQ(StartWrite(t, "12345678"), ERROR_SUCCESS);
  EXPECT_EQ(t.count, 8u);
  EXPECT_TRUE(t.Signalled());
  EXPECT_EQ(Output(), "12345678");
}

TEST_F(DriverTest, WriteWaitsForRoomThenCompletes) {
  ASSERT_EQ(driver_.SetupComm(16, 4), ERROR_SUCCESS);
  Transfer t;
  ASSERT_EQ(StartWrite(t, "abcdef"), ERROR_IO_PENDING);
  EXPECT_EQ(t.count, 0u);
  COMSTAT stat;
  ASSERT_EQ(driver_.ClearCommError(nullptr, &stat), ERROR_SUCCESS);
  EXPECT_EQ(stat.cbOutQue, 6u);
  EXPECT_EQ(Output(), "abcd");
  driver_.ConsumeOutput(4);
  EXPECT_EQ(Result(t), ERROR_SUCCESS);
  EXPECT_EQ(t.count, 6u);
  EXPECT_EQ(Output(), "ef");
}

TEST_F(DriverTest, WriteTotalTimeoutCompletesWithTheBytesTaken) {
  ASSERT_EQ(driver_.SetupComm(16, 4), ERROR_SUCCESS);
  Timeouts(MAXDWORD, 0, 0, 10, 100);  // 10 x 6 + 100 = 160 ms
  Transfer t;
  ASSERT_EQ(StartWrite(t, "abcdef"), ERROR_IO_PENDING);
  clock_->Advance(milliseconds(159));
  EXPECT_EQ(Result(t), ERROR_IO_INCOMPLETE);
  clock_->Advance(milliseconds(1));
  EXPECT_EQ(Result(t), ERROR_SUCCESS);
  EXPECT_EQ(t.count, 4u);
}

TEST_F(DriverTest, TxEmptyWhenTheLastQueuedByteLeaves) {
  ASSERT_EQ(driver_.SetCommMask(EV_TXEMPTY), ERROR_SUCCESS);
  Transfer wait, write;
  ASSERT_EQ(StartWait(wait), ERROR_IO_PENDING);
  ASSERT_EQ(StartWrite(write, "abc"), ERROR_SUCCESS);
  driver_.ConsumeOutput(2);
  EXPECT_FALSE(wait.Signalled());
  driver_.ConsumeOutput(1);
  EXPECT_EQ(Result(wait), ERROR_SUCCESS);
  EXPECT_EQ(wait.mask, EV_TXEMPTY);
}

// --- Events ---

TEST_F(DriverTest, RxCharIsAnEdgeNotALevel) {
  ASSERT_EQ(driver_.SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  Receive("a");
  Transfer first;
  EXPECT_EQ(StartWait(first), ERROR_SUCCESS) << "an arrival before the wait is kept";
  EXPECT_EQ(first.mask, EV_RXCHAR);
  Transfer second;
  EXPECT_EQ(StartWait(second), ERROR_IO_PENDING) << "queued bytes alone fire nothing";
  Receive("b");
  EXPECT_EQ(Result(second), ERROR_SUCCESS);
  EXPECT_EQ(second.mask, EV_RXCHAR);
}

TEST_F(DriverTest, RxFlagOnTheEventCharacter) {
  DCB dcb = DefaultDcb();
  dcb.EvtChar = '\n';
  ASSERT_EQ(driver_.SetCommState(dcb), ERROR_SUCCESS);
  ASSERT_EQ(driver_.SetCommMask(EV_RXCHAR | EV_RXFLAG), ERROR_SUCCESS);
  Transfer plain, flagged;
  Receive("ab");
  ASSERT_EQ(StartWait(plain), ERROR_SUCCESS);
  EXPECT_EQ(plain.mask, EV_RXCHAR);
  Receive("c\n");
  ASSERT_EQ(StartWait(flagged), ERROR_SUCCESS);
  EXPECT_EQ(flagged.mask, EV_RXCHAR | EV_RXFLAG);
}

TEST_F(DriverTest, EventsOutsideTheMaskAreNotRemembered) {
  ASSERT_EQ(driver_.SetCommMask(EV_CTS), ERROR_SUCCESS);
  Receive("abc");
  driver_.SetModemStatus(MS_CTS_ON);
  Transfer t;
  ASSERT_EQ(StartWait(t), ERROR_SUCCESS);
  EXPECT_EQ(t.mask, EV_CTS);
}

TEST_F(DriverTest, SetCommMaskCompletesThePendingWaitWithZero) {
  ASSERT_EQ(driver_.SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  Transfer t;
  t.mask = 0xFFFF;
  ASSERT_EQ(StartWait(t), ERROR_IO_PENDING);
  ASSERT_EQ(driver_.SetCommMask(0), ERROR_SUCCESS);
  EXPECT_EQ(Result(t), ERROR_SUCCESS);
  EXPECT_EQ(t.mask, 0u);
}

TEST_F(DriverTest, OnlyOneWaitAtATime) {
  ASSERT_EQ(driver_.SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  Transfer first, second;
  ASSERT_EQ(StartWait(first), ERROR_IO_PENDING);
  EXPECT_EQ(StartWait(second), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(driver_.CloseHandle(), ERROR_SUCCESS);  // ends `first` while it exists
}

TEST_F(DriverTest, ModemChangesRaiseTheirEvents) {
  ASSERT_EQ(driver_.SetCommMask(EV_CTS | EV_DSR | EV_RLSD | EV_RING), ERROR_SUCCESS);
  struct Step {
    DWORD status;
    DWORD events;
  };
  const Step steps[] = {{MS_CTS_ON, EV_CTS},
                        {MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON, EV_DSR | EV_RLSD},
                        {MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON, EV_RING},
                        {MS_DSR_ON | MS_RLSD_ON, EV_CTS}};
  for (const Step& step : steps) {
    driver_.SetModemStatus(step.status);
    Transfer t;
    ASSERT_EQ(StartWait(t), ERROR_SUCCESS);
    EXPECT_EQ(t.mask, step.events) << "status " << step.status;
    DWORD status = 0;
    ASSERT_EQ(driver_.GetCommModemStatus(&status), ERROR_SUCCESS);
    EXPECT_EQ(status, step.status);
  }
}

TEST_F(DriverTest, ErrorWordIsClearedByEachClearCommError) {
  ASSERT_EQ(driver_.SetCommMask(EV_ERR | EV_BREAK), ERROR_SUCCESS);
  driver_.LineError(CE_FRAME | CE_OVERRUN);
  Transfer err;
  ASSERT_EQ(StartWait(err), ERROR_SUCCESS);
  EXPECT_EQ(err.mask, EV_ERR);
  driver_.Break();
  Transfer brk;
  ASSERT_EQ(StartWait(brk), ERROR_SUCCESS);
  EXPECT_EQ(brk.mask, EV_BREAK);

  DWORD errors = 0;
  ASSERT_EQ(driver_.ClearCommError(&errors, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(errors, CE_FRAME | CE_OVERRUN | CE_BREAK);
  ASSERT_EQ(driver_.ClearCommError(&errors, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(errors, 0u);
}

TEST_F(DriverTest, ParityErrorByteIsReplacedByTheErrorCharacter) {
  DCB dcb = DefaultDcb();
  dcb.Flags |= DCB_fErrorChar;
  dcb.ErrorChar = '?';
  ASSERT_EQ(driver_.SetCommState(dcb), ERROR_SUCCESS);
  driver_.ReceiveFaulty('x', CE_RXPARITY);
  driver_.ReceiveFaulty('y', CE_FRAME);
  Transfer t;
  Timeouts(MAXDWORD, 0, 0);
  ASSERT_EQ(StartRead(t, 10), ERROR_SUCCESS);
  EXPECT_EQ(t.buffer.substr(0, t.count), "?y");
  DWORD errors = 0;
  driver_.ClearCommError(&errors, nullptr);
  EXPECT_EQ(errors, CE_RXPARITY | CE_FRAME);
}

TEST_F(DriverTest, Rx80FullOnceWhenTheQueueCrossesTheMark) {
  ASSERT_EQ(driver_.SetupComm(10, 10), ERROR_SUCCESS);
  ASSERT_EQ(driver_.SetCommMask(EV_RX80FULL), ERROR_SUCCESS);
  Transfer t;
  ASSERT_EQ(StartWait(t), ERROR_IO_PENDING);
  Receive("1234567");
  EXPECT_FALSE(t.Signalled());
  Receive("8");
  EXPECT_EQ(Result(t), ERROR_SUCCESS);
  EXPECT_EQ(t.mask, EV_RX80FULL);
  Transfer again;
  ASSERT_EQ(StartWait(again), ERROR_IO_PENDING);
  Receive("9");
  EXPECT_FALSE(again.Signalled()) << "still above the mark: no second event";
  ASSERT_EQ(driver_.CloseHandle(), ERROR_SUCCESS);
}

TEST_F(DriverTest, OverflowDropsBytesAndSetsRxOver) {
  ASSERT_EQ(driver_.SetupComm(4, 4), ERROR_SUCCESS);
  Receive("abcdef");
  DWORD errors = 0;
  COMSTAT stat;
  ASSERT_EQ(driver_.ClearCommError(&errors, &stat), ERROR_SUCCESS);
  EXPECT_EQ(errors, CE_RXOVER);
  EXPECT_EQ(stat.cbInQue, 4u);
}

TEST_F(DriverTest, DiscardNullDropsZeroBytes) {
  DCB dcb = DefaultDcb();
  dcb.Flags |= DCB_fNull;
  ASSERT_EQ(driver_.SetCommState(dcb), ERROR_SUCCESS);
  ASSERT_EQ(driver_.SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  Transfer wait;
  ASSERT_EQ(StartWait(wait), ERROR_IO_PENDING);
  Receive(std::string_view("\0\0", 2));
  EXPECT_FALSE(wait.Signalled()) << "nothing was received";
  Receive(std::string_view("a\0b", 3));
  EXPECT_TRUE(wait.Signalled());
  EXPECT_EQ(InQueue(), 2u);
}

// --- Purge, close, hang-up ---

TEST_F(DriverTest, AbortEndsTransfersInFlightWith995AndKeepsQueues) {
  ASSERT_EQ(driver_.SetupComm(16, 2), ERROR_SUCCESS);
  Timeouts(0, 0, 0);
  Transfer read, write;
  ASSERT_EQ(StartRead(read, 5), ERROR_IO_PENDING);
  ASSERT_EQ(StartWrite(write, "abcd"), ERROR_IO_PENDING);
  ASSERT_EQ(driver_.PurgeComm(PURGE_TXABORT | PURGE_RXABORT), ERROR_SUCCESS);
  EXPECT_TRUE(read.Signalled());
  EXPECT_TRUE(write.Signalled());
  EXPECT_EQ(Result(read), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(Result(write), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(Output(), "ab") << "an abort does not clear the queues";

  Receive("xyz");
  ASSERT_EQ(driver_.PurgeComm(PURGE_TXCLEAR | PURGE_RXCLEAR), ERROR_SUCCESS);
  EXPECT_EQ(InQueue(), 0u);
  EXPECT_EQ(driver_.OutputQueued(), 0u);
  EXPECT_EQ(driver_.PurgeComm(0x10), ERROR_INVALID_PARAMETER);
}

TEST_F(DriverTest, CloseEndsEverythingWith995) {
  ASSERT_EQ(driver_.SetupComm(16, 2), ERROR_SUCCESS);
  ASSERT_EQ(driver_.SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  Timeouts(0, 0, 0);
  Transfer read, write, wait;
  ASSERT_EQ(StartRead(read, 5), ERROR_IO_PENDING);
  ASSERT_EQ(StartWrite(write, "abcd"), ERROR_IO_PENDING);
  ASSERT_EQ(StartWait(wait), ERROR_IO_PENDING);
  ASSERT_EQ(driver_.CloseHandle(), ERROR_SUCCESS);
  for (Transfer* t : {&read, &write, &wait})
    EXPECT_EQ(Result(*t), ERROR_OPERATION_ABORTED);
  EXPECT_EQ(driver_.SetupComm(16, 16), ERROR_INVALID_HANDLE);
  EXPECT_EQ(driver_.CloseHandle(), ERROR_INVALID_HANDLE);
}

TEST_F(DriverTest, HangUpEndsEachTransferOnceAndNothingSpins) {
  ASSERT_EQ(driver_.SetupComm(16, 2), ERROR_SUCCESS);
  ASSERT_EQ(driver_.SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  Timeouts(0, 0, 0);
  Transfer read, write, wait;
  ASSERT_EQ(StartRead(read, 5), ERROR_IO_PENDING);
  ASSERT_EQ(StartWrite(write, "abcd"), ERROR_IO_PENDING);
  ASSERT_EQ(StartWait(wait), ERROR_IO_PENDING);
  driver_.HangUp();
  for (Transfer* t : {&read, &write, &wait})
    EXPECT_EQ(Result(*t), ERROR_DEVICE_NOT_CONNECTED);

  Transfer again;
  EXPECT_EQ(StartWait(again), ERROR_DEVICE_NOT_CONNECTED);
  EXPECT_FALSE(again.Signalled()) << "an event loop that ignores the result must sleep";
  Transfer write2;
  EXPECT_EQ(StartWrite(write2, "x"), ERROR_DEVICE_NOT_CONNECTED);
  Transfer read2;
  EXPECT_EQ(StartRead(read2, 1), ERROR_DEVICE_NOT_CONNECTED);

  driver_.Reconnect();
  Transfer write3;
  EXPECT_EQ(StartWrite(write3, "x"), ERROR_SUCCESS);
}

TEST_F(DriverTest, HangUpKeepsBytesAlreadyReceived) {
  Timeouts(0, 0, 0);
  Transfer partial;
  ASSERT_EQ(StartRead(partial, 5), ERROR_IO_PENDING);
  Receive("ab");
  driver_.HangUp();
  EXPECT_EQ(Result(partial), ERROR_SUCCESS);
  EXPECT_EQ(partial.count, 2u);
}

// --- Configuration ---

struct DcbCase {
  BYTE byteSize;
  BYTE stopBits;
  BYTE parity;
  DWORD expected;
};

class DcbValidation : public ::testing::TestWithParam<DcbCase> {};

TEST_P(DcbValidation, RefusesWhatNoLineCanDo) {
  DCB dcb = DefaultDcb();
  dcb.ByteSize = GetParam().byteSize;
  dcb.StopBits = GetParam().stopBits;
  dcb.Parity = GetParam().parity;
  EXPECT_EQ(ValidateDcb(dcb), GetParam().expected);
  SerialDriver driver(std::make_shared<ManualClock>());
  EXPECT_EQ(driver.SetCommState(dcb), GetParam().expected);
  DCB back;
  ASSERT_EQ(driver.GetCommState(back), ERROR_SUCCESS);
  EXPECT_EQ(back == dcb, GetParam().expected == ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Framing, DcbValidation,
    ::testing::Values(DcbCase{8, ONESTOPBIT, NOPARITY, ERROR_SUCCESS},
                      DcbCase{5, ONE5STOPBITS, NOPARITY, ERROR_SUCCESS},
                      DcbCase{8, ONE5STOPBITS, NOPARITY, ERROR_INVALID_PARAMETER},
                      DcbCase{6, TWOSTOPBITS, SPACEPARITY, ERROR_SUCCESS},
                      DcbCase{5, TWOSTOPBITS, NOPARITY, ERROR_INVALID_PARAMETER},
                      DcbCase{4, ONESTOPBIT, NOPARITY, ERROR_INVALID_PARAMETER},
                      DcbCase{9, ONESTOPBIT, NOPARITY, ERROR_INVALID_PARAMETER},
                      DcbCase{8, 3, NOPARITY, ERROR_INVALID_PARAMETER},
                      DcbCase{8, ONESTOPBIT, 5, ERROR_INVALID_PARAMETER}));

// --- Flow between the driver and its line ---

// A line that takes at most `accept` bytes per WriteNow and counts the
// driver's wake-ups.
class RecordingWire final : public Wire {
 public:
  std::size_t accept = SIZE_MAX;
  std::string sent;
  int outputReady = 0;
  int inputRoom = 0;

  DeviceError ApplyState(const DCB&) override { return ERROR_SUCCESS; }
  void OutputReady() override { ++outputReady; }
  void InputRoom() override { ++inputRoom; }
  std::size_t WriteNow(std::span<const BYTE> bytes) override {
    const std::size_t n = std::min(accept, bytes.size());
    sent.append(reinterpret_cast<const char*>(bytes.data()), n);
    return n;
  }
  DeviceError Close() override { return ERROR_SUCCESS; }
};

class DriverOnLine : public DriverTest {
 protected:
  void SetUp() override {
    auto wire = std::make_unique<RecordingWire>();
    wire_ = wire.get();
    driver_.AttachWire(std::move(wire));
    Timeouts(MAXDWORD, 0, 0);
  }
  RecordingWire* wire_ = nullptr;
};

TEST_F(DriverOnLine, LineIsWokenOnceWhenAFullInputQueueGetsRoom) {
  ASSERT_EQ(driver_.SetupComm(4, 4), ERROR_SUCCESS);
  EXPECT_EQ(driver_.ReceiveRoom(), 4u);
  Receive("abc");
  EXPECT_EQ(driver_.ReceiveRoom(), 1u);
  Transfer t;
  ASSERT_EQ(StartRead(t, 1), ERROR_SUCCESS);
  EXPECT_EQ(wire_->inputRoom, 0) << "the line was not waiting for room";
  Receive("de");
  EXPECT_EQ(driver_.ReceiveRoom(), 0u);
  ASSERT_EQ(StartRead(t, 1), ERROR_SUCCESS);
  EXPECT_EQ(t.buffer[0], 'b');
  EXPECT_EQ(wire_->inputRoom, 1);
  ASSERT_EQ(StartRead(t, 1), ERROR_SUCCESS);
  EXPECT_EQ(wire_->inputRoom, 1) << "one wake-up per wait for room";
  Receive("fg");
  EXPECT_EQ(driver_.ReceiveRoom(), 0u);
  ASSERT_EQ(driver_.PurgeComm(PURGE_RXCLEAR), ERROR_SUCCESS);
  EXPECT_EQ(wire_->inputRoom, 2) << "a purge makes room too";
  EXPECT_EQ(driver_.ReceiveRoom(), 4u);
  Receive("hijk");
  EXPECT_EQ(driver_.ReceiveRoom(), 0u);
  ASSERT_EQ(driver_.SetupComm(8, 4), ERROR_SUCCESS);
  EXPECT_EQ(wire_->inputRoom, 3) << "and so does a larger queue";
  DWORD errors = 0;
  ASSERT_EQ(driver_.ClearCommError(&errors, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(errors, 0u) << "nothing was dropped";
}

TEST_F(DriverOnLine, WriteWithNothingQueuedGoesStraightToTheLineAndRaisesTxEmpty) {
  ASSERT_EQ(driver_.SetCommMask(EV_TXEMPTY), ERROR_SUCCESS);
  Transfer wait, write;
  ASSERT_EQ(StartWait(wait), ERROR_IO_PENDING);
  ASSERT_EQ(StartWrite(write, "ok\r\n"), ERROR_SUCCESS);
  EXPECT_EQ(write.count, 4u);
  EXPECT_TRUE(write.Signalled());
  EXPECT_EQ(wire_->sent, "ok\r\n");
  EXPECT_EQ(driver_.OutputQueued(), 0u);
  EXPECT_EQ(wire_->outputReady, 0) << "nothing to drain";
  EXPECT_EQ(Result(wait), ERROR_SUCCESS);
  EXPECT_EQ(wait.mask, EV_TXEMPTY);
}

TEST_F(DriverOnLine, RestOfAShortDirectWriteAndLaterWritesKeepTheirOrder) {
  ASSERT_EQ(driver_.SetCommMask(EV_TXEMPTY), ERROR_SUCCESS);
  wire_->accept = 2;
  Transfer wait, first, second;
  ASSERT_EQ(StartWait(wait), ERROR_IO_PENDING);
  ASSERT_EQ(StartWrite(first, "abcdef"), ERROR_SUCCESS);
  EXPECT_EQ(wire_->sent, "ab");
  EXPECT_EQ(Output(), "cdef");
  EXPECT_EQ(wire_->outputReady, 1);
  EXPECT_FALSE(wait.Signalled()) << "bytes still queued";
  ASSERT_EQ(StartWrite(second, "gh"), ERROR_SUCCESS);
  EXPECT_EQ(wire_->sent, "ab") << "never past older queued bytes";
  EXPECT_EQ(Output(), "cdefgh");
  EXPECT_EQ(wire_->outputReady, 1) << "a queue that holds bytes is being drained";
  driver_.ConsumeOutput(6);
  EXPECT_EQ(Result(wait), ERROR_SUCCESS);
  EXPECT_EQ(wait.mask, EV_TXEMPTY);
}

TEST_F(DriverOnLine, WritesGoStraightToTheLineWhateverInputWaits) {
  Receive("next");
  Transfer write;
  ASSERT_EQ(StartWrite(write, "ok"), ERROR_SUCCESS);
  EXPECT_EQ(wire_->sent, "ok");
  EXPECT_EQ(Output(), "");
  EXPECT_EQ(wire_->outputReady, 0);
}

TEST_F(DriverOnLine, LineTakingNothingLeavesTheWriteToTheQueue) {
  wire_->accept = 0;
  ASSERT_EQ(driver_.SetupComm(16, 4), ERROR_SUCCESS);
  Transfer write;
  ASSERT_EQ(StartWrite(write, "abcdef"), ERROR_IO_PENDING);
  EXPECT_EQ(Output(), "abcd");
  driver_.ConsumeOutput(4);
  EXPECT_EQ(Result(write), ERROR_SUCCESS);
  EXPECT_EQ(write.count, 6u);
  EXPECT_EQ(Output(), "ef");
}

// --- Real time and threads ---

// A line that remembers the last state it was put into. Setting `slow`
// lets another settings call finish first, if the driver lets it.
class StateRecordingWire final : public Wire {
 public:
  explicit StateRecordingWire(DWORD slowRate) : slowRate_(slowRate) {}

  DeviceError ApplyState(const DCB& dcb) override {
    std::unique_lock lock(mutex_);
    line_ = dcb;
    if (dcb.BaudRate == slowRate_) {
      slowEntered_ = true;
      changed_.notify_all();
      // Bounded: with one-step settings calls the other call cannot finish
      // while this one runs, and the wait ends at its limit.
      changed_.wait_for(lock, std::chrono::milliseconds(200), [this] { return otherFinished_; });
    }
    return ERROR_SUCCESS;
  }
  void OutputReady() override {}
  DeviceError Close() override { return ERROR_SUCCESS; }

  void OtherFinished() {
    const std::lock_guard lock(mutex_);
    otherFinished_ = true;
    changed_.notify_all();
  }
  void WaitUntilSlowEntered() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return slowEntered_; });
  }
  DCB Line() const {
    const std::lock_guard lock(mutex_);
    return line_;
  }

 private:
  const DWORD slowRate_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool slowEntered_ = false;
  bool otherFinished_ = false;
  DCB line_;
};

TEST(DriverRealTime, TwoSettingsCallsAtOnceLeaveTheStoredBlockAsTheLineRuns) {
  SerialDriver driver;
  DCB slow = DefaultDcb();
  slow.BaudRate = 1200;
  DCB fast = DefaultDcb();
  fast.BaudRate = 115200;
  auto wire = std::make_unique<StateRecordingWire>(slow.BaudRate);
  StateRecordingWire& line = *wire;
  driver.AttachWire(std::move(wire));
  std::thread first([&] { EXPECT_EQ(driver.SetCommState(slow), ERROR_SUCCESS); });
  std::thread second([&] {
    line.WaitUntilSlowEntered();  // the first call is inside the line
    EXPECT_EQ(driver.SetCommState(fast), ERROR_SUCCESS);
    line.OtherFinished();
  });
  first.join();
  second.join();
  DCB stored;
  ASSERT_EQ(driver.GetCommState(stored), ERROR_SUCCESS);
  EXPECT_EQ(stored, line.Line());
  EXPECT_EQ(stored.BaudRate, fast.BaudRate) << "the later call is the one that stays";
}

TEST(DriverRealTime, TimerThreadEndsATimedRead) {
  SerialDriver driver;
  ASSERT_EQ(driver.SetCommTimeouts({0, 0, 5, 0, 0}), ERROR_SUCCESS);
  Transfer t;
  ASSERT_EQ(driver.ReadFile(t.buffer.data(), 4, &t.count, &t.overlapped), ERROR_IO_PENDING);
  ASSERT_EQ(platform::WaitForSingleObject(t.overlapped.hEvent, 10000), platform::WAIT_OBJECT_0);
  EXPECT_EQ(driver.GetOverlappedResult(&t.overlapped, &t.count, false), ERROR_SUCCESS);
  EXPECT_EQ(t.count, 0u);
}

TEST(DriverRealTime, SynchronousReadReturnsWhenAnotherThreadDelivers) {
  SerialDriver driver;
  ASSERT_EQ(driver.SetCommTimeouts({0, 0, 0, 0, 0}), ERROR_SUCCESS);
  std::thread far([&] {
    const BYTE bytes[] = {'o', 'k'};
    driver.Receive(bytes);
  });
  char buffer[2] = {};
  DWORD read = 0;
  EXPECT_EQ(driver.ReadFile(buffer, 2, &read, nullptr), ERROR_SUCCESS);
  far.join();
  EXPECT_EQ(read, 2u);
  EXPECT_EQ(std::string(buffer, 2), "ok");
}

TEST(DriverRealTime, GetOverlappedResultWaitsForCompletion) {
  SerialDriver driver;
  ASSERT_EQ(driver.SetCommMask(EV_DSR), ERROR_SUCCESS);
  Transfer t;
  ASSERT_EQ(driver.WaitCommEvent(&t.mask, &t.overlapped), ERROR_IO_PENDING);
  std::thread far([&] { driver.SetModemStatus(MS_DSR_ON); });
  EXPECT_EQ(driver.GetOverlappedResult(&t.overlapped, &t.count, true), ERROR_SUCCESS);
  far.join();
  EXPECT_EQ(t.mask, EV_DSR);
}

}  // namespace
}  // namespace cport::detail
