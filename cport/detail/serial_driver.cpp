#include "cport/detail/serial_driver.h"

#include <algorithm>
#include <cstdint>

namespace cport::detail {

using device::COMMTIMEOUTS;
using device::COMSTAT;
using device::DCB;
using device::ERROR_DEVICE_NOT_CONNECTED;
using device::ERROR_INVALID_HANDLE;
using device::ERROR_INVALID_PARAMETER;
using device::ERROR_IO_INCOMPLETE;
using device::ERROR_IO_PENDING;
using device::ERROR_OPERATION_ABORTED;
using device::ERROR_SUCCESS;
using device::MAXDWORD;
using device::OVERLAPPED;

namespace {

constexpr DWORD kPurgeFlags =
    device::PURGE_TXABORT | device::PURGE_RXABORT | device::PURGE_TXCLEAR | device::PURGE_RXCLEAR;
constexpr DWORD kClearFlags = device::PURGE_TXCLEAR | device::PURGE_RXCLEAR;
// The errors that raise EV_ERR; an input-queue overflow only sets its bit.
constexpr DWORD kLineStatusErrors = device::CE_FRAME | device::CE_OVERRUN | device::CE_RXPARITY;
constexpr DWORD kModemBits =
    device::MS_CTS_ON | device::MS_DSR_ON | device::MS_RING_ON | device::MS_RLSD_ON;
// What a completed WaitCommEvent reports as transferred: the mask word.
constexpr DWORD kMaskSize = sizeof(DWORD);

std::chrono::milliseconds Millis(std::uint64_t ms) {
  return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(ms));
}

bool Due(const std::optional<DriverTime>& deadline, DriverTime now) {
  return deadline && *deadline <= now;
}

void Earliest(std::optional<DriverTime>& nearest, const std::optional<DriverTime>& candidate) {
  if (candidate && (!nearest || *candidate < *nearest)) nearest = candidate;
}

DWORD Status(const OVERLAPPED& overlapped) {
  return static_cast<DWORD>(overlapped.Internal);
}

}  // namespace

DWORD ValidateDcb(const DCB& dcb) {
  if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8) return ERROR_INVALID_PARAMETER;
  if (dcb.Parity > device::SPACEPARITY || dcb.StopBits > device::TWOSTOPBITS) {
    return ERROR_INVALID_PARAMETER;
  }
  if (dcb.StopBits == device::ONE5STOPBITS && dcb.ByteSize != 5) return ERROR_INVALID_PARAMETER;
  if (dcb.StopBits == device::TWOSTOPBITS && dcb.ByteSize == 5) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

