#include "app/fault_option.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace app {
namespace {

using ::testing::HasSubstr;

struct Accepted {
  std::string text;
  FaultOption option;
};

FaultOption Option(FaultKind kind, FaultSelector selector,
                   FaultTarget target = FaultTarget::kReplies) {
  FaultOption option;
  option.kind = kind;
  option.selector = std::move(selector);
  option.target = target;
  return option;
}

FaultOption WithMs(FaultOption option, std::uint32_t ms) {
  option.ms = ms;
  return option;
}

class AcceptedOptions : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedOptions, ParseToTheirFaults) {
  EXPECT_EQ(ParseFaultOption(GetParam().text), GetParam().option) << GetParam().text;
}

FaultOption Truncate(std::optional<std::size_t> keep) {
  FaultOption option = Option(FaultKind::kTruncate, EveryNth{2});
  option.keep = keep;
  return option;
}

FaultOption Noise(std::size_t bytes) {
  FaultOption option = Option(FaultKind::kNoise, AtNumbers{{1}}, FaultTarget::kReadings);
  option.noiseBytes = bytes;
  return option;
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, AcceptedOptions,
    ::testing::Values(
        Accepted{"drop:every=3", Option(FaultKind::kDrop, EveryNth{3})},
        Accepted{"drop:at=1+4+9", Option(FaultKind::kDrop, AtNumbers{{1, 4, 9}})},
        Accepted{"drop:p=0.25", Option(FaultKind::kDrop, WithProbability{0.25})},
        Accepted{"drop:p=0", Option(FaultKind::kDrop, WithProbability{0.0})},
        Accepted{"drop:p=1", Option(FaultKind::kDrop, WithProbability{1.0})},
        Accepted{"duplicate:on=all,every=1",
                 Option(FaultKind::kDuplicate, EveryNth{1}, FaultTarget::kAll)},
        Accepted{"corrupt:every=2,on=readings",
                 Option(FaultKind::kCorrupt, EveryNth{2}, FaultTarget::kReadings)},
        Accepted{"delay:ms=1500,every=1", WithMs(Option(FaultKind::kDelay, EveryNth{1}), 1500)},
        Accepted{"stall:at=2,ms=0", WithMs(Option(FaultKind::kStall, AtNumbers{{2}}), 0)},
        Accepted{"truncate:every=2", Truncate(std::nullopt)},
        Accepted{"truncate:every=2,keep=0", Truncate(0)},
        Accepted{"noise:at=1,on=readings", Noise(8)},
        Accepted{"noise:at=1,on=readings,bytes=3", Noise(3)},
        Accepted{"hangup:at=5", Option(FaultKind::kHangup, AtNumbers{{5}})}));

struct Refused {
  std::string text;
  std::string named;  // what the message must mention
};

