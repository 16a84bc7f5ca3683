#include "cport/detail/parmrk_decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cport::detail {
namespace {

using namespace std::string_literals;

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

struct Events {
  std::size_t breaks = 0;
  std::size_t errors = 0;
  friend bool operator==(const Events&, const Events&) = default;
};

// Collects the data (faulty bytes included) and a trace of the calls.
struct Recorder final : ParmrkSink {
  std::vector<std::uint8_t> data;
  Events events;
  std::string trace;

  void OnData(std::span<const std::uint8_t> bytes) override {
    data.insert(data.end(), bytes.begin(), bytes.end());
    trace += "D" + std::string(bytes.begin(), bytes.end()) + "|";
  }
  void OnFaultyByte(std::uint8_t byte) override {
    data.push_back(byte);
    ++events.errors;
    trace += "F" + std::string(1, static_cast<char>(byte)) + "|";
  }
  void OnBreak() override {
    ++events.breaks;
    trace += "B|";
  }
};

struct DecodeCase {
  const char* name;
  std::string input;
  std::string data;
  Events events;
};

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, WholeInput) {
  ParmrkDecoder decoder;
  Recorder recorder;
  decoder.Decode(Bytes(GetParam().input), recorder);
  EXPECT_EQ(recorder.events, GetParam().events);
  EXPECT_EQ(recorder.data, Bytes(GetParam().data));
}

// Every split point must decode the same: a read may end anywhere in a mark.
TEST_P(Decode, SplitAtEveryPoint) {
  const std::vector<std::uint8_t> input = Bytes(GetParam().input);
  for (std::size_t cut = 0; cut <= input.size(); ++cut) {
    ParmrkDecoder decoder;
    Recorder recorder;
    const std::span<const std::uint8_t> all(input);
    decoder.Decode(all.first(cut), recorder);
    decoder.Decode(all.subspan(cut), recorder);
    EXPECT_EQ(recorder.events, GetParam().events) << "cut at " << cut;
    EXPECT_EQ(recorder.data, Bytes(GetParam().data)) << "cut at " << cut;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Marks, Decode,
    testing::Values(
        DecodeCase{"Plain", "abc\0d"s, "abc\0d"s, {}},
        DecodeCase{"DoubledFF", "a\377\377b"s, "a\377b"s, {}},
        DecodeCase{"TwoDataFF", "\377\377\377\377"s, "\377\377"s, {}},
        DecodeCase{"Break", "a\377\0\0b"s, "ab", {.breaks = 1, .errors = 0}},
        DecodeCase{"ErrorByte", "a\377\0xb"s, "axb", {.breaks = 0, .errors = 1}},
        DecodeCase{"ErrorOnFF", "\377\0\377"s, "\377"s, {.breaks = 0, .errors = 1}},
        DecodeCase{"Mixed", "\377\0\0\377\377\377\0z\0"s, "\377z\0"s, {.breaks = 1, .errors = 1}},
        DecodeCase{"StrayMarkKeepsBothBytes", "\377a"s, "\377a"s, {}}),
    [](const testing::TestParamInfo<DecodeCase>& caseInfo) {
      return std::string(caseInfo.param.name);
    });

TEST(ParmrkDecoder, EventsKeepTheirPlaceInTheData) {
  ParmrkDecoder decoder;
  Recorder recorder;
  decoder.Decode(Bytes("ab\377\0xc\377\0\0\377\377d"s), recorder);
  EXPECT_EQ(recorder.trace, "Dab|Fx|Dc|B|D\377|Dd|");
}

TEST(ParmrkDecoder, ResetForgetsAHalfMark) {
  ParmrkDecoder decoder;
  Recorder recorder;
  decoder.Decode(Bytes("a\377"s), recorder);
  decoder.Reset();
  decoder.Decode(Bytes("\0\0"s), recorder);
  EXPECT_EQ(recorder.events, Events{});
  EXPECT_EQ(recorder.data, Bytes("a\0\0"s));
}

}  // namespace
}  // namespace cport::detail
