// The simulated device's line protocol: bytes from the serial port become
// commands that set or read the parameter table, save it, identify the
// device or reset the table; every command is answered on the port and
// logged.
//
// ParseCommandLine is the pure decoding of one line. CommandProtocol owns
// the LineAccumulator and carries lines out; it reaches the window only
// through ProtocolHost. Both run in the user-interface thread; a
// CommandProtocol is not re-entrant (ReceiveChunk must not be called from
// inside one of its host calls).
//
// The replies to the lines of one chunk go out together, in order, in one
// ProtocolHost::SendText at the end of the chunk, so a client that pipelines
// its commands costs one write per chunk rather than one per line. What has
// been collected goes out earlier before a save (which waits for the disk),
// before an error is reported (the report may wait for the user), and when
// it reaches kReplyBatchLimit bytes.
//
// A bad line is no exception: it is answered "error\r\n". An exception
// raised while a line is carried out (a failed save, reply or log call) is
// logged and handed to ProtocolHost::ReportError; the line is finished and
// later lines are handled as usual. A failed send of collected replies is
// logged and reported once; those replies are not sent again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/parameter_table.h"

namespace app {

enum class CommandKind : std::uint8_t {
  kSet = 1,
  kGet = 2,
  kSave = 3,
  kIdentify = 4,
  kReset = 5,
  kNone = 255,
};

struct ParsedCommand {
  bool error = true;
  CommandKind kind = CommandKind::kNone;
  std::uint8_t slot = 0;  // 1 to 25 for set and get
  float value = 0.0f;     // the converted value, 0 when none was given
};

// Decodes one line (its CR LF may still be attached). Letter commands
// address slots 1 to 25; "Z" and "z" lie outside the table and are errors.
ParsedCommand ParseCommandLine(std::string_view line, char decimalSeparator);

// What the protocol needs from the window.
class ProtocolHost {
 public:
  virtual ~ProtocolHost() = default;
  // Sends one or more whole replies on the port; returns when the write has
  // ended.
  virtual void SendText(std::string_view bytes) = 0;
  // Adds one line to the log, unchanged.
  virtual void AddLogLine(std::string_view line) = 0;
  // Lets the application handle its pending messages, then returns.
  virtual void ProcessMessages() = 0;
  // Shows an error that arose while a line was carried out. Must not throw.
  virtual void ReportError(std::exception_ptr error) = 0;
};

inline constexpr std::string_view kIdentifyReply = "quillane, V 1.0\r\n";
// Bytes of one line kept before its line feed; the rest is dropped.
inline constexpr std::size_t kMaxLineLength = std::size_t{64} * 1024;
// Collected replies are sent before they would grow beyond this.
inline constexpr std::size_t kReplyBatchLimit = 4096;

class CommandProtocol {
 public:
  // `table` and `host` must outlive the protocol; saves go to
  // `parameterFile`.
  CommandProtocol(ParameterTable& table, ProtocolHost& host, std::filesystem::path parameterFile,
                  char decimalSeparator);

  // Takes the bytes read from the port (any number, split anywhere): lets
  // the host handle its pending messages, then carries out every line that
  // a line feed completes, in order, and sends their replies. Bytes after
  // the last line feed wait for the next chunk.
  void ReceiveChunk(std::string_view chunk);

  // Forgets a partly received line (the window's reset after a close).
  void ClearLineAccumulator();

  std::string_view LineAccumulator() const noexcept { return accumulator_; }

 private:
  void ProcessLines(std::string_view chunk);
  void Append(std::string_view bytes);
  void ProcessLine(std::string_view line, std::size_t droppedBytes);
  void CarryOut(std::string_view line, std::size_t droppedBytes);
  void Execute(const ParsedCommand& command);
  void Save();
  void Reject(std::string_view line);
  void Reply(std::string_view bytes);
  void FlushReplies();
  void Log(std::string_view prefix, std::string_view text);
  void LogFailure(const std::exception_ptr& error);
  void Report(const std::exception_ptr& error);

  ParameterTable& table_;
  ProtocolHost& host_;
  std::filesystem::path parameterFile_;
  char decimalSeparator_;
  std::string accumulator_;       // the line received so far, without its line feed
  std::size_t droppedBytes_ = 0;  // bytes of that line beyond kMaxLineLength
  std::string line_;              // the line being carried out
  std::string logText_;           // reused for every log line
  std::string replies_;           // replies collected, not yet sent
  std::string sending_;           // replies being sent (keeps its buffer)
};

}  // namespace app
