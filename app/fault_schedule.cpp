#include "app/fault_schedule.h"

#include <algorithm>
#include <variant>

namespace app {
namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15u;

std::uint64_t Finalize(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// The seed of one fault's choices for one output: a hash of all four.
std::uint64_t DrawSeed(std::uint64_t seed, std::size_t fault, OutputKind kind,
                       std::uint64_t number) {
  std::uint64_t h = Finalize(seed + kGolden);
  h = Finalize(h ^ static_cast<std::uint64_t>(fault));
  h = Finalize(h ^ static_cast<std::uint64_t>(kind));
  return Finalize(h ^ number);
}

bool Aims(FaultTarget target, OutputKind kind) {
  switch (target) {
    case FaultTarget::kReplies:
      return kind == OutputKind::kReply;
    case FaultTarget::kReadings:
      return kind == OutputKind::kReading;
    case FaultTarget::kAll:
      return true;
  }
  return false;
}

void Corrupt(std::string& bytes, ScheduleRandom& random) {
  if (bytes.empty()) return;
  const std::size_t at = static_cast<std::size_t>(random.Below(bytes.size()));
  // 1 to 255 flipped in: always another value.
  const auto flip = static_cast<unsigned char>(1 + random.Below(255));
  bytes[at] = static_cast<char>(static_cast<unsigned char>(bytes[at]) ^ flip);
}

std::size_t Room(const std::string& bytes) {
  return bytes.size() < kMaxFaultedBytes ? kMaxFaultedBytes - bytes.size() : 0;
}

void AddNoise(std::string& bytes, std::size_t count, ScheduleRandom& random) {
  std::string noise(std::min(count, Room(bytes)), '\0');
  for (char& c : noise)
    c = static_cast<char>(random.Next() & 0xFF);
  bytes.insert(0, noise);
}

std::uint32_t AddCapped(std::uint32_t a, std::uint32_t b) {
  const std::uint64_t sum = std::uint64_t{a} + b;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(sum, kMaxFaultMilliseconds));
}

}  // namespace

std::string_view OutputKindName(OutputKind kind) {
  return kind == OutputKind::kReply ? "reply" : "reading";
}

std::uint64_t ScheduleRandom::Next() {
  state_ += kGolden;
  return Finalize(state_);
}

bool ScheduleRandom::Chance(double p) {
  // 53 random bits as a fraction in [0, 1): exact in a double.
  const double fraction = static_cast<double>(Next() >> 11) * 0x1.0p-53;
  return fraction < p;
}

FaultedOutput ApplyFaults(std::string_view bytes, std::span<const FaultHit> hits) {
  FaultedOutput out{std::string(bytes)};
  for (const FaultHit& hit : hits) {
    ScheduleRandom random(hit.random);
    const FaultOption& option = *hit.option;
    switch (option.kind) {
      case FaultKind::kDrop:
        out.bytes.clear();
        break;
      case FaultKind::kTruncate:
        out.bytes.resize(std::min(out.bytes.size(), option.keep.value_or(out.bytes.size() / 2)));
        break;
      case FaultKind::kCorrupt:
        Corrupt(out.bytes, random);
        break;
      case FaultKind::kNoise:
        AddNoise(out.bytes, option.noiseBytes, random);
        break;
      case FaultKind::kDuplicate:
        out.bytes += out.bytes.substr(0, Room(out.bytes));
        break;
      case FaultKind::kDelay:
        out.holdMs = AddCapped(out.holdMs, option.ms);
        break;
      case FaultKind::kStall:
        out.stallMs = std::max(out.stallMs, option.ms);
        break;
      case FaultKind::kHangup:
        out.hangup = true;
        break;
    }
  }
  if (out.hangup) out.bytes.clear();
  return out;
}

FaultSchedule::FaultSchedule(std::vector<FaultOption> faults, std::uint64_t seed)
    : faults_(std::move(faults)), seed_(seed) {}

FaultSchedule::Output FaultSchedule::Next(OutputKind kind) {
  const std::uint64_t number = kind == OutputKind::kReply ? ++replies_ : ++readings_;
  Output output{number, {}};
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const FaultOption& option = faults_[i];
    if (!Aims(option.target, kind)) continue;
    ScheduleRandom random(DrawSeed(seed_, i, kind, number));
    if (Selects(option, random, number)) output.hits.push_back(FaultHit{&option, random.Next()});
  }
  return output;
}

bool FaultSchedule::Selects(const FaultOption& option, ScheduleRandom& random,
                            std::uint64_t number) const {
  if (const auto* every = std::get_if<EveryNth>(&option.selector)) return number % every->n == 0;
  if (const auto* at = std::get_if<AtNumbers>(&option.selector)) {
    return std::find(at->numbers.begin(), at->numbers.end(), number) != at->numbers.end();
  }
  return random.Chance(std::get<WithProbability>(option.selector).p);
}

std::string FaultLogLine(const FaultOption& option, OutputKind kind, std::uint64_t number) {
  std::string line = "fault ";
  line += FaultKindName(option.kind);
  line += ' ';
  line += OutputKindName(kind);
  line += ' ';
  line += std::to_string(number);
  return line;
}

}  // namespace app
