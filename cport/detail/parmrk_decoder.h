// Decodes the byte stream a tty delivers with PARMRK set.
//
// The tty marks what happened on the line in band: "\377\377" is a data
// byte 0xFF, "\377\0\0" a break, "\377\0" X the byte X received with a
// parity or framing error. The decoder turns that back into plain data
// bytes and counts of line events. It keeps its state across calls, so a
// mark that one read() cuts in two decodes as if it had come whole.
// Not thread-safe: one reader owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cport::detail {

class ParmrkDecoder {
 public:
  struct Events {
    std::size_t breaks = 0;
    std::size_t errors = 0;  // bytes received with a parity or framing error
    friend bool operator==(const Events&, const Events&) = default;
  };

  // Appends the data bytes of `input` to `out` and returns what was marked.
  Events Decode(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out);

  // A byte received in error is delivered as `replacement` when one is set
  // (the DCB's error character), else as received.
  void SetErrorReplacement(std::optional<std::uint8_t> replacement) { replacement_ = replacement; }

  // Forgets a mark cut off by the last read (after a purge or a new setting).
  void Reset() { state_ = State::kData; }

 private:
  enum class State { kData, kEscape, kEscapeZero };

  State state_ = State::kData;
  std::optional<std::uint8_t> replacement_;
};

}  // namespace cport::detail
