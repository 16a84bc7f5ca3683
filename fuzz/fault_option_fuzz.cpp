// The --fault parser on arbitrary text, and the schedule on what it accepts.
// - A text is either accepted or refused with FaultOptionError quoting it
//   (control bytes escaped); nothing else escapes.
// - An accepted fault keeps its values in range, and its canonical text
//   parses back to the same fault.
// - Two schedules with one seed hit the same outputs with the same bytes.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "app/fault_option.h"
#include "app/fault_schedule.h"
#include "fuzz_support.h"

namespace {

std::string Canonical(const app::FaultOption& option) {
  std::string text(app::FaultKindName(option.kind));
  text += ':';
  if (const auto* every = std::get_if<app::EveryNth>(&option.selector)) {
    text += "every=" + std::to_string(every->n);
  } else if (const auto* at = std::get_if<app::AtNumbers>(&option.selector)) {
    text += "at=";
    for (std::size_t i = 0; i < at->numbers.size(); ++i)
      text += (i > 0 ? "+" : "") + std::to_string(at->numbers[i]);
  } else {
    char digits[64];
    const double p = std::get<app::WithProbability>(option.selector).p;
    const auto end = std::to_chars(digits, digits + sizeof digits, p).ptr;
    text += "p=" + std::string(digits, end);
  }
  static constexpr std::string_view kTargets[] = {"replies", "readings", "all"};
  text += ",on=" + std::string(kTargets[static_cast<int>(option.target)]);
  if (option.kind == app::FaultKind::kDelay || option.kind == app::FaultKind::kStall) {
    text += ",ms=" + std::to_string(option.ms);
  }
  if (option.keep) text += ",keep=" + std::to_string(*option.keep);
  if (option.kind == app::FaultKind::kNoise) text += ",bytes=" + std::to_string(option.noiseBytes);
  return text;
}

void CheckRanges(const app::FaultOption& option) {
  fuzz::Check(option.ms <= app::kMaxFaultMilliseconds, "ms in range");
  fuzz::Check(option.noiseBytes >= 1 && option.noiseBytes <= app::kMaxNoiseBytes, "bytes in range");
  if (const auto* every = std::get_if<app::EveryNth>(&option.selector)) {
    fuzz::Check(every->n >= 1, "every is 1 or more");
  } else if (const auto* at = std::get_if<app::AtNumbers>(&option.selector)) {
    fuzz::Check(!at->numbers.empty(), "at names a number");
    for (const std::uint64_t n : at->numbers)
      fuzz::Check(n >= 1, "at numbers are 1 or more");
  } else {
    const double p = std::get<app::WithProbability>(option.selector).p;
    fuzz::Check(p >= 0.0 && p <= 1.0, "p in range");
  }
}

void CheckSchedule(const app::FaultOption& option, std::uint64_t seed) {
  app::FaultSchedule first({option}, seed);
  app::FaultSchedule second({option}, seed);
  for (int i = 0; i < 8; ++i) {
    const auto kind = i % 3 == 0 ? app::OutputKind::kReading : app::OutputKind::kReply;
    const auto a = first.Next(kind);
    const auto b = second.Next(kind);
    fuzz::Check(a.number == b.number && a.hits.size() == b.hits.size(), "same hits");
    if (option.noiseBytes > 64) continue;  // keeps each run short
    const auto outA = app::ApplyFaults("12.5\r\n", a.hits);
    const auto outB = app::ApplyFaults("12.5\r\n", b.hits);
    fuzz::Check(outA.bytes == outB.bytes && outA.holdMs == outB.holdMs, "same bytes");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText({data, size});
  app::FaultOption option;
  try {
    option = app::ParseFaultOption(text);
  } catch (const app::FaultOptionError& error) {
    const std::string_view message = error.what();
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) {
      return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F;
    });
    const std::string quoted = "'" + std::string(text) + "'";
    fuzz::Check(!printable || message.starts_with(quoted), "the error quotes the text");
    fuzz::Check(std::none_of(message.begin(), message.end(),
                             [](char c) { return static_cast<unsigned char>(c) < 0x20; }),
                "the error prints cleanly");
    return 0;
  }
  CheckRanges(option);
  fuzz::Check(app::ParseFaultOption(Canonical(option)) == option, "the canonical text parses back");
  CheckSchedule(option, size);
  return 0;
}