class RefusedOptions : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedOptions, NameTheBadPart) {
  try {
    ParseFaultOption(GetParam().text);
    ADD_FAILURE() << GetParam().text << " was accepted";
  } catch (const FaultOptionError& error) {
    EXPECT_THAT(error.what(), HasSubstr("'" + GetParam().text + "'"));
    EXPECT_THAT(error.what(), HasSubstr(GetParam().named));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, RefusedOptions,
    ::testing::Values(
        Refused{"", "no fault kind"}, Refused{":every=1", "no fault kind"},
        Refused{"dorp:every=1", "unknown fault kind 'dorp'"},
        Refused{"Drop:every=1", "unknown fault kind 'Drop'"}, Refused{"drop", "no selector"},
        Refused{"drop:", "nothing after ':'"}, Refused{"drop:on=all", "no selector"},
        Refused{"drop:every=1,", "an empty KEY=VALUE"},
        Refused{"drop:,every=1", "an empty KEY=VALUE"},
        Refused{"drop:every", "'every' is not KEY=VALUE"}, Refused{"drop:=3", "has no key"},
        Refused{"drop:every=0", "every=0"}, Refused{"drop:every=", "every="},
        Refused{"drop:every=-2", "every=-2"}, Refused{"drop:every= 2", "every= 2"},
        Refused{"drop:every=99999999999999999999", "every=99999999999999999999"},
        Refused{"drop:at=", "an empty number"}, Refused{"drop:at=1++2", "an empty number"},
        Refused{"drop:at=1+", "an empty number"}, Refused{"drop:at=0", "'0'"},
        Refused{"drop:at=x", "'x'"}, Refused{"drop:p=1.5", "p=1.5"},
        Refused{"drop:p=-0.1", "p=-0.1"}, Refused{"drop:p=nan", "p=nan"},
        Refused{"drop:p=inf", "p=inf"}, Refused{"drop:p=0.5x", "p=0.5x"},
        Refused{"drop:every=2,p=0.5", "two selectors (every and p)"},
        Refused{"drop:at=1,at=2", "'at' given twice"}, Refused{"drop:every=1,on=some", "on=some"},
        Refused{"drop:every=1,on=all,on=all", "'on' given twice"},
        Refused{"drop:every=1,ms=5", "unknown key 'ms' for drop"},
        Refused{"drop:every=1,colour=red", "unknown key 'colour'"},
        Refused{"delay:every=1", "delay needs ms=MS"}, Refused{"stall:p=0.1", "stall needs ms=MS"},
        Refused{"delay:every=1,ms=1,ms=2", "'ms' given twice"},
        Refused{"delay:every=1,ms=3600001", "ms=3600001"},
        Refused{"truncate:every=1,bytes=2", "unknown key 'bytes' for truncate"},
        Refused{"noise:every=1,keep=2", "unknown key 'keep' for noise"},
        Refused{"noise:every=1,bytes=0", "bytes=0"}));

TEST(FaultOptionErrors, ShowControlBytesEscaped) {
  try {
    ParseFaultOption(std::string("dr\0op\n:every=1", 14));
    ADD_FAILURE() << "accepted";
  } catch (const FaultOptionError& error) {
    EXPECT_THAT(error.what(), HasSubstr("'dr\\x00op\\x0A:every=1'"));
  }
}

TEST(FaultKindNames, AreTheOptionsOwn) {
  for (const char* name :
       {"drop", "delay", "truncate", "corrupt", "noise", "duplicate", "stall", "hangup"}) {
    const std::string text =
        std::string(name) + ":every=1" +
        (name == std::string("delay") || name == std::string("stall") ? ",ms=1" : "");
    EXPECT_EQ(FaultKindName(ParseFaultOption(text).kind), name);
  }
}

}  // namespace
}  // namespace app

namespace app {
namespace {

std::optional<std::string> ProblemWith(const char* fault, std::string_view port,
                                       bool lineTiming = false) {
  LineFaultOptions options;
  if (fault != nullptr) options.faults.push_back(ParseFaultOption(fault));
  options.lineTiming = lineTiming;
  const auto problem = CheckLineFaultsForPort(options, port);
  if (!problem) return std::nullopt;
  return problem->option + ": " + problem->reason;
}

TEST(FaultsForPort, HangupNeedsALineWithAClientToDrop) {
  EXPECT_EQ(ProblemWith("hangup:at=1", "virtual"), std::nullopt);
  EXPECT_EQ(ProblemWith("hangup:at=1", "tcp:7000"), std::nullopt);
  EXPECT_EQ(ProblemWith("hangup:at=1", "rfc2217:localhost:7000"), std::nullopt);
  EXPECT_THAT(ProblemWith("hangup:at=1", "COM1").value_or(""), testing::HasSubstr("real tty"));
  EXPECT_THAT(ProblemWith("hangup:at=1", "/dev/ttyUSB0").value_or(""),
              testing::HasSubstr("real tty"));
  EXPECT_THAT(ProblemWith("hangup:at=1", "loop").value_or(""),
              testing::HasSubstr("virtual or network port"));
}

TEST(FaultsForPort, LineTimingRunsOnEveryPort) {
  for (const char* port : {"virtual", "loop", "tcp:0", "COM1", "/dev/ttyS0"})
    EXPECT_EQ(ProblemWith(nullptr, port, true), std::nullopt) << port;
}

}  // namespace
}  // namespace app
