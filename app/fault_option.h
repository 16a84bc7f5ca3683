// The fault options: what the device does wrong on purpose, so that a client
// can be tested against a line that misbehaves.
//
// One --fault option is KIND[:KEY=VALUE[,KEY=VALUE...]], for example
// "delay:ms=1500,every=3" or "corrupt:at=2+5,on=readings". Exactly one
// selector picks the outputs it hits: every=N (the Nth, 2Nth, ...),
// at=N+M+... (those numbers) or p=P (each with probability P). on= chooses
// replies (the default), readings or all. delay and stall need ms=MS;
// truncate takes keep=BYTES (default: half), noise takes bytes=COUNT
// (default 8).
//
// ParseFaultOption is a pure function; a text it does not accept throws
// FaultOptionError, whose message names the part that is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace app {

enum class FaultKind : std::uint8_t {
  kDrop,       // the output is not sent
  kDelay,      // held `ms`; later output waits behind it
  kTruncate,   // only the first `keep` bytes go out
  kCorrupt,    // one byte is changed
  kNoise,      // `bytes` random bytes go out before it
  kDuplicate,  // sent twice
  kStall,      // the device stops reading and answering for `ms`
  kHangup,     // the client is dropped as by a pulled cable
};

// Which outputs a fault may hit.
enum class FaultTarget : std::uint8_t { kReplies, kReadings, kAll };

// The Nth, 2Nth, 3Nth ... output.
struct EveryNth {
  std::uint64_t n = 1;
  friend bool operator==(const EveryNth&, const EveryNth&) = default;
};
// The outputs with these numbers.
struct AtNumbers {
  std::vector<std::uint64_t> numbers;
  friend bool operator==(const AtNumbers&, const AtNumbers&) = default;
};
// Each output with this probability, drawn from the seeded source.
struct WithProbability {
  double p = 0.0;
  friend bool operator==(const WithProbability&, const WithProbability&) = default;
};
using FaultSelector = std::variant<EveryNth, AtNumbers, WithProbability>;

struct FaultOption {
  FaultKind kind = FaultKind::kDrop;
  FaultSelector selector;
  FaultTarget target = FaultTarget::kReplies;
  std::uint32_t ms = 0;             // delay and stall
  std::optional<std::size_t> keep;  // truncate; none keeps half
  std::size_t noiseBytes = 8;       // noise

  friend bool operator==(const FaultOption&, const FaultOption&) = default;
};

// The longest delay, stall or line delay, in milliseconds (an hour).
inline constexpr std::uint32_t kMaxFaultMilliseconds = 3'600'000;
// The most noise bytes one fault sends.
inline constexpr std::size_t kMaxNoiseBytes = 65'536;

class FaultOptionError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Throws FaultOptionError naming the bad part.
FaultOption ParseFaultOption(std::string_view text);

// "drop", "delay", ... as written in the option and the log.
std::string_view FaultKindName(FaultKind kind);

// Everything the line-fault options ask for; all off by default.
struct LineFaultOptions {
  std::vector<FaultOption> faults;
  std::optional<std::uint64_t> seed;  // none: the program picks one
  std::uint32_t lineDelayMs = 0;
  bool lineTiming = false;

  bool Any() const { return !faults.empty() || lineDelayMs > 0 || lineTiming; }
};

// An option that cannot be served, and why.
struct LineFaultProblem {
  std::string option;  // "--fault", "--line-timing"
  std::string reason;
};

// Checks the options against the port they will run on (a name as --port
// takes it: COMn or a device path for a real tty, "virtual", "loop", ...).
// hangup needs a line with a client to drop (a virtual or network port);
// --line-timing runs on every port (on a real tty it changes nothing).
std::optional<LineFaultProblem> CheckLineFaultsForPort(const LineFaultOptions& options,
                                                       std::string_view port);

}  // namespace app
