// Decodes the byte stream a tty delivers with PARMRK set.
//
// The tty marks what happened on the line in band: "\377\377" is a data
// byte 0xFF, "\377\0\0" a break, "\377\0" X the byte X received with a
// parity or framing error. The decoder turns that back into plain data
// bytes and line events. It keeps its state across calls, so a
// mark that one read() cuts in two decodes as if it had come whole.
// Not thread-safe: one reader owns it.
#pragma once

#include <cstdint>
#include <span>

namespace cport::detail {

// Receives what the decoder found, in line order.
class ParmrkSink {
 public:
  virtual void OnData(std::span<const std::uint8_t> bytes) = 0;
  // `byte` arrived with a parity or framing error.
  virtual void OnFaultyByte(std::uint8_t byte) = 0;
  virtual void OnBreak() = 0;

 protected:
  ~ParmrkSink() = default;
};

class ParmrkDecoder {
 public:
  // Hands the decoded content of `input` to `sink`, in order.
  void Decode(std::span<const std::uint8_t> input, ParmrkSink& sink);

  // Forgets a mark cut off by the last read (after a purge or a new setting).
  void Reset() { state_ = State::kData; }

 private:
  enum class State { kData, kEscape, kEscapeZero };

  State state_ = State::kData;
};

}  // namespace cport::detail
