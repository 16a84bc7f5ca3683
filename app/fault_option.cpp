#include "app/fault_option.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace app {
namespace {

struct KindEntry {
  std::string_view name;
  FaultKind kind;
};

constexpr std::array<KindEntry, 8> kKinds = {{
    {"drop", FaultKind::kDrop},
    {"delay", FaultKind::kDelay},
    {"truncate", FaultKind::kTruncate},
    {"corrupt", FaultKind::kCorrupt},
    {"noise", FaultKind::kNoise},
    {"duplicate", FaultKind::kDuplicate},
    {"stall", FaultKind::kStall},
    {"hangup", FaultKind::kHangup},
}};

constexpr std::string_view kKindList =
    "drop, delay, truncate, corrupt, noise, duplicate, stall, hangup";
constexpr std::string_view kSelectorList = "every=N, at=N+M+... or p=P";

// Control bytes as \xHH, so that a message prints cleanly.
std::string Escaped(std::string_view text) {
  std::string quoted;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      constexpr char kHex[] = "0123456789ABCDEF";
      quoted += "\\x";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 0xF];
    } else {
      quoted += c;
    }
  }
  return quoted;
}

std::string Quoted(std::string_view text) {
  return "'" + Escaped(text) + "'";
}

[[noreturn]] void Fail(std::string_view option, const std::string& reason) {
  throw FaultOptionError(Quoted(option) + ": " + reason);
}

FaultKind KindNamed(std::string_view option, std::string_view name) {
  for (const KindEntry& entry : kKinds) {
    if (entry.name == name) return entry.kind;
  }
  if (name.empty())
    Fail(option, "no fault kind before ':' (one of " + std::string(kKindList) + ")");
  Fail(option, "unknown fault kind " + Quoted(name) + " (one of " + std::string(kKindList) + ")");
}

// A whole number of decimal digits only (no sign, no blanks), up to `max`.
std::optional<std::uint64_t> WholeNumber(std::string_view text, std::uint64_t max) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
  return value;
}

// Reads the KEY=VALUE pairs into `option`, checking each against the kind.
class KeyReader {
 public:
  KeyReader(std::string_view text, FaultOption& option) : text_(text), option_(option) {}

  void Read(std::string_view key, std::string_view value) {
    if (key == "every" || key == "at" || key == "p") {
      ReadSelector(key, value);
    } else if (key == "on") {
      Once(onSeen_, key);
      ReadTarget(value);
    } else if (key == "ms" && TakesMs()) {
      Once(msSeen_, key);
      option_.ms = static_cast<std::uint32_t>(Number(key, value, 0, kMaxFaultMilliseconds));
    } else if (key == "keep" && option_.kind == FaultKind::kTruncate) {
      Once(keepSeen_, key);
      option_.keep = static_cast<std::size_t>(
          Number(key, value, 0, std::numeric_limits<std::uint32_t>::max()));
    } else if (key == "bytes" && option_.kind == FaultKind::kNoise) {
      Once(bytesSeen_, key);
      option_.noiseBytes = static_cast<std::size_t>(Number(key, value, 1, kMaxNoiseBytes));
    } else {
      Fail(text_, "unknown key " + Quoted(key) + " for " + std::string(FaultKindName(option_.kind)) +
                      " (" + KeysOfKind() + ")");
    }
  }

  void Finish() const {
    if (selector_.empty()) Fail(text_, "no selector: give one of " + std::string(kSelectorList));
    if (TakesMs() && !msSeen_) {
      Fail(text_, std::string(FaultKindName(option_.kind)) + " needs ms=MS");
    }
  }

 private:
  bool TakesMs() const {
    return option_.kind == FaultKind::kDelay || option_.kind == FaultKind::kStall;
  }

  std::string KeysOfKind() const {
    std::string keys = "keys: every, at, p, on";
    if (TakesMs()) keys += ", ms";
    if (option_.kind == FaultKind::kTruncate) keys += ", keep";
    if (option_.kind == FaultKind::kNoise) keys += ", bytes";
    return keys;
  }

  void Once(bool& seen, std::string_view key) const {
    if (seen) Fail(text_, Quoted(key) + " given twice");
    seen = true;
  }

  std::uint64_t Number(std::string_view key, std::string_view value, std::uint64_t min,
                       std::uint64_t max) const {
    const auto number = WholeNumber(value, max);
    if (!number || *number < min) {
      const std::string range = max == std::numeric_limits<std::uint64_t>::max()
                                    ? std::to_string(min) + " or more"
                                    : "from " + std::to_string(min) + " to " + std::to_string(max);
      Fail(text_, Escaped(key) + "=" + Escaped(value) + ": " + std::string(key) +
                      " must be a whole number " + range);
    }
    return *number;
  }

