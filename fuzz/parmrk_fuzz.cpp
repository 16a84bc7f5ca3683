// The PARMRK decoder fed one stream in different splits: the whole stream
// in one read, the reads fuzz::Split describes, and one byte per read. A
// mark that a read cuts in two must decode as if it had come whole, so all
// three give the same data bytes, faulty bytes and breaks in the same order.
// The decoded data is never longer than the stream.
#include <cstdint>
#include <span>
#include <vector>

#include "cport/detail/parmrk_decoder.h"
#include "fuzz_support.h"

namespace {

// What the decoder found, with data runs joined: a data byte is its value,
// a faulty byte 0x100 + its value, a break 0x200.
class RecordingSink final : public cport::detail::ParmrkSink {
 public:
  void OnData(std::span<const std::uint8_t> bytes) override {
    fuzz::Check(!bytes.empty(), "no empty data runs");
    for (const std::uint8_t byte : bytes)
      events.push_back(byte);
    dataBytes += bytes.size();
  }
  void OnFaultyByte(std::uint8_t byte) override { events.push_back(0x100u + byte); }
  void OnBreak() override { events.push_back(0x200u); }

  std::vector<unsigned> events;
  std::size_t dataBytes = 0;
};

constexpr std::size_t kMaxBytewise = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::SplitInput split = fuzz::Split({data, size});

  RecordingSink whole;
  cport::detail::ParmrkDecoder().Decode(split.stream, whole);
  fuzz::Check(whole.dataBytes <= split.stream.size(), "decoded data is not longer than the stream");

  RecordingSink chunked;
  cport::detail::ParmrkDecoder chunkDecoder;
  for (const auto chunk : split.chunks)
    chunkDecoder.Decode(chunk, chunked);
  fuzz::Check(chunked.events == whole.events, "any split decodes like the whole stream");

  if (split.stream.size() <= kMaxBytewise) {
    RecordingSink bytewise;
    cport::detail::ParmrkDecoder byteDecoder;
    for (std::size_t i = 0; i < split.stream.size(); ++i)
      byteDecoder.Decode(split.stream.subspan(i, 1), bytewise);
    fuzz::Check(bytewise.events == whole.events, "one byte per read decodes like the whole stream");
  }
  return 0;
}