DCB DefaultDcb() {
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.Flags = device::DCB_fBinary;
  dcb.ByteSize = 8;
  dcb.Parity = device::NOPARITY;
  dcb.StopBits = device::ONESTOPBIT;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

// --- Life cycle ---

SerialDriver::SerialDriver(std::shared_ptr<ManualClock> clock) : clock_(std::move(clock)) {
  if (clock_) {
    clock_->Attach(this);
  } else {
    timerThread_ = std::thread([this] { TimerLoop(); });
  }
}

SerialDriver::~SerialDriver() {
  if (clock_) clock_->Detach(this);
  bool open = false;
  {
    Lock lock(mutex_);
    open = !closed_;
  }
  if (open && wire_) wire_->Close();
  {
    Lock lock(mutex_);
    closed_ = true;
    EndEverything(ERROR_OPERATION_ABORTED);
    stopTimer_ = true;
  }
  timer_.notify_all();
  if (timerThread_.joinable()) timerThread_.join();
  wire_.reset();
}

void SerialDriver::AttachWire(std::unique_ptr<Wire> wire) {
  wire_ = std::move(wire);
}

device::DeviceError SerialDriver::CloseHandle() {
  {
    Lock lock(mutex_);
    if (closed_ || closing_) return ERROR_INVALID_HANDLE;
    closing_ = true;
  }
  const device::DeviceError result = wire_ ? wire_->Close() : device::DeviceError();
  Lock lock(mutex_);
  closing_ = false;
  if (result != ERROR_SUCCESS) return result;
  closed_ = true;
  EndEverything(ERROR_OPERATION_ABORTED);
  return ERROR_SUCCESS;
}

std::string SerialDriver::ClientPath() const {
  return wire_ ? wire_->ClientPath() : std::string();
}

void SerialDriver::SetNoticeHandler(device::NoticeHandler handler) {
  const std::lock_guard lock(noticeMutex_);
  noticeHandler_ = std::move(handler);
}

void SerialDriver::Notify(const device::DeviceNotice& notice) {
  const std::lock_guard lock(noticeMutex_);
  if (noticeHandler_) noticeHandler_(notice);
}

// --- Time ---

DriverTime SerialDriver::Now() const {
  return clock_ ? clock_->Now() : std::chrono::steady_clock::now();
}

void SerialDriver::OnClockAdvanced() {
  bool sent = false;
  {
    Lock lock(mutex_);
    sent = ExpireDue(Now());
  }
  if (sent && wire_) wire_->OutputReady();
}

void SerialDriver::TimerLoop() {
  Lock lock(mutex_);
  while (!stopTimer_) {
    if (ExpireDue(Now())) {
      lock.unlock();
      if (wire_) wire_->OutputReady();
      lock.lock();
      continue;
    }
    timerSleepsUntil_ = NearestDeadline();
    if (timerSleepsUntil_) {
      timer_.wait_until(lock, *timerSleepsUntil_);
    } else {
      timer_.wait(lock);
    }
  }
}

// A deadline later than the one the timer sleeps for needs no wake-up: the
// timer re-reads every deadline when it wakes.
void SerialDriver::Reschedule(std::optional<DriverTime> deadline) {
  if (clock_ || !deadline) return;
  if (!timerSleepsUntil_ || *deadline < *timerSleepsUntil_) timer_.notify_one();
}

std::optional<DriverTime> SerialDriver::NearestDeadline() const {
  std::optional<DriverTime> nearest;
  for (const PendingRead& read : reads_) {
    Earliest(nearest, read.totalDeadline);
    Earliest(nearest, read.intervalDeadline);
  }
  for (const PendingWrite& write : writes_)
    Earliest(nearest, write.deadline);
  Earliest(nearest, txPacer_.NextDone());
  Earliest(nearest, rxPacer_.NextDone());
  return nearest;
}

// Bytes that are done on the line move first: a byte sent as its write's
// timeout runs out still counts. A timeout ends a transfer with what it
// moved so far; that is not a failure. A write's bytes not yet sent leave
// the line with it.
bool SerialDriver::ExpireDue(DriverTime now) {
  if (paceInput_) ReceiveFromLine(rxPacer_.TakeDone(now), now);
  const bool sent = paceOutput_ && Transmit(now);
  for (auto it = reads_.begin(); it != reads_.end();) {
    if (Due(it->totalDeadline, now) || Due(it->intervalDeadline, now)) {
      Complete(it->overlapped, ERROR_SUCCESS, it->done);
      it = reads_.erase(it);
    } else {
      ++it;
    }
  }
  ExpireWrites(now);
  return sent;
}

void SerialDriver::ExpireWrites(DriverTime now) {
  for (auto it = writes_.begin(); it != writes_.end();) {
    if (Due(it->deadline, now)) {
      if (paceOutput_) txPacer_.Drop(it->count - it->done);
      Complete(it->overlapped, ERROR_SUCCESS, it->done);
      it = writes_.erase(it);
    } else {
      ++it;
    }
  }
}

// --- Overlapped completion ---

void SerialDriver::BeginOverlapped(OVERLAPPED* overlapped) {
  overlapped->Internal = ERROR_IO_PENDING;
  overlapped->InternalHigh = 0;
  if (overlapped->hEvent) platform::ResetEvent(overlapped->hEvent);
}

// The event is signalled last: from then on the owner may release the block.
void SerialDriver::Complete(OVERLAPPED* overlapped, DWORD status, DWORD count) {
  overlapped->InternalHigh = count;
  overlapped->Internal = status;
  const platform::EventHandle event = overlapped->hEvent;
  if (event) platform::SetEvent(event);
  done_.notify_all();
}

// An operation that ended as it started. A failure leaves the event
// unsignalled, as nothing is in flight.
DWORD SerialDriver::FinishStart(OVERLAPPED* overlapped, DWORD status, DWORD count, DWORD* out) {
  if (out) *out = status == ERROR_SUCCESS ? count : 0;
  if (status == ERROR_IO_PENDING) return status;
  if (status == ERROR_SUCCESS) {
    Complete(overlapped, status, count);
  } else {
    overlapped->Internal = status;
  }
  return status;
}

DWORD SerialDriver::AwaitSynchronous(Lock& lock, OVERLAPPED& local, DWORD* out) {
  done_.wait(lock, [&] { return Status(local) != ERROR_IO_PENDING; });
  if (out) *out = static_cast<DWORD>(local.InternalHigh);
  return Status(local);
}

device::DeviceError SerialDriver::GetOverlappedResult(OVERLAPPED* overlapped, DWORD* transferred,
                                                      bool wait) {
  if (!overlapped) return ERROR_INVALID_PARAMETER;
  Lock lock(mutex_);
  if (Status(*overlapped) == ERROR_IO_PENDING) {
    if (!wait) return ERROR_IO_INCOMPLETE;
    done_.wait(lock, [&] { return Status(*overlapped) != ERROR_IO_PENDING; });
  }
  if (transferred) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
  return Status(*overlapped);
}

// --- Configuration ---

device::DeviceError SerialDriver::SetupComm(DWORD inQueue, DWORD outQueue) {
  if (inQueue == 0 || outQueue == 0) return ERROR_INVALID_PARAMETER;
  bool queued = false;
  bool room = false;
  {
    Lock lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    inSize_ = inQueue;
    outSize_ = outQueue;
    queued = FillOutputQueue();
    room = RoomAppeared();
  }
  if (queued && wire_) wire_->OutputReady();
  if (room && wire_) wire_->InputRoom();
  return ERROR_SUCCESS;
}

device::DeviceError SerialDriver::SetCommState(const DCB& dcb) {
  if (const DWORD invalid = ValidateDcb(dcb); invalid != ERROR_SUCCESS) return invalid;
  // The line is set and the block stored under one lock, so that two calls
  // at once cannot leave the line with one block and GetCommState with the
  // other. mutex_ is not held while the wire works (it may call back).
  const std::lock_guard oneStep(stateMutex_);
  {
    Lock lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
  }
  if (wire_) {
    if (const device::DeviceError refused = wire_->ApplyState(dcb); refused != ERROR_SUCCESS) {
      return refused;
    }
  }
  Lock lock(mutex_);
  dcb_ = dcb;
  const CharacterTime character = CharacterTimeOf(dcb);
  txPacer_.SetCharacterTime(character, Now());
  rxPacer_.SetCharacterTime(character, Now());
  Reschedule(NearestDeadline());
  return ERROR_SUCCESS;
}

device::DeviceError SerialDriver::SetLineTiming(bool on) {
  const LinePacing pacing = wire_ ? wire_->Pacing() : LinePacing::kBothWays;
  bool queued = false;
  {
    Lock lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    const DriverTime now = Now();
    const bool output = on && pacing != LinePacing::kByTheLine;
    const bool input = on && pacing == LinePacing::kBothWays;
    // Switched off, what is on the line arrives, or is queued, at once;
    // switched on, writes still pending go on the line from now.
    if (paceInput_ && !input) {
      ReceiveFromLine(rxLine_.size(), now);
      rxPacer_.Clear();
    }
    paceInput_ = input;
    if (paceOutput_ && !output) {
      txPacer_.Clear();
      paceOutput_ = false;
      queued = FillOutputQueue();
    } else if (!paceOutput_ && output) {
      paceOutput_ = true;
      for (const PendingWrite& write : writes_)
        txPacer_.Add(write.count - write.done, now);
    }
    Reschedule(NearestDeadline());
  }
  if (queued && wire_) wire_->OutputReady();
  return ERROR_SUCCESS;
}

device::DeviceError SerialDriver::DropClient() {
  {
    Lock lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
  }
  return wire_ ? wire_->DropClient() : device::DeviceError(device::ERROR_NOT_SUPPORTED);
}

device::DeviceError SerialDriver::GetCommState(DCB& dcb) {
  Lock lock(mutex_);
  if (closed_) return ERROR_INVALID_HANDLE;
  dcb = dcb_;
  return ERROR_SUCCESS;
}

DCB SerialDriver::State() const {
  Lock lock(mutex_);
  return dcb_;
}

std::optional<DriverTime> SerialDriver::NextDeadline() const {
  Lock lock(mutex_);
  return NearestDeadline();
}

device::DeviceError SerialDriver::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
  if (timeouts.ReadIntervalTimeout == MAXDWORD && timeouts.ReadTotalTimeoutMultiplier == MAXDWORD &&
      timeouts.ReadTotalTimeoutConstant == MAXDWORD) {
    return ERROR_INVALID_PARAMETER;
  }
  Lock lock(mutex_);
  if (closed_) return ERROR_INVALID_HANDLE;
  timeouts_ = timeouts;
  return ERROR_SUCCESS;
}

