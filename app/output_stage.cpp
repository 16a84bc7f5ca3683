#include "app/output_stage.h"

#include <cstring>

#include "platform/tick_count.h"

namespace app {
namespace {

// Whether tick `due` has come at `now`; right across the 32-bit wrap for
// spans below 24 days (all spans here are at most an hour or two).
bool Reached(std::uint32_t due, std::uint32_t now) {
  return static_cast<std::int32_t>(now - due) >= 0;
}

std::uint32_t Later(std::uint32_t a, std::uint32_t b) {
  return Reached(a, b) ? b : a;
}

std::uint32_t Earlier(std::uint32_t a, std::uint32_t b) {
  return Reached(a, b) ? a : b;
}

}  // namespace

OutputStage::OutputStage(std::vector<FaultOption> faults, std::uint64_t seed,
                         std::uint32_t lineDelayMs, OutputLine& line, OutputAlarm& alarm)
    : schedule_(std::move(faults), seed), lineDelayMs_(lineDelayMs), line_(line), alarm_(alarm) {}

void OutputStage::SendReplies(std::string_view replies) {
  while (!replies.empty()) {
    const void* lineFeed = std::memchr(replies.data(), '\n', replies.size());
    const std::size_t length =
        lineFeed == nullptr
            ? replies.size()
            : static_cast<std::size_t>(static_cast<const char*>(lineFeed) - replies.data()) + 1;
    Take(OutputKind::kReply, replies.substr(0, length));
    replies.remove_prefix(length);
  }
  WriteNow();
}

void OutputStage::SendReading(std::string_view reading) {
  Take(OutputKind::kReading, reading);
  WriteNow();
}

void OutputStage::Take(OutputKind kind, std::string_view bytes) {
  const FaultSchedule::Output output = schedule_.Next(kind);
  for (const FaultHit& hit : output.hits)
    line_.Log(FaultLogLine(*hit.option, kind, output.number));
  FaultedOutput faulted = ApplyFaults(bytes, output.hits);

  const std::uint32_t now = platform::GetTickCount();
  if (faulted.stallMs > 0) {
    const std::uint32_t end = now + faulted.stallMs;
    stallEnd_ = stalled_ ? Later(stallEnd_, end) : end;
    stalled_ = true;
  }
  if (faulted.bytes.empty() && !faulted.hangup) {
    SetAlarm(now);
    return;
  }
  std::uint32_t writeAt = now + faulted.holdMs;
  if (stalled_) writeAt = Later(writeAt, stallEnd_);
  if (!held_.empty()) writeAt = Later(writeAt, lastWrite_);
  if (writeAt == now && lineDelayMs_ == 0 && held_.empty()) {
    immediate_ += faulted.bytes;
    if (faulted.hangup) {
      WriteNow();  // what came before it in the batch still reaches the client
      line_.DropClient();
    }
    return;
  }
  lastWrite_ = writeAt;
  held_.push_back(Held{std::move(faulted.bytes), writeAt + lineDelayMs_, faulted.hangup});
  SetAlarm(now);
}

void OutputStage::Discard() {
  immediate_.clear();
  held_.clear();
  stalled_ = false;
  alarm_.Clear();
}

void OutputStage::OnAlarm() {
  const std::uint32_t now = platform::GetTickCount();
  std::string due;
  bool dropClient = false;
  // A hangup ends this round: what is due after it waits for the next ring,
  // which follows at once.
  while (!dropClient && !held_.empty() && Reached(held_.front().due, now)) {
    due += held_.front().bytes;
    dropClient = held_.front().hangup;
    held_.pop_front();
  }
  const bool resumed = stalled_ && Reached(stallEnd_, now);
  if (resumed) stalled_ = false;
  SetAlarm(now);
  if (!due.empty()) Write(due);
  if (dropClient) DropClient();
  if (!resumed) return;
  try {
    line_.InputResumed();
  } catch (...) {
    line_.ReportError(std::current_exception());
  }
}

// A failed write here reaches the caller, as a direct write would.
void OutputStage::WriteNow() {
  if (immediate_.empty()) return;
  std::string bytes;
  bytes.swap(immediate_);
  line_.Write(bytes);
}

void OutputStage::Write(const std::string& bytes) {
  try {
    line_.Write(bytes);
  } catch (...) {
    line_.ReportError(std::current_exception());
  }
}

void OutputStage::DropClient() {
  try {
    line_.DropClient();
  } catch (...) {
    line_.ReportError(std::current_exception());
  }
}

// The alarm rings at the first of: the next held output's time, the end of
// the stall.
void OutputStage::SetAlarm(std::uint32_t now) {
  if (held_.empty() && !stalled_) {
    alarm_.Clear();
    return;
  }
  std::uint32_t next = held_.empty() ? stallEnd_ : held_.front().due;
  if (stalled_) next = Earlier(next, stallEnd_);
  alarm_.Set(Reached(next, now) ? 0 : next - now);
}

}  // namespace app
