// The whole receiving path: arbitrary bytes, cut into arbitrary chunks (see
// fuzz::Split), go through CommandProtocol to a recording host.
//
// With a host that never fails:
// - every line feed is answered by exactly one reply, and each reply is one
//   the device can give;
// - the host handles its messages once per chunk;
// - the partly received line is the stream after the last line feed, cut to
//   kMaxLineLength;
// - the same stream given as one chunk gives the same replies, log and table.
// Long lines are reached through a filler line start (see kLongLineRoom).
// With a host whose calls fail now and then (bit 4 of the first byte), the
// path must survive every failure, report each one at most once, and keep
// the partly received line bounded.
#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_protocol.h"
#include "app/float_text.h"
#include "app/parameter_table.h"
#include "fuzz_support.h"

namespace {

class RecordingHost final : public app::ProtocolHost {
 public:
  // `failEvery` > 0: every failEvery-th call throws.
  explicit RecordingHost(unsigned failEvery) : failEvery_(failEvery) {}

  // The replies to a chunk's lines may come in one call; each ends with
  // CR LF, so they are told apart there.
  void SendText(std::string_view bytes) override {
    MaybeFail();
    while (!bytes.empty()) {
      const std::size_t end = bytes.find("\r\n");
      const std::size_t length = end == std::string_view::npos ? bytes.size() : end + 2;
      replies.emplace_back(bytes.substr(0, length));
      bytes.remove_prefix(length);
    }
  }
  void AddLogLine(std::string_view line) override {
    MaybeFail();
    log.emplace_back(line);
  }
  void ProcessMessages() override {
    ++messageRounds;
    MaybeFail();
  }
  void ReportError(std::exception_ptr error) override {
    fuzz::Check(error != nullptr, "a reported error is an error");
    ++reported;
  }

  std::vector<std::string> replies;
  std::vector<std::string> log;
  std::size_t messageRounds = 0;
  std::size_t reported = 0;
  std::size_t thrown = 0;

 private:
  void MaybeFail() {
    if (failEvery_ == 0 || ++calls_ % failEvery_ != 0) return;
    ++thrown;
    throw std::runtime_error("host failure");
  }

  unsigned failEvery_;
  std::size_t calls_ = 0;
};

struct Device {
  Device(unsigned failEvery, const char* fileName)
      : host(failEvery), protocol(table, host, fuzz::Scratch() / fileName, '.') {
    app::ApplyDefaultParameters(table);
  }
  app::ParameterTable table{};
  RecordingHost host;
  app::CommandProtocol protocol;
};

bool IsDeviceReply(std::string_view reply) {
  if (reply == "ok\r\n" || reply == "error\r\n" || reply == app::kIdentifyReply) return true;
  if (!reply.ends_with("\r\n")) return false;
  reply.remove_suffix(2);
  return !reply.empty() && app::TextToFloat(reply, '.').has_value();
}

std::string ExpectedAccumulator(std::string_view stream) {
  const std::size_t lastLineFeed = stream.rfind('\n');
  const std::string_view tail =
      lastLineFeed == std::string_view::npos ? stream : stream.substr(lastLineFeed + 1);
  return std::string(tail.substr(0, app::kMaxLineLength));
}

}  // namespace

// Lines longer than the accumulator's bound need more bytes than fuzz
// inputs have: when bits 5 to 7 of the first byte are all set, a host that
// never fails first takes a line start this much short of the bound, so
// that the input's first line crosses it wherever its chunks end.
constexpr std::size_t kLongLineRoom = 32;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::SplitInput split = fuzz::Split({data, size});
  const bool faulty = size > 0 && (data[0] & 0x10u) != 0;
  const unsigned failEvery = faulty ? (data[0] >> 5) + 2u : 0u;
  const bool longLine = !split.stream.empty() && !faulty && (data[0] >> 5) == 7;
  const std::string filler(longLine ? app::kMaxLineLength - kLongLineRoom : 0, 'x');
  const std::string stream = filler + std::string(fuzz::AsText(split.stream));

  Device chunked(failEvery, "chunked.ini");
  if (longLine) chunked.protocol.ReceiveChunk(filler);
  for (const auto chunk : split.chunks) {
    chunked.protocol.ReceiveChunk(fuzz::AsText(chunk));
    fuzz::Check(chunked.protocol.LineAccumulator().size() <= app::kMaxLineLength,
                "the partly received line stays bounded");
  }
  fuzz::Check(chunked.host.messageRounds == split.chunks.size() + (longLine ? 1 : 0),
              "messages handled once per chunk");
  fuzz::Check(chunked.protocol.LineAccumulator() == ExpectedAccumulator(stream),
              "the partly received line is the stream after the last line feed");
  fuzz::Check(chunked.host.reported <= chunked.host.thrown, "each failure reported at most once");

  const std::size_t lineFeeds =
      static_cast<std::size_t>(std::count(stream.begin(), stream.end(), '\n'));
  if (faulty) {
    fuzz::Check(chunked.host.replies.size() <= lineFeeds, "no more replies than lines");
    return 0;
  }
  fuzz::Check(chunked.host.replies.size() == lineFeeds, "one reply per line feed");
  for (const std::string& reply : chunked.host.replies)
    fuzz::Check(IsDeviceReply(reply), "every reply is one the device gives");

  Device whole(0, "whole.ini");
  whole.protocol.ReceiveChunk(stream);
  fuzz::Check(whole.host.replies == chunked.host.replies, "chunking does not change the replies");
  fuzz::Check(whole.host.log == chunked.host.log, "chunking does not change the log");
  fuzz::Check(whole.table == chunked.table, "chunking does not change the table");
  return 0;
}