// --- Events ---

device::DeviceError SerialDriver::SetCommMask(DWORD mask) {
  Lock lock(mutex_);
  if (closed_) return ERROR_INVALID_HANDLE;
  mask_ = mask;
  history_ = 0;
  if (wait_) {
    *wait_->mask = 0;
    Complete(wait_->overlapped, ERROR_SUCCESS, kMaskSize);
    wait_.reset();
  }
  return ERROR_SUCCESS;
}

device::DeviceError SerialDriver::WaitCommEvent(DWORD* mask, OVERLAPPED* overlapped) {
  if (!mask) return ERROR_INVALID_PARAMETER;
  Lock lock(mutex_);
  if (closed_) return ERROR_INVALID_HANDLE;
  OVERLAPPED local;
  OVERLAPPED* target = overlapped ? overlapped : &local;
  BeginOverlapped(target);
  DWORD status = ERROR_IO_PENDING;
  if (wait_ || mask_ == 0) {
    status = ERROR_INVALID_PARAMETER;
  } else if (history_ & mask_) {
    *mask = history_ & mask_;
    history_ = 0;
    status = ERROR_SUCCESS;
  } else if (hungUp_) {
    status = ERROR_DEVICE_NOT_CONNECTED;
  } else {
    wait_ = PendingWait{target, mask};
  }
  FinishStart(target, status, kMaskSize, nullptr);
  if (overlapped || status != ERROR_IO_PENDING) return status;
  return AwaitSynchronous(lock, local, nullptr);
}