  void ReadSelector(std::string_view key, std::string_view value) {
    if (selector_ == key) Fail(text_, Quoted(key) + " given twice");
    if (!selector_.empty()) {
      Fail(text_, "two selectors (" + selector_ + " and " + std::string(key) +
                      "): give only one of " + std::string(kSelectorList));
    }
    selector_ = key;
    constexpr auto kMaxNumber = std::numeric_limits<std::uint64_t>::max();
    if (key == "every") {
      option_.selector = EveryNth{Number(key, value, 1, kMaxNumber)};
    } else if (key == "at") {
      option_.selector = ReadNumbers(value);
    } else {
      option_.selector = WithProbability{ReadProbability(value)};
    }
  }

  AtNumbers ReadNumbers(std::string_view value) const {
    AtNumbers at;
    for (;;) {
      const std::size_t plus = value.find('+');
      const std::string_view part = value.substr(0, plus);
      const auto number = WholeNumber(part, std::numeric_limits<std::uint64_t>::max());
      if (!number || *number == 0) {
        Fail(text_, "at=" + Escaped(value) + ": " +
                        (part.empty() ? std::string("an empty number")
                                      : Quoted(part) + " is not an output number (1 or more)"));
      }
      at.numbers.push_back(*number);
      if (plus == std::string_view::npos) return at;
      value.remove_prefix(plus + 1);
    }
  }

  double ReadProbability(std::string_view value) const {
    double p = -1.0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), p);
    const bool whole = error == std::errc() && end == value.data() + value.size();
    if (!whole || !std::isfinite(p) || p < 0.0 || p > 1.0) {
      Fail(text_, "p=" + Escaped(value) + ": the probability must be a number from 0 to 1");
    }
    return p;
  }

  void ReadTarget(std::string_view value) {
    if (value == "replies") {
      option_.target = FaultTarget::kReplies;
    } else if (value == "readings") {
      option_.target = FaultTarget::kReadings;
    } else if (value == "all") {
      option_.target = FaultTarget::kAll;
    } else {
      Fail(text_, "on=" + Escaped(value) + ": one of replies, readings, all");
    }
  }

  std::string_view text_;
  FaultOption& option_;
  std::string selector_;  // the selector key seen, empty for none
  bool onSeen_ = false;
  bool msSeen_ = false;
  bool keepSeen_ = false;
  bool bytesSeen_ = false;
};

bool NamesRealTty(std::string_view port) {
  if (port.starts_with('/')) return true;
  if (!port.starts_with("COM") || port.size() == 3) return false;
  return port.find_first_not_of("0123456789", 3) == std::string_view::npos;
}

bool HasClientToDrop(std::string_view port) {
  return port == "virtual" || port.starts_with("tcp:") || port.starts_with("rfc2217:");
}

}  // namespace

std::optional<LineFaultProblem> CheckLineFaultsForPort(const LineFaultOptions& options,
                                                       std::string_view port) {
  for (const FaultOption& fault : options.faults) {
    if (fault.kind != FaultKind::kHangup) continue;
    if (NamesRealTty(port)) {
      return LineFaultProblem{"--fault", "hangup: the device cannot pull the cable of a real tty"};
    }
    if (!HasClientToDrop(port)) {
      return LineFaultProblem{"--fault", "hangup needs a virtual or network port"};
    }
  }
  return std::nullopt;
}

std::string_view FaultKindName(FaultKind kind) {
  for (const KindEntry& entry : kKinds) {
    if (entry.kind == kind) return entry.name;
  }
  return "fault";
}

FaultOption ParseFaultOption(std::string_view text) {
  const std::size_t colon = text.find(':');
  FaultOption option;
  option.kind = KindNamed(text, text.substr(0, colon));
  KeyReader reader(text, option);
  if (colon != std::string_view::npos) {
    std::string_view pairs = text.substr(colon + 1);
    if (pairs.empty()) Fail(text, "nothing after ':'");
    for (;;) {
      const std::size_t comma = pairs.find(',');
      const std::string_view pair = pairs.substr(0, comma);
      const std::size_t equals = pair.find('=');
      if (pair.empty()) Fail(text, "an empty KEY=VALUE");
      if (equals == std::string_view::npos) Fail(text, Quoted(pair) + " is not KEY=VALUE");
      if (equals == 0) Fail(text, Quoted(pair) + " has no key");
      reader.Read(pair.substr(0, equals), pair.substr(equals + 1));
      if (comma == std::string_view::npos) break;
      pairs.remove_prefix(comma + 1);
    }
  }
  reader.Finish();
  return option;
}

}  // namespace app
