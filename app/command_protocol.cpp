#include "app/command_protocol.h"

#include <cstring>
#include <string>
#include <utility>

#include "app/float_text.h"

namespace app {
namespace {

constexpr std::string_view kOkReply = "ok\r\n";
constexpr std::string_view kErrorReply = "error\r\n";
// Value texts up to this length are built on the stack.
constexpr std::size_t kInlineValueText = 256;

using Byte = unsigned char;

Byte AsByte(char c) {
  return static_cast<Byte>(c);
}

// Everything outside "%" ... ">" (punctuation, digits, ":;<=>") names a command.
bool IsNameByte(char c) {
  return AsByte(c) < 0x25 || AsByte(c) > 0x3E;
}

bool IsValueByte(char c) {
  return (c >= '0' && c <= '9') || c == '.' || c == ',' || c == '+' || c == '-' || c == ';' ||
         c == 'e' || c == 'E';
}

std::string_view TrimControlBytes(std::string_view line) {
  while (!line.empty() && AsByte(line.front()) <= 32)
    line.remove_prefix(1);
  while (!line.empty() && AsByte(line.back()) <= 32)
    line.remove_suffix(1);
  return line;
}

// Kind and slot from the line's first byte; false for a byte that starts no
// command. Letters "Z"/"z" would address slot 26, beyond the table.
bool Classify(char first, ParsedCommand& command) {
  constexpr char kLastSlotLetter = static_cast<char>('A' + kParameterCount - 2);
  if (first >= 'a' && first <= kLastSlotLetter - 'A' + 'a') {
    command.kind = CommandKind::kGet;
    command.slot = static_cast<std::uint8_t>(first - 'a' + 1);
  } else if (first >= 'A' && first <= kLastSlotLetter) {
    command.kind = CommandKind::kSet;
    command.slot = static_cast<std::uint8_t>(first - 'A' + 1);
  } else if (first == '!') {
    command.kind = CommandKind::kReset;
  } else if (first == '$') {
    command.kind = CommandKind::kSave;
  } else if (first == '?') {
    command.kind = CommandKind::kIdentify;
  } else {
    return false;
  }
  return true;
}

// "command number " and the kind's number, for the five kinds a valid
// command has.
std::string_view CommandNumberLine(CommandKind kind) {
  static constexpr std::string_view kLines[] = {"command number 1", "command number 2",
                                                "command number 3", "command number 4",
                                                "command number 5"};
  return kLines[static_cast<std::size_t>(kind) - 1];
}

std::string Describe(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& exception) {
    return exception.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace

ParsedCommand ParseCommandLine(std::string_view line, char decimalSeparator) {
  ParsedCommand command;
  const std::string_view trimmed = TrimControlBytes(line);

  char inlineValue[kInlineValueText];
  std::string largeValue;
  char* value = inlineValue;
  if (trimmed.size() > kInlineValueText) {
    largeValue.resize(trimmed.size());
    value = largeValue.data();
  }
  std::size_t valueLength = 0;
  bool nameSeen = false;
  bool separatorSeen = false;
  for (const char c : trimmed) {
    if (!separatorSeen) {
      nameSeen = nameSeen || IsNameByte(c);
      separatorSeen = c == ';';
    } else if (IsValueByte(c)) {
      value[valueLength++] = (c == ',' || c == '.') ? decimalSeparator : c;
    }
  }
  if (!nameSeen || !Classify(trimmed.front(), command)) return command;

  if (valueLength > 0) {
    const std::optional<double> converted =
        TextToFloat(std::string_view(value, valueLength), decimalSeparator);
    const std::optional<float> single = converted ? NarrowToSingle(*converted) : std::nullopt;
    if (!single) return command;
    command.value = *single;
  } else if (separatorSeen || command.kind == CommandKind::kSet) {
    return command;
  }
  command.error = false;
  return command;
}

CommandProtocol::CommandProtocol(ParameterTable& table, ProtocolHost& host,
                                 std::filesystem::path parameterFile, char decimalSeparator)
    : table_(table),
      host_(host),
      parameterFile_(std::move(parameterFile)),
      decimalSeparator_(decimalSeparator) {}

void CommandProtocol::ReceiveChunk(std::string_view chunk) {
  try {
    host_.ProcessMessages();
  } catch (...) {
    LogFailure(std::current_exception());
  }
  try {
    ProcessLines(chunk);
  } catch (...) {
    FlushReplies();  // the lines answered before still get their replies
    throw;
  }
  FlushReplies();
}

void CommandProtocol::ProcessLines(std::string_view chunk) {
  while (!chunk.empty()) {
    const void* lineFeed = std::memchr(chunk.data(), '\n', chunk.size());
    if (lineFeed == nullptr) {
      Append(chunk);
      return;
    }
    const std::size_t length =
        static_cast<std::size_t>(static_cast<const char*>(lineFeed) - chunk.data()) + 1;
    const std::string_view piece = chunk.substr(0, length);
    chunk.remove_prefix(length);
    if (accumulator_.empty() && droppedBytes_ == 0 && piece.size() <= kMaxLineLength + 1) {
      ProcessLine(piece, 0);  // a whole line inside the chunk: no copy
      continue;
    }
    Append(piece.substr(0, piece.size() - 1));
    // The accumulator is empty before the line is carried out, whatever
    // happens while it is.
    line_.swap(accumulator_);
    accumulator_.clear();
    line_.push_back('\n');
    const std::size_t dropped = std::exchange(droppedBytes_, 0);
    ProcessLine(line_, dropped);
  }
}

void CommandProtocol::ClearLineAccumulator() {
  accumulator_.clear();
  droppedBytes_ = 0;
}

void CommandProtocol::Append(std::string_view bytes) {
  const std::size_t room = kMaxLineLength - accumulator_.size();
  const std::size_t kept = bytes.size() < room ? bytes.size() : room;
  accumulator_.append(bytes.substr(0, kept));
  droppedBytes_ += bytes.size() - kept;
}

void CommandProtocol::ProcessLine(std::string_view line, std::size_t droppedBytes) {
  try {
    CarryOut(line, droppedBytes);
  } catch (...) {
    LogFailure(std::current_exception());
  }
}

void CommandProtocol::CarryOut(std::string_view line, std::size_t droppedBytes) {
  Log("received ", line);
  if (droppedBytes > 0) {
    Reject(line);
    Log("line too long: ", std::to_string(droppedBytes) + " bytes dropped");
    return;
  }
  const ParsedCommand command = ParseCommandLine(line, decimalSeparator_);
  if (command.error) {
    Reject(line);
    return;
  }
  host_.AddLogLine(CommandNumberLine(command.kind));
  Execute(command);
}

void CommandProtocol::Execute(const ParsedCommand& command) {
  switch (command.kind) {
    case CommandKind::kSet:
      table_[command.slot] = command.value;
      Reply(kOkReply);
      break;
    case CommandKind::kGet: {
      char reply[kFloatTextCapacity + 2];
      std::size_t length =
          FormatFloat(static_cast<double>(table_[command.slot]), decimalSeparator_,
                      std::span<char, kFloatTextCapacity>(reply, kFloatTextCapacity));
      reply[length++] = '\r';
      reply[length++] = '\n';
      Reply(std::string_view(reply, length));
      break;
    }
    case CommandKind::kSave:
      Save();
      break;
    case CommandKind::kIdentify:
      Reply(kIdentifyReply);
      break;
    case CommandKind::kReset:
      host_.AddLogLine("reset");
      ClearParameters(table_);
      ApplyDefaultParameters(table_);
      Reply(kOkReply);
      break;
    case CommandKind::kNone:
      break;
  }
}

// A failed save is answered "error" and reported; the device goes on.
void CommandProtocol::Save() {
  FlushReplies();  // the save waits for the disk; earlier replies need not
  host_.AddLogLine("save parameter");
  try {
    SaveParameters(table_, parameterFile_, decimalSeparator_);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    Log("", Describe(error));
    Reply(kErrorReply);
    Report(error);
    return;
  }
  Reply(kOkReply);
}

void CommandProtocol::Reject(std::string_view line) {
  Log("error ", line);
  Reply(kErrorReply);
}

void CommandProtocol::Reply(std::string_view bytes) {
  if (replies_.size() + bytes.size() > kReplyBatchLimit) FlushReplies();
  replies_.append(bytes);
}

// Does not throw for a failed send: that failure is logged and reported
// like a failed line, and the replies it carried are dropped.
void CommandProtocol::FlushReplies() {
  if (replies_.empty()) return;
  // Taken out before the send, so nothing can go out twice.
  sending_.swap(replies_);
  try {
    host_.SendText(sending_);
  } catch (...) {
    sending_.clear();
    LogFailure(std::current_exception());
    return;
  }
  sending_.clear();
}

void CommandProtocol::Log(std::string_view prefix, std::string_view text) {
  logText_.assign(prefix);
  logText_.append(text);
  host_.AddLogLine(logText_);
}

void CommandProtocol::LogFailure(const std::exception_ptr& error) {
  try {
    Log("", Describe(error));
  } catch (...) {
    // The error is still reported below; a log that cannot take a line
    // must not hide it.
  }
  Report(error);
}

// The replies collected so far go out first: the report may wait for the
// user, and the client should not wait with it.
void CommandProtocol::Report(const std::exception_ptr& error) {
  FlushReplies();
  host_.ReportError(error);
}

}  // namespace app