void SerialDriver::Raise(DWORD events) {
  const DWORD watched = events & mask_;
  if (watched == 0) return;
  history_ |= watched;
  if (!wait_) return;
  *wait_->mask = history_;
  history_ = 0;
  Complete(wait_->overlapped, ERROR_SUCCESS, kMaskSize);
  wait_.reset();
}

// --- Reading ---

device::DeviceError SerialDriver::ReadFile(void* buffer, DWORD count, DWORD* read,
                                           OVERLAPPED* overlapped) {
  if (count > 0 && !buffer) return ERROR_INVALID_PARAMETER;
  Lock lock(mutex_);
  if (closed_) return ERROR_INVALID_HANDLE;
  OVERLAPPED local;
  const DWORD status =
      StartRead(static_cast<BYTE*>(buffer), count, read, overlapped ? overlapped : &local);
  if (RoomAppeared() && wire_) {
    lock.unlock();
    wire_->InputRoom();
    if (overlapped || status != ERROR_IO_PENDING) return status;
    lock.lock();
  }
  if (overlapped || status != ERROR_IO_PENDING) return status;
  return AwaitSynchronous(lock, local, read);
}

// Lock held. True once when the backend waits for room and there is some.
bool SerialDriver::RoomAppeared() {
  if (!inputBlocked_ || input_.size() + rxLine_.size() >= inSize_) return false;
  inputBlocked_ = false;
  return true;
}

