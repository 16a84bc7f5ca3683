#include "cport/detail/parmrk_decoder.h"

namespace cport::detail {

namespace {
constexpr std::uint8_t kMark = 0xFF;
}

ParmrkDecoder::Events ParmrkDecoder::Decode(std::span<const std::uint8_t> input,
                                            std::vector<std::uint8_t>& out) {
  Events events;
  for (const std::uint8_t byte : input) {
    switch (state_) {
      case State::kData:
        if (byte == kMark) {
          state_ = State::kEscape;
        } else {
          out.push_back(byte);
        }
        break;
      case State::kEscape:
        if (byte == 0) {
          state_ = State::kEscapeZero;
        } else {
          // "\377\377" is a data 0xFF. Anything else cannot come from the
          // tty; keep both bytes rather than lose one.
          out.push_back(kMark);
          if (byte != kMark) out.push_back(byte);
          state_ = State::kData;
        }
        break;
      case State::kEscapeZero:
        if (byte == 0) {
          ++events.breaks;
        } else {
          ++events.errors;
          out.push_back(replacement_.value_or(byte));
        }
        state_ = State::kData;
        break;
    }
  }
  return events;
}

}  // namespace cport::detail
