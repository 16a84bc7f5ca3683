// Line timing: bytes at the port's rate, on the driver's manual clock.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "cport/detail/device_openers.h"
#include "cport/detail/line_pacer.h"
#include "cport/detail/serial_driver.h"

namespace cport::detail {
namespace {

using namespace device;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

DCB Framing(DWORD baud, BYTE dataBits, BYTE parity, BYTE stopBits) {
  DCB dcb = DefaultDcb();
  dcb.BaudRate = baud;
  dcb.ByteSize = dataBits;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  return dcb;
}

// --- The time of a character ---

struct FramingCase {
  DCB dcb;
  std::int64_t nanosPerByte;  // rounded up
};

class CharacterTimes : public testing::TestWithParam<FramingCase> {};

TEST_P(CharacterTimes, AreStartDataParityAndStopBitsOverTheRate) {
  const CharacterTime time = CharacterTimeOf(GetParam().dcb);
  EXPECT_EQ(time.Of(1), nanoseconds(GetParam().nanosPerByte));
  EXPECT_EQ(time.DoneIn(nanoseconds(GetParam().nanosPerByte)), 1u);
  EXPECT_EQ(time.DoneIn(nanoseconds(GetParam().nanosPerByte - 1)), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Framings, CharacterTimes,
    testing::Values(FramingCase{Framing(9600, 8, NOPARITY, ONESTOPBIT), 1'041'667},  // 10 bits
                    FramingCase{Framing(9600, 7, EVENPARITY, ONESTOPBIT), 1'041'667},
                    FramingCase{Framing(9600, 8, ODDPARITY, TWOSTOPBITS), 1'250'000},  // 12
                    FramingCase{Framing(1200, 5, NOPARITY, ONE5STOPBITS), 6'250'000},  // 7.5
                    FramingCase{Framing(115200, 8, NOPARITY, ONESTOPBIT), 86'806}));

TEST(CharacterTime, ALongRunDoesNotDrift) {
  const CharacterTime time = CharacterTimeOf(Framing(9600, 8, NOPARITY, ONESTOPBIT));
  EXPECT_EQ(time.Of(4), nanoseconds(4'166'667)) << "\"ok\\r\\n\" at 9600 8N1";
  EXPECT_EQ(time.DoneIn(std::chrono::hours(10)), 960u * 36'000u);
}

// --- The pacer ---

TEST(LinePacer, BytesAddedWhileItSendsFollowTheOnesBefore) {
  LinePacer pacer;
  const DriverTime start{};
  pacer.Add(2, start);
  EXPECT_EQ(pacer.TakeDone(start + milliseconds(1)), 0u);
  pacer.Add(2, start + milliseconds(1));
  EXPECT_EQ(pacer.TakeDone(start + milliseconds(3)), 2u);
  EXPECT_EQ(pacer.TakeDone(start + milliseconds(4)), 1u) << "the third is done at 3.125 ms";
  EXPECT_EQ(pacer.TakeDone(start + milliseconds(5)), 1u);
  EXPECT_FALSE(pacer.NextDone()) << "idle";
}

TEST(LinePacer, HeldBackBytesStopTheLineUntilTaken) {
  LinePacer pacer;
  const DriverTime start{};
  pacer.Add(4, start);
  EXPECT_EQ(pacer.TakeDone(start + milliseconds(3), 1), 1u);
  EXPECT_FALSE(pacer.NextDone()) << "nothing is timed while the line waits";
  EXPECT_EQ(pacer.TakeDone(start + milliseconds(50)), 1u) << "the held byte, at once";
  EXPECT_EQ(pacer.TakeDone(start + milliseconds(51)), 0u) << "the rest start only now";
  EXPECT_EQ(pacer.TakeDone(start + milliseconds(53)), 2u);
}

// --- The driver with line timing on ---

class TimedDriver : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(driver_.SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}), ERROR_SUCCESS);
    ASSERT_EQ(driver_.SetLineTiming(true), ERROR_SUCCESS);
  }
  void Advance(int ms) { clock_->Advance(milliseconds(ms)); }
  DWORD Write(std::string_view bytes) {
    buffer_.assign(bytes);
    return driver_.WriteFile(buffer_.data(), static_cast<DWORD>(buffer_.size()), &written_,
                             &write_);
  }
  DWORD WriteResult() { return driver_.GetOverlappedResult(&write_, &written_, false); }
  std::string Sent() {
    std::string out(driver_.OutputQueued(), '\0');
    driver_.PeekOutput(std::span(reinterpret_cast<BYTE*>(out.data()), out.size()));
    return out;
  }
  void Receive(std::string_view bytes) {
    driver_.Receive(std::span(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
  }
  DWORD InQueue() {
    COMSTAT stat;
    driver_.ClearCommError(nullptr, &stat);
    return stat.cbInQue;
  }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>();
  std::string buffer_;
  OVERLAPPED write_{.hEvent = platform::CreateEvent(true, true)};
  DWORD written_ = 0;
  SerialDriver driver_{clock_};  // last: it ends the write above when it goes
};

TEST_F(TimedDriver, AWriteLeavesByteByByteAndCompletesWithItsLastByte) {
  ASSERT_EQ(Write("ok\r\n"), ERROR_IO_PENDING);
  EXPECT_EQ(Sent(), "");
  Advance(2);
  EXPECT_EQ(Sent(), "o");
  Advance(2);
  EXPECT_EQ(Sent(), "ok\r");
  EXPECT_EQ(WriteResult(), ERROR_IO_INCOMPLETE);
  Advance(1);  // 4.17 ms
  EXPECT_EQ(WriteResult(), ERROR_SUCCESS);
  EXPECT_EQ(written_, 4u);
  EXPECT_EQ(Sent(), "ok\r\n");
}

TEST_F(TimedDriver, TheRateFollowsSetCommState) {
  ASSERT_EQ(driver_.SetCommState(Framing(1200, 8, EVENPARITY, TWOSTOPBITS)), ERROR_SUCCESS);
  ASSERT_EQ(Write("abcdef"), ERROR_IO_PENDING);
  Advance(29);
  EXPECT_EQ(Sent(), "ab") << "12 bits at 1200 baud: 10 ms a byte";
  Advance(1);
  EXPECT_EQ(Sent(), "abc");
}

TEST_F(TimedDriver, AWriteLongerThanItsTotalTimeoutEndsShortAndSendsNoMore) {
  ASSERT_EQ(driver_.SetCommTimeouts({MAXDWORD, 0, 0, 0, 10}), ERROR_SUCCESS);
  ASSERT_EQ(Write(std::string(20, 'x')), ERROR_IO_PENDING);
  Advance(10);
  EXPECT_EQ(WriteResult(), ERROR_SUCCESS) << "a timeout is no failure";
  EXPECT_EQ(written_, 9u) << "9.6 bytes in 10 ms at 9600 8N1";
  Advance(100);
  EXPECT_EQ(Sent(), std::string(9, 'x'));
  ASSERT_EQ(Write("y"), ERROR_IO_PENDING);
  Advance(2);
  EXPECT_EQ(Sent(), std::string(9, 'x') + "y") << "the next write follows at once";
}

TEST_F(TimedDriver, AShortWriteEndsWithTheBytesSentByItsDeadlineHoweverLateItIsSeen) {
  ASSERT_EQ(driver_.SetCommTimeouts({MAXDWORD, 0, 0, 0, 5}), ERROR_SUCCESS);
  ASSERT_EQ(Write("quillane, V 1.0\r\n"), ERROR_IO_PENDING);
  Advance(40);  // one late look, long after the deadline and the whole reply
  EXPECT_EQ(WriteResult(), ERROR_SUCCESS);
  EXPECT_EQ(written_, 4u);
  EXPECT_EQ(Sent(), "quil");
}

TEST_F(TimedDriver, TxEmptyComesOnceTheLastByteIsSentAndTaken) {
  ASSERT_EQ(driver_.SetCommMask(EV_TXEMPTY), ERROR_SUCCESS);
  DWORD mask = 0;
  OVERLAPPED wait{.hEvent = platform::CreateEvent(true, false)};
  ASSERT_EQ(driver_.WaitCommEvent(&mask, &wait), ERROR_IO_PENDING);
  ASSERT_EQ(Write("abc"), ERROR_IO_PENDING);
  Advance(2);
  driver_.ConsumeOutput(1);  // the line takes each byte as it comes
  EXPECT_EQ(platform::WaitForSingleObject(wait.hEvent, 0), platform::WAIT_TIMEOUT);
  Advance(2);
  driver_.ConsumeOutput(2);
  EXPECT_EQ(platform::WaitForSingleObject(wait.hEvent, 0), platform::WAIT_OBJECT_0);
  EXPECT_EQ(mask, EV_TXEMPTY);
}

TEST_F(TimedDriver, ACommandArrivesInSeveralReceivedDataEvents) {
  ASSERT_EQ(driver_.SetCommMask(EV_RXCHAR), ERROR_SUCCESS);
  Receive("A;12.5\r\n");
  EXPECT_EQ(InQueue(), 0u) << "still on the line";
  int events = 0;
  for (int ms = 0; ms < 20; ++ms) {
    DWORD mask = 0;
    OVERLAPPED wait{.hEvent = platform::CreateEvent(true, false)};
    if (driver_.WaitCommEvent(&mask, &wait) == ERROR_IO_PENDING) Advance(1);
    if (platform::WaitForSingleObject(wait.hEvent, 0) == platform::WAIT_OBJECT_0) ++events;
    if (InQueue() == 8u) break;
    driver_.SetCommMask(EV_RXCHAR);  // ends a wait still pending
  }
  EXPECT_EQ(InQueue(), 8u);
  EXPECT_EQ(events, 8) << "one byte a millisecond at 9600 8N1, each its own event";
}

TEST_F(TimedDriver, BytesOnTheLineKeepTheirPlaceInTheInputQueue) {
  ASSERT_EQ(driver_.SetupComm(8, 8), ERROR_SUCCESS);
  Receive("abcdef");
  EXPECT_EQ(driver_.ReceiveRoom(), 2u);
}

TEST_F(TimedDriver, NothingIsTimedWhileNoByteIsOnTheLine) {
  EXPECT_FALSE(driver_.NextDeadline());
  Receive("a");
  ASSERT_EQ(Write("b"), ERROR_IO_PENDING);
  EXPECT_TRUE(driver_.NextDeadline());
  Advance(2);
  EXPECT_EQ(InQueue(), 1u);
  EXPECT_EQ(WriteResult(), ERROR_SUCCESS);
  EXPECT_FALSE(driver_.NextDeadline()) << "a quiet line needs no wake-up";
}

TEST_F(TimedDriver, SwitchedOffEverythingOnTheLineArrivesAtOnce) {
  Receive("in");
  ASSERT_EQ(Write("out"), ERROR_IO_PENDING);
  ASSERT_EQ(driver_.SetLineTiming(false), ERROR_SUCCESS);
  EXPECT_EQ(InQueue(), 2u);
  EXPECT_EQ(WriteResult(), ERROR_SUCCESS);
  EXPECT_EQ(Sent(), "out");
  EXPECT_FALSE(driver_.NextDeadline());
}

// A line that keeps its rate itself, or loops the driver's output back.
class PacedWire final : public Wire {
 public:
  PacedWire(LinePacing pacing, SerialDriver& driver) : pacing_(pacing), driver_(driver) {}
  DeviceError ApplyState(const DCB&) override { return ERROR_SUCCESS; }
  void OutputReady() override {
    if (pacing_ != LinePacing::kOutputOnly) return;
    BYTE chunk[64];
    const std::size_t n = driver_.PeekOutput(chunk);
    driver_.Receive(std::span<const BYTE>(chunk, n));
    driver_.ConsumeOutput(n);
  }
  DeviceError Close() override { return ERROR_SUCCESS; }
  LinePacing Pacing() const override { return pacing_; }

 private:
  LinePacing pacing_;
  SerialDriver& driver_;
};

TEST(LineTimingOnALine, ALineThatKeepsItsRateIsLeftAlone) {
  auto clock = std::make_shared<ManualClock>();
  SerialDriver driver(clock);
  driver.AttachWire(std::make_unique<PacedWire>(LinePacing::kByTheLine, driver));
  ASSERT_EQ(driver.SetLineTiming(true), ERROR_SUCCESS);
  const BYTE bytes[] = {'a', 'b'};
  driver.Receive(bytes);
  COMSTAT stat;
  driver.ClearCommError(nullptr, &stat);
  EXPECT_EQ(stat.cbInQue, 2u);
  EXPECT_FALSE(driver.NextDeadline());
}

TEST(LineTimingOnALine, ALoopbackReceivesEachByteAsItIsSentNotAByteLater) {
  auto clock = std::make_shared<ManualClock>();
  SerialDriver driver(clock);
  driver.AttachWire(std::make_unique<PacedWire>(LinePacing::kOutputOnly, driver));
  ASSERT_EQ(driver.SetCommTimeouts({MAXDWORD, 0, 0, 0, 0}), ERROR_SUCCESS);
  ASSERT_EQ(driver.SetLineTiming(true), ERROR_SUCCESS);
  const char text[] = "abcd";
  DWORD written = 0;
  OVERLAPPED write{.hEvent = platform::CreateEvent(true, true)};
  ASSERT_EQ(driver.WriteFile(text, 4, &written, &write), ERROR_IO_PENDING);
  clock->Advance(milliseconds(5));
  COMSTAT stat;
  driver.ClearCommError(nullptr, &stat);
  EXPECT_EQ(stat.cbInQue, 4u);
}

TEST(LineTimingRealTime, TheLoopGivesBackEveryByteAtTheRate) {
  std::unique_ptr<SerialDevice> loop;
  ASSERT_EQ(OpenLoopDevice(loop), ERROR_SUCCESS);
  ASSERT_EQ(loop->SetCommTimeouts({0, 0, 0, 0, 0}), ERROR_SUCCESS);  // reads wait for all
  ASSERT_EQ(loop->SetLineTiming(true), ERROR_SUCCESS);
  const std::string sent = "0123456789";
  DWORD written = 0;
  ASSERT_EQ(loop->WriteFile(sent.data(), 10, &written, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(written, 10u);
  std::string got(10, '\0');
  DWORD read = 0;
  ASSERT_EQ(loop->ReadFile(got.data(), 10, &read, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(got, sent);
  EXPECT_EQ(loop->CloseHandle(), ERROR_SUCCESS);
}

}  // namespace
}  // namespace cport::detail
