#include "cport/detail/parmrk_decoder.h"

namespace cport::detail {

namespace {
constexpr std::uint8_t kMark = 0xFF;
constexpr std::uint8_t kMarkByte[1] = {kMark};
}  // namespace

void ParmrkDecoder::Decode(std::span<const std::uint8_t> input, ParmrkSink& sink) {
  std::size_t runStart = 0;  // first byte of the plain run being collected
  const auto flushRun = [&](std::size_t end) {
    if (end > runStart) sink.OnData(input.subspan(runStart, end - runStart));
  };
  for (std::size_t i = 0; i < input.size(); ++i) {
    const std::uint8_t byte = input[i];
    switch (state_) {
      case State::kData:
        if (byte == kMark) {
          flushRun(i);
          state_ = State::kEscape;
        }
        break;
      case State::kEscape:
        if (byte == 0) {
          state_ = State::kEscapeZero;
          break;
        }
        // "\377\377" is a data 0xFF. Anything else cannot come from the
        // tty; keep both bytes rather than lose one.
        sink.OnData(kMarkByte);
        state_ = State::kData;
        runStart = byte == kMark ? i + 1 : i;
        continue;
      case State::kEscapeZero:
        if (byte == 0) {
          sink.OnBreak();
        } else {
          sink.OnFaultyByte(byte);
        }
        state_ = State::kData;
        runStart = i + 1;
        continue;
    }
  }
  if (state_ == State::kData) flushRun(input.size());
}

}  // namespace cport::detail