DWORD SerialDriver::StartRead(BYTE* buffer, DWORD count, DWORD* read, OVERLAPPED* overlapped) {
  BeginOverlapped(overlapped);
  PendingRead pending{.overlapped = overlapped, .buffer = buffer, .count = count};
  // Reads waiting before this one have taken every byte already queued.
  const auto available = static_cast<DWORD>(std::min<std::size_t>(count, input_.size()));
  std::copy_n(input_.begin(), available, buffer);
  input_.erase(input_.begin(), input_.begin() + available);
  pending.done = available;

  const COMMTIMEOUTS& t = timeouts_;
  const bool returnAtOnce = t.ReadIntervalTimeout == MAXDWORD &&
                            t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
  if (pending.done == count || returnAtOnce) {
    return FinishStart(overlapped, ERROR_SUCCESS, pending.done, read);
  }
  if (hungUp_) {
    const DWORD status = pending.done > 0 ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED;
    return FinishStart(overlapped, status, pending.done, read);
  }
  const DriverTime now = Now();
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD) {
    // Return as soon as anything is there, or after the constant.
    if (pending.done > 0) return FinishStart(overlapped, ERROR_SUCCESS, pending.done, read);
    pending.anyByteEnds = true;
    pending.totalDeadline = now + Millis(t.ReadTotalTimeoutConstant);
  } else {
    if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
      pending.totalDeadline = now + Millis(std::uint64_t{t.ReadTotalTimeoutMultiplier} * count +
                                           t.ReadTotalTimeoutConstant);
    }
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD) {
      pending.interval = t.ReadIntervalTimeout;
      if (pending.done > 0) pending.intervalDeadline = now + Millis(pending.interval);
    }
  }
  reads_.push_back(pending);
  Reschedule(NearestDeadline());
  return FinishStart(overlapped, ERROR_IO_PENDING, 0, read);
}

bool SerialDriver::ReadIsDone(const PendingRead& read) const {
  return read.done == read.count || (read.anyByteEnds && read.done > 0);
}

// One received byte: into the oldest pending read, else into the queue.
void SerialDriver::AcceptByte(BYTE byte, DWORD& events, DriverTime now) {
  if ((dcb_.Flags & device::DCB_fNull) && byte == 0) return;
  events |= device::EV_RXCHAR;
  if (byte == static_cast<BYTE>(dcb_.EvtChar)) events |= device::EV_RXFLAG;
  if (!reads_.empty()) {
    PendingRead& read = reads_.front();
    read.buffer[read.done++] = byte;
    if (ReadIsDone(read)) {
      Complete(read.overlapped, ERROR_SUCCESS, read.done);
      reads_.pop_front();
    } else if (read.interval != 0) {
      const bool first = !read.intervalDeadline;
      read.intervalDeadline = now + Millis(read.interval);
      if (first) Reschedule(read.intervalDeadline);
    }
    return;
  }
  if (input_.size() >= inSize_) {
    errors_ |= device::CE_RXOVER;
    return;
  }
  const bool belowMark = input_.size() * 5 < std::size_t{inSize_} * 4;
  input_.push_back(byte);
  if (belowMark && input_.size() * 5 >= std::size_t{inSize_} * 4) events |= device::EV_RX80FULL;
}

// A byte as it comes off the line, with the errors it arrived with.
void SerialDriver::AcceptLineByte(BYTE byte, DWORD errors, DWORD& events, DriverTime now) {
  if (errors != 0) {
    errors_ |= errors;
    if (errors & kLineStatusErrors) events |= device::EV_ERR;
    if ((errors & device::CE_RXPARITY) && (dcb_.Flags & device::DCB_fErrorChar)) {
      byte = static_cast<BYTE>(dcb_.ErrorChar);
    }
  }
  AcceptByte(byte, events, now);
}

// The first `count` bytes on the line are done: they enter the driver.
void SerialDriver::ReceiveFromLine(std::size_t count, DriverTime now) {
  if (count == 0) return;
  DWORD events = 0;
  for (std::size_t i = 0; i < count && !rxLine_.empty(); ++i) {
    AcceptLineByte(rxLine_.front().byte, rxLine_.front().errors, events, now);
    rxLine_.pop_front();
  }
  Raise(events);
}

