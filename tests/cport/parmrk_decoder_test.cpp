#include "cport/detail/parmrk_decoder.h"

#include <gtest/gtest.h>

#include <string>

namespace cport::detail {
namespace {

using namespace std::string_literals;

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

struct DecodeCase {
  const char* name;
  std::string input;
  std::string data;
  ParmrkDecoder::Events events;
};

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, WholeInput) {
  ParmrkDecoder decoder;
  std::vector<std::uint8_t> out;
  EXPECT_EQ(decoder.Decode(Bytes(GetParam().input), out), GetParam().events);
  EXPECT_EQ(out, Bytes(GetParam().data));
}

// Every split point must decode the same: a read may end anywhere in a mark.
TEST_P(Decode, SplitAtEveryPoint) {
  const std::vector<std::uint8_t> input = Bytes(GetParam().input);
  for (std::size_t cut = 0; cut <= input.size(); ++cut) {
    ParmrkDecoder decoder;
    std::vector<std::uint8_t> out;
    const std::span<const std::uint8_t> all(input);
    const ParmrkDecoder::Events first = decoder.Decode(all.first(cut), out);
    const ParmrkDecoder::Events second = decoder.Decode(all.subspan(cut), out);
    EXPECT_EQ(first.breaks + second.breaks, GetParam().events.breaks) << "cut at " << cut;
    EXPECT_EQ(first.errors + second.errors, GetParam().events.errors) << "cut at " << cut;
    EXPECT_EQ(out, Bytes(GetParam().data)) << "cut at " << cut;
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

TEST(ParmrkDecoder, ErrorByteIsReplacedWhenAsked) {
  ParmrkDecoder decoder;
  decoder.SetErrorReplacement('?');
  std::vector<std::uint8_t> out;
  decoder.Decode(Bytes("a\377\0xb\377\377"s), out);
  EXPECT_EQ(out, Bytes("a?b\377"));
}

TEST(ParmrkDecoder, ResetForgetsAHalfMark) {
  ParmrkDecoder decoder;
  std::vector<std::uint8_t> out;
  decoder.Decode(Bytes("a\377"), out);
  decoder.Reset();
  EXPECT_EQ(decoder.Decode(Bytes("\0\0"s), out), ParmrkDecoder::Events{});
  EXPECT_EQ(out, Bytes("a\0\0"s));
}

}  // namespace
}  // namespace cport::detail
