// The output stage: everything the device sends passes here when line
// faults or a line delay are asked for, between the protocol or the
// simulation and the port.
//
// Each output (one reply, one reading) is numbered and run through the fault
// schedule; every fault that hits it is logged ("fault drop reply 3") before
// the output goes out. What is neither held nor stalled is written at once
// (the replies of one batch in one write). A delayed output is held its
// time and everything after it waits behind it; a stall holds the output and
// all later output until it ends, and tells the line to hold its input
// meanwhile; with a line delay every write leaves that much later, in
// order, while the device goes on. A hangup drops the client where its
// output would have gone out, after everything before it and in place of
// it. Held output is written by the stage's alarm, never by blocking.
//
// User-interface thread only. Time is the tick count (a FakeTickClock in
// tests). A failed write of output sent at once reaches the caller of
// SendReplies or SendReading; one of held output is handed to
// OutputLine::ReportError, and the stage goes on.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/fault_schedule.h"

namespace app {

// Where the stage's output goes.
class OutputLine {
 public:
  virtual ~OutputLine() = default;
  virtual void Write(std::string_view bytes) = 0;
  virtual void Log(std::string_view line) = 0;
  // A stall is over: the input that waited may be read now.
  virtual void InputResumed() = 0;
  // Pulls the cable: the client is dropped. A failure throws, as Write does.
  virtual void DropClient() = 0;
  virtual void ReportError(std::exception_ptr error) = 0;
};

// Calls OutputStage::OnAlarm in the UI thread after a time.
class OutputAlarm {
 public:
  virtual ~OutputAlarm() = default;
  // Replaces an earlier setting.
  virtual void Set(std::uint32_t milliseconds) = 0;
  virtual void Clear() = 0;
};

class OutputStage {
 public:
  // `line` and `alarm` must outlive the stage.
  OutputStage(std::vector<FaultOption> faults, std::uint64_t seed, std::uint32_t lineDelayMs,
              OutputLine& line, OutputAlarm& alarm);

  // One or more whole replies, each ending in a line feed.
  void SendReplies(std::string_view replies);
  // One reading.
  void SendReading(std::string_view reading);

  // True while a stall holds the device's input.
  bool InputStalled() const { return stalled_; }
  // The port has closed: held output is dropped and a stall ends.
  void Discard();
  // The alarm rang: writes what is due, ends a stall that is over.
  void OnAlarm();

 private:
  struct Held {
    std::string bytes;
    std::uint32_t due;    // tick count at which it leaves
    bool hangup = false;  // the client is dropped then, after `bytes`
  };

  void Take(OutputKind kind, std::string_view bytes);
  void WriteNow();
  void Write(const std::string& bytes);
  void DropClient();
  void SetAlarm(std::uint32_t now);

  FaultSchedule schedule_;
  const std::uint32_t lineDelayMs_;
  OutputLine& line_;
  OutputAlarm& alarm_;
  std::string immediate_;        // taken, not held: written at the end of the call
  std::deque<Held> held_;        // in order of `due`
  std::uint32_t lastWrite_ = 0;  // when the last held output is written (before the line delay)
  bool stalled_ = false;
  std::uint32_t stallEnd_ = 0;
};

}  // namespace app