std::size_t SerialDriver::ReceiveRoom() {
  Lock lock(mutex_);
  // Bytes still on the line have their place in the queue already.
  const std::size_t held = input_.size() + rxLine_.size();
  const std::size_t room = held < inSize_ ? inSize_ - held : 0;
  inputBlocked_ = room == 0;
  return room;
}

void SerialDriver::Receive(std::span<const BYTE> bytes) {
  Lock lock(mutex_);
  if (closed_) return;
  const DriverTime now = Now();
  if (paceInput_) {
    for (BYTE byte : bytes)
      rxLine_.push_back({byte, 0});
    rxPacer_.Add(bytes.size(), now);
    Reschedule(rxPacer_.NextDone());
    return;
  }
  DWORD events = 0;
  for (BYTE byte : bytes)
    AcceptByte(byte, events, now);
  Raise(events);
}

void SerialDriver::ReceiveFaulty(BYTE byte, DWORD errors) {
  Lock lock(mutex_);
  if (closed_) return;
  const DriverTime now = Now();
  if (paceInput_) {
    rxLine_.push_back({byte, errors});
    rxPacer_.Add(1, now);
    Reschedule(rxPacer_.NextDone());
    return;
  }
  DWORD events = 0;
  AcceptLineByte(byte, errors, events, now);
  Raise(events);
}

void SerialDriver::LineError(DWORD errors) {
  Lock lock(mutex_);
  if (closed_) return;
  errors_ |= errors;
  if (errors & kLineStatusErrors) Raise(device::EV_ERR);
}

void SerialDriver::Break() {
  Lock lock(mutex_);
  if (closed_) return;
  errors_ |= device::CE_BREAK;
  Raise(device::EV_BREAK);
}

void SerialDriver::SetModemStatus(DWORD status) {
  Lock lock(mutex_);
  if (closed_) return;
  status &= kModemBits;
  const DWORD changed = status ^ modem_;
  modem_ = status;
  DWORD events = 0;
  if (changed & device::MS_CTS_ON) events |= device::EV_CTS;
  if (changed & device::MS_DSR_ON) events |= device::EV_DSR;
  if (changed & device::MS_RLSD_ON) events |= device::EV_RLSD;
  if ((changed & status) & device::MS_RING_ON) events |= device::EV_RING;
  Raise(events);
}

// --- Writing ---

device::DeviceError SerialDriver::WriteFile(const void* buffer, DWORD count, DWORD* written,
                                            OVERLAPPED* overlapped) {
  if (count > 0 && !buffer) return ERROR_INVALID_PARAMETER;
  Lock lock(mutex_);
  if (closed_) return ERROR_INVALID_HANDLE;
  OVERLAPPED local;
  bool wake = false;
  const DWORD status = StartWrite(static_cast<const BYTE*>(buffer), count, written,
                                  overlapped ? overlapped : &local, wake);
  if (!wake && (overlapped || status != ERROR_IO_PENDING)) return status;
  lock.unlock();
  if (wake && wire_) wire_->OutputReady();
  if (overlapped || status != ERROR_IO_PENDING) return status;
  lock.lock();
  return AwaitSynchronous(lock, local, written);
}

