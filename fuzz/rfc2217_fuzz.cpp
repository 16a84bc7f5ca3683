// The telnet / COM-PORT-OPTION decoder fed one stream in different splits:
// whole, in the reads fuzz::Split describes, and one byte per read. A
// command or sub-negotiation that a read cuts in two must decode as if it
// had come whole, so all three give the same data and the same answers. The
// data is never longer than the stream, and a stream of any length is
// answered with a bounded amount of telnet per byte.
#include <cstdint>
#include <span>
#include <vector>

#include "cport/detail/rfc2217_session.h"
#include "fuzz_support.h"

namespace {

class RecordingHost final : public cport::detail::Rfc2217Host {
 public:
  void OnData(std::span<const std::uint8_t> bytes) override {
    fuzz::Check(!bytes.empty(), "no empty data runs");
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  void OnSend(std::span<const std::uint8_t> bytes) override {
    sent.insert(sent.end(), bytes.begin(), bytes.end());
  }
  void OnSettingsRequested(const cport::detail::ComPortSettings& settings) override {
    last = settings;
  }

  std::vector<std::uint8_t> data;
  std::vector<std::uint8_t> sent;
  cport::detail::ComPortSettings last;
};

constexpr std::size_t kMaxBytewise = 4096;
// The most a request asks for per byte: the signature query (6 bytes) is
// answered with 14.
constexpr std::size_t kAnswerPerByte = 3;

void Run(std::span<const std::span<const std::uint8_t>> chunks, RecordingHost& host) {
  cport::detail::Rfc2217Session session;
  session.Start(host);
  for (const auto chunk : chunks)
    session.Decode(chunk, host);
  fuzz::Check(session.Settings() == host.last || host.last == cport::detail::ComPortSettings{},
              "the last settings reported are the session's");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::SplitInput split = fuzz::Split({data, size});

  RecordingHost whole;
  const std::span<const std::uint8_t> all[] = {split.stream};
  Run(all, whole);
  fuzz::Check(whole.data.size() <= split.stream.size(), "data is not longer than the stream");
  fuzz::Check(whole.sent.size() <= 18 + kAnswerPerByte * split.stream.size(),
              "answers are bounded by the input");

  RecordingHost chunked;
  Run(split.chunks, chunked);
  fuzz::Check(chunked.data == whole.data, "any split gives the same data");
  fuzz::Check(chunked.sent == whole.sent, "any split gives the same answers");

  if (split.stream.size() <= kMaxBytewise) {
    std::vector<std::span<const std::uint8_t>> bytes;
    for (std::size_t i = 0; i < split.stream.size(); ++i)
      bytes.push_back(split.stream.subspan(i, 1));
    RecordingHost bytewise;
    Run(bytes, bytewise);
    fuzz::Check(bytewise.data == whole.data, "one byte per read gives the same data");
    fuzz::Check(bytewise.sent == whole.sent, "one byte per read gives the same answers");
  }
  return 0;
}
