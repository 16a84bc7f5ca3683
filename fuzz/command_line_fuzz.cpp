// ParseCommandLine on arbitrary lines. Besides not crashing:
// - both decimal separators decode a line alike, since "," and "." in a
//   value are both read as the separator;
// - an accepted command is consistent with the line's first byte;
// - an accepted value is finite and written back as float text it sets
//   again exactly.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/command_protocol.h"
#include "app/float_text.h"
#include "fuzz_support.h"

namespace {

using app::CommandKind;
using app::ParsedCommand;

bool SameResult(const ParsedCommand& a, const ParsedCommand& b) {
  return a.error == b.error && a.kind == b.kind && a.slot == b.slot && a.value == b.value;
}

std::string_view Trimmed(std::string_view line) {
  while (!line.empty() && static_cast<unsigned char>(line.front()) <= 32)
    line.remove_prefix(1);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32)
    line.remove_suffix(1);
  return line;
}

void CheckAccepted(std::string_view line, const ParsedCommand& command) {
  const std::string_view trimmed = Trimmed(line);
  fuzz::Check(!trimmed.empty(), "an accepted command has a first byte");
  const char first = trimmed.front();
  switch (command.kind) {
    case CommandKind::kSet:
      fuzz::Check(first >= 'A' && first <= 'Y', "set starts with A..Y");
      fuzz::Check(command.slot == first - 'A' + 1, "set slot follows the letter");
      break;
    case CommandKind::kGet:
      fuzz::Check(first >= 'a' && first <= 'y', "get starts with a..y");
      fuzz::Check(command.slot == first - 'a' + 1, "get slot follows the letter");
      break;
    case CommandKind::kSave:
      fuzz::Check(first == '$', "save starts with $");
      break;
    case CommandKind::kIdentify:
      fuzz::Check(first == '?', "identify starts with ?");
      break;
    case CommandKind::kReset:
      fuzz::Check(first == '!', "reset starts with !");
      break;
    case CommandKind::kNone:
      fuzz::Check(false, "an accepted command has a kind");
  }
  fuzz::Check(std::isfinite(command.value), "an accepted value is finite");
}

// The value written as the device writes it is set again unchanged.
void CheckValueRoundTrip(const ParsedCommand& command) {
  const std::string line = "A;" + app::FloatToText(static_cast<double>(command.value), '.');
  const ParsedCommand again = app::ParseCommandLine(line, '.');
  fuzz::Check(!again.error && again.kind == CommandKind::kSet, "formatted value is accepted");
  fuzz::Check(again.value == command.value, "formatted value sets the same float");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const ParsedCommand withPoint = app::ParseCommandLine(line, '.');
  const ParsedCommand withComma = app::ParseCommandLine(line, ',');
  fuzz::Check(SameResult(withPoint, withComma), "both separators decode alike");
  if (withPoint.error) return 0;
  CheckAccepted(line, withPoint);
  CheckValueRoundTrip(withPoint);
  return 0;
}