// `wake`: bytes were queued into an empty queue, so nobody drains it yet.
DWORD SerialDriver::StartWrite(const BYTE* buffer, DWORD count, DWORD* written,
                               OVERLAPPED* overlapped, bool& wake) {
  BeginOverlapped(overlapped);
  if (hungUp_) return FinishStart(overlapped, ERROR_DEVICE_NOT_CONNECTED, 0, written);
  if (count == 0) return FinishStart(overlapped, ERROR_SUCCESS, 0, written);
  DWORD taken = 0;
  if (output_.empty() && writes_.empty() && !paceOutput_) {
    const DWORD status = WriteDirectly(buffer, count, written, overlapped, taken);
    if (status != ERROR_IO_PENDING) return status;
  }
  const COMMTIMEOUTS& t = timeouts_;
  PendingWrite pending{.overlapped = overlapped, .buffer = buffer, .count = count, .done = taken};
  if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
    pending.deadline = Now() + Millis(std::uint64_t{t.WriteTotalTimeoutMultiplier} * count +
                                      t.WriteTotalTimeoutConstant);
  }
  writes_.push_back(pending);
  if (paceOutput_) txPacer_.Add(count, Now());
  const bool wasEmpty = output_.empty();
  wake = FillOutputQueue() && wasEmpty;
  // Still listed: it did not fit and waits for room, or is being sent.
  if (!writes_.empty() && writes_.back().overlapped == overlapped) {
    Reschedule(NearestDeadline());
    return FinishStart(overlapped, ERROR_IO_PENDING, 0, written);
  }
  if (written) *written = count;
  return ERROR_SUCCESS;
}

// Nothing is queued: the line may take the bytes at once, from this thread.
// ERROR_IO_PENDING: `taken` bytes went out and the rest is to be queued.
DWORD SerialDriver::WriteDirectly(const BYTE* buffer, DWORD count, DWORD* written,
                                  OVERLAPPED* overlapped, DWORD& taken) {
  if (!wire_ || closing_) return ERROR_IO_PENDING;
  taken = static_cast<DWORD>(wire_->WriteNow({buffer, count}));
  if (taken < count) return ERROR_IO_PENDING;
  const DWORD status = FinishStart(overlapped, ERROR_SUCCESS, count, written);
  Raise(device::EV_TXEMPTY);
  return status;
}

// Moves bytes of the waiting writes, oldest first, into the output queue
// while it has room; a write whose last byte is queued completes. With line
// timing only bytes that have been sent move.
bool SerialDriver::FillOutputQueue() {
  if (paceOutput_) return Transmit(Now());
  bool moved = false;
  while (!writes_.empty() && output_.size() < outSize_) {
    PendingWrite& write = writes_.front();
    const auto room = static_cast<DWORD>(outSize_ - output_.size());
    const DWORD n = std::min(room, write.count - write.done);
    output_.insert(output_.end(), write.buffer + write.done, write.buffer + write.done + n);
    write.done += n;
    moved = moved || n > 0;
    if (write.done < write.count) break;
    Complete(write.overlapped, ERROR_SUCCESS, write.count);
    writes_.pop_front();
  }
  return moved;
}

// The bytes done on the line move from their writes into the output queue,
// as far as it has room; a write completes with its last byte sent. Bytes
// the queue has no room for stop the line until it has.
// A write whose timeout has passed gets the bytes done by its deadline, not
// by now, however late this runs: a short write ends where the hardware's
// would.
bool SerialDriver::Transmit(DriverTime now) {
  bool moved = false;
  for (;;) {
    std::optional<DriverTime> deadline;
    for (const PendingWrite& write : writes_)
      Earliest(deadline, write.deadline);
    const DriverTime until = deadline && *deadline < now ? *deadline : now;
    const std::size_t room = output_.size() < outSize_ ? outSize_ - output_.size() : 0;
    std::size_t sent = txPacer_.TakeDone(until, room);
    moved = moved || sent > 0;
    while (sent > 0 && !writes_.empty()) {
      PendingWrite& write = writes_.front();
      const auto n = static_cast<DWORD>(std::min<std::size_t>(sent, write.count - write.done));
      output_.insert(output_.end(), write.buffer + write.done, write.buffer + write.done + n);
      write.done += n;
      sent -= n;
      if (write.done < write.count) break;
      Complete(write.overlapped, ERROR_SUCCESS, write.count);
      writes_.pop_front();
    }
    if (until == now) return moved;
    ExpireWrites(until);
  }
}

std::size_t SerialDriver::PeekOutput(std::span<BYTE> dest) const {
  Lock lock(mutex_);
  const std::size_t n = std::min(dest.size(), output_.size());
  std::copy_n(output_.begin(), n, dest.begin());
  return n;
}

