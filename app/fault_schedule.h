// The fault schedule: which output each fault hits, and what that does to it.
//
// Replies and readings are numbered from 1 since the start, each on its
// own. Every random choice (a p= selection, the byte a corruption changes,
// the noise bytes) comes from a value derived from the seed, the fault's
// place among the options and the output it looks at, never from a shared
// running stream: a reading that comes a little earlier or later relative
// to the replies changes nothing, so one seed gives the same faults at the
// same outputs on every run and every platform. The arithmetic is our own
// (SplitMix64), not a standard-library distribution, whose results differ
// between libraries.
//
// Pure code, no clock and no I/O; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/fault_option.h"

namespace app {

enum class OutputKind : std::uint8_t { kReply, kReading };

// "reply" or "reading", as in the log.
std::string_view OutputKindName(OutputKind kind);

// SplitMix64: a small generator whose every output is fixed by its seed.
class ScheduleRandom {
 public:
  explicit ScheduleRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  // Uniform enough in 0 .. bound-1 for the small bounds used here; bound > 0.
  std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }
  // True with probability p (0 never, 1 always).
  bool Chance(double p);

 private:
  std::uint64_t state_;
};

// One fault that hits one output.
struct FaultHit {
  const FaultOption* option;  // owned by the schedule
  std::uint64_t random;       // seeds the fault's own choices
};

// What one output becomes once its faults are applied.
struct FaultedOutput {
  std::string bytes;          // what goes out (empty: nothing)
  std::uint32_t holdMs = 0;   // held this long before it is written
  std::uint32_t stallMs = 0;  // the device stops reading and answering this long
  bool hangup = false;        // the client is dropped where it would go out
};

// The most bytes one output grows to, however many faults hit it.
inline constexpr std::size_t kMaxFaultedBytes = std::size_t{1} << 20;

// Applies the hits in the order given: truncate, corrupt, noise and
// duplicate change the bytes as they stand after the hits before them (noise
// and duplicates stop at kMaxFaultedBytes); delays add up; of several stalls
// the longest counts. A hangup sends nothing: the cable is pulled before it.
FaultedOutput ApplyFaults(std::string_view bytes, std::span<const FaultHit> hits);

class FaultSchedule {
 public:
  FaultSchedule(std::vector<FaultOption> faults, std::uint64_t seed);

  struct Output {
    std::uint64_t number;        // 1 for the first of its kind
    std::vector<FaultHit> hits;  // in option order
  };
  // Numbers the next output of `kind` and picks the faults that hit it.
  Output Next(OutputKind kind);

  std::uint64_t Seed() const { return seed_; }

 private:
  bool Selects(const FaultOption& option, ScheduleRandom& random, std::uint64_t number) const;

  std::vector<FaultOption> faults_;
  std::uint64_t seed_;
  std::uint64_t replies_ = 0;
  std::uint64_t readings_ = 0;
};

// "fault drop reply 3".
std::string FaultLogLine(const FaultOption& option, OutputKind kind, std::uint64_t number);

}  // namespace app