void SerialDriver::ConsumeOutput(std::size_t count) {
  Lock lock(mutex_);
  if (closed_) return;
  count = std::min(count, output_.size());
  if (count == 0) return;
  output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(count));
  FillOutputQueue();
  if (paceOutput_) Reschedule(txPacer_.NextDone());  // a line stopped for room goes on
  if (output_.empty() && writes_.empty()) Raise(device::EV_TXEMPTY);
}

std::size_t SerialDriver::OutputQueued() const {
  Lock lock(mutex_);
  return output_.size();
}

// --- Purge, status, hang-up ---

void SerialDriver::AbortReads(DWORD status) {
  for (const PendingRead& read : reads_)
    Complete(read.overlapped, status, read.done);
  reads_.clear();
}

void SerialDriver::AbortWrites(DWORD status) {
  for (const PendingWrite& write : writes_)
    Complete(write.overlapped, status, write.done);
  writes_.clear();
  txPacer_.Clear();
}

void SerialDriver::EndEverything(DWORD status) {
  AbortReads(status);
  AbortWrites(status);
  if (wait_) {
    *wait_->mask = 0;
    Complete(wait_->overlapped, status, 0);
    wait_.reset();
  }
}

device::DeviceError SerialDriver::PurgeComm(DWORD flags) {
  if (flags & ~kPurgeFlags) return ERROR_INVALID_PARAMETER;
  bool queued = false;
  bool room = false;
  {
    Lock lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
    if (flags & device::PURGE_TXABORT) AbortWrites(ERROR_OPERATION_ABORTED);
    if (flags & device::PURGE_RXABORT) AbortReads(ERROR_OPERATION_ABORTED);
    if (flags & device::PURGE_RXCLEAR) {
      input_.clear();
      rxLine_.clear();
      rxPacer_.Clear();
    }
    room = RoomAppeared();
    if (flags & device::PURGE_TXCLEAR) {
      output_.clear();
      queued = FillOutputQueue();
    }
  }
  if (wire_ && queued) wire_->OutputReady();
  if (wire_ && room) wire_->InputRoom();
  if (wire_ && (flags & kClearFlags)) return wire_->Purge(flags & kClearFlags);
  return ERROR_SUCCESS;
}

device::DeviceError SerialDriver::ClearCommError(DWORD* errors, COMSTAT* stat) {
  Lock lock(mutex_);
  if (closed_) return ERROR_INVALID_HANDLE;
  if (errors) *errors = errors_;
  errors_ = 0;
  if (stat) {
    std::size_t waiting = output_.size();
    for (const PendingWrite& write : writes_)
      waiting += write.count - write.done;
    stat->Flags = 0;
    stat->cbInQue = static_cast<DWORD>(input_.size());
    stat->cbOutQue = static_cast<DWORD>(waiting);
  }
  return ERROR_SUCCESS;
}

device::DeviceError SerialDriver::GetCommModemStatus(DWORD* status) {
  if (!status) return ERROR_INVALID_PARAMETER;
  {
    Lock lock(mutex_);
    if (closed_) return ERROR_INVALID_HANDLE;
  }
  if (wire_) {
    if (const device::DeviceError failed = wire_->RefreshModemStatus(); failed != ERROR_SUCCESS) {
      return failed;
    }
  }
  Lock lock(mutex_);
  *status = modem_;
  return ERROR_SUCCESS;
}

// Reads that already hold bytes keep them; everything else in flight fails
// once. The output can no longer be sent.
void SerialDriver::HangUp() {
  Lock lock(mutex_);
  if (closed_ || hungUp_) return;
  hungUp_ = true;
  for (const PendingRead& read : reads_) {
    const DWORD status = read.done > 0 ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED;
    Complete(read.overlapped, status, read.done);
  }
  reads_.clear();
  AbortWrites(ERROR_DEVICE_NOT_CONNECTED);
  output_.clear();
  if (wait_) {
    *wait_->mask = 0;
    Complete(wait_->overlapped, ERROR_DEVICE_NOT_CONNECTED, 0);
    wait_.reset();
  }
}

void SerialDriver::Reconnect() {
  Lock lock(mutex_);
  hungUp_ = false;
}

}  // namespace cport::detail
