#include "app/command_protocol.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "tests/support/temp_folder.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;

// Records everything the protocol does to the window, in order.
class RecordingHost : public ProtocolHost {
 public:
  void SendText(std::string_view bytes) override {
    transcript.push_back("send " + std::string(bytes));
    if (onSend) onSend();
    if (failSends > 0) {
      --failSends;
      throw std::runtime_error("write failed");
    }
  }
  void AddLogLine(std::string_view line) override {
    transcript.push_back("log " + std::string(line));
    if (onLog) onLog(line);
  }
  void ProcessMessages() override {
    transcript.push_back("messages");
    if (onMessages) onMessages();
  }
  void ReportError(std::exception_ptr error) override {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      transcript.push_back(std::string("report ") + e.what());
    }
  }

  // One entry per SendText.
  std::vector<std::string> Replies() const { return WithPrefix("send "); }
  // The bytes the client reads.
  std::string Sent() const {
    std::string sent;
    for (const std::string& reply : Replies())
      sent += reply;
    return sent;
  }
  std::vector<std::string> Logs() const { return WithPrefix("log "); }
  std::vector<std::string> WithPrefix(std::string_view prefix) const {
    std::vector<std::string> found;
    for (const std::string& entry : transcript) {
      if (entry.starts_with(prefix)) found.push_back(entry.substr(prefix.size()));
    }
    return found;
  }

  std::vector<std::string> transcript;
  int failSends = 0;
  std::function<void()> onMessages;
  std::function<void()> onSend;
  std::function<void(std::string_view)> onLog;
};

class CommandProtocolTest : public testing::Test {
 protected:
  CommandProtocol MakeProtocol(char separator = '.') {
    return CommandProtocol(table_, host_, folder_ / "quillane.ini", separator);
  }

  test_support::TempFolder folder_{"quillane-protocol"};
  ParameterTable table_{};
  RecordingHost host_;
};

struct LineCase {
  const char* line;
  bool error;
  CommandKind kind;
  int slot;
  float value;
};

class ParseCommandLineTable : public testing::TestWithParam<LineCase> {};

TEST_P(ParseCommandLineTable, Decodes) {
  const LineCase& c = GetParam();
  for (const char separator : {'.', ','}) {
    const ParsedCommand command = ParseCommandLine(std::string(c.line) + "\r\n", separator);
    ASSERT_EQ(command.error, c.error) << c.line;
    if (c.error) continue;
    EXPECT_EQ(command.kind, c.kind) << c.line;
    EXPECT_EQ(command.slot, c.slot) << c.line;
    EXPECT_EQ(command.value, c.value) << c.line;
  }
}

constexpr CommandKind kSet = CommandKind::kSet;
constexpr CommandKind kGet = CommandKind::kGet;
constexpr CommandKind kNone = CommandKind::kNone;

INSTANTIATE_TEST_SUITE_P(
    Accepted, ParseCommandLineTable,
    testing::Values(
        LineCase{"A;12.5", false, kSet, 1, 12.5f}, LineCase{"A;12,5", false, kSet, 1, 12.5f},
        LineCase{"A;1e3", false, kSet, 1, 1000.0f}, LineCase{"A;-2.5E-1", false, kSet, 1, -0.25f},
        LineCase{"A;5.", false, kSet, 1, 5.0f}, LineCase{"A;-.5", false, kSet, 1, -0.5f},
        LineCase{"A;1e", false, kSet, 1, 1.0f}, LineCase{"A;.", false, kSet, 1, 0.0f},
        LineCase{"A;1e-50", false, kSet, 1, 0.0f}, LineCase{"A; 1 2", false, kSet, 1, 12.0f},
        LineCase{"Ab;3", false, kSet, 1, 3.0f}, LineCase{"Y;-7", false, kSet, 25, -7.0f},
        LineCase{"a;7", false, kGet, 1, 7.0f}, LineCase{"y", false, kGet, 25, 0.0f},
        LineCase{"?xyz", false, CommandKind::kIdentify, 0, 0.0f},
        LineCase{"  $", false, CommandKind::kSave, 0, 0.0f},
        LineCase{"!", false, CommandKind::kReset, 0, 0.0f},
        LineCase{"\x01\x02"
                 "A;1\t",
                 false, kSet, 1, 1.0f},
        LineCase{"A;3.40282346638529E38", false, kSet, 1, FLT_MAX}));

INSTANTIATE_TEST_SUITE_P(
    Rejected, ParseCommandLineTable,
    testing::Values(LineCase{"A;e5", true, kNone, 0, 0}, LineCase{"A;-", true, kNone, 0, 0},
                    LineCase{"A;+", true, kNone, 0, 0}, LineCase{"A;1e39", true, kNone, 0, 0},
                    LineCase{"A", true, kNone, 0, 0}, LineCase{"A;", true, kNone, 0, 0},
                    LineCase{"a;", true, kNone, 0, 0}, LineCase{"?;", true, kNone, 0, 0},
                    LineCase{"A;1;2", true, kNone, 0, 0}, LineCase{"1A;5", true, kNone, 0, 0},
                    LineCase{"#", true, kNone, 0, 0}, LineCase{"@x", true, kNone, 0, 0},
                    LineCase{"", true, kNone, 0, 0}, LineCase{"12;3", true, kNone, 0, 0},
                    LineCase{"Z;1", true, kNone, 0, 0}, LineCase{"z", true, kNone, 0, 0},
                    LineCase{"A;1;", true, kNone, 0, 0}, LineCase{"A;1.5.", true, kNone, 0, 0}));

TEST_F(CommandProtocolTest, SetThenGetLogsAndReplies) {
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("A;12.5\r\n");
  protocol.ReceiveChunk("a\r\n");
  EXPECT_THAT(
      host_.transcript,
      ElementsAre("messages", "log received A;12.5\r\n", "log command number 1", "send ok\r\n",
                  "messages", "log received a\r\n", "log command number 2", "send 12.5\r\n"));
  EXPECT_EQ(table_[1], 12.5f);
}

TEST_F(CommandProtocolTest, GetRepliesWithTheSingleWidened) {
  ApplyDefaultParameters(table_);
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("s\r\no\r\nb\r\n");
  EXPECT_EQ(host_.Sent(), "0.549000024795532\r\n-20\r\n0\r\n");
  table_[1] = 12.5f;
  CommandProtocol comma = MakeProtocol(',');
  comma.ReceiveChunk("a\r\n");
  EXPECT_EQ(host_.Replies().back(), "12,5\r\n");
}

TEST_F(CommandProtocolTest, RejectedLineIsLoggedAndAnswered) {
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("A;1;2\r\n");
  protocol.ReceiveChunk("\r\n");
  EXPECT_THAT(
      host_.transcript,
      ElementsAre("messages", "log received A;1;2\r\n", "log error A;1;2\r\n", "send error\r\n",
                  "messages", "log received \r\n", "log error \r\n", "send error\r\n"));
  EXPECT_THAT(table_, testing::Each(0.0f));
}

TEST_F(CommandProtocolTest, SlotBeyondTheTableIsRejected) {
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("Z;1\r\nz\r\n?\r\n");
  EXPECT_EQ(host_.Sent(), "error\r\nerror\r\nquillane, V 1.0\r\n");
  EXPECT_THAT(host_.Logs(), testing::Contains("error Z;1\r\n"));
  EXPECT_THAT(table_, testing::Each(0.0f));
}

TEST_F(CommandProtocolTest, SaveWritesTheFileAndResetDoesNot) {
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("S;0.5\r\n  $\r\n");
  EXPECT_THAT(host_.Logs(), ElementsAre("received S;0.5\r\n", "command number 1",
                                        "received   $\r\n", "command number 3", "save parameter"));
  EXPECT_THAT(host_.Replies(), ElementsAre("ok\r\n", "ok\r\n"));
  const fs::path file = folder_ / "quillane.ini";
  ParameterTable loaded{};
  ASSERT_TRUE(LoadParameters(loaded, file, '.').found);
  EXPECT_EQ(loaded[kGainSlot], 0.5f);

  host_.transcript.clear();
  const auto written = fs::last_write_time(file);
  protocol.ReceiveChunk("!\r\n");
  EXPECT_THAT(host_.Logs(), ElementsAre("received !\r\n", "command number 5", "reset"));
  EXPECT_THAT(host_.Replies(), ElementsAre("ok\r\n"));
  EXPECT_EQ(table_[kGainSlot], 0.549f);
  EXPECT_EQ(table_[kOffsetSlot], -20.0f);
  EXPECT_EQ(fs::last_write_time(file), written);
}

// A chunk's replies go out in one send once its lines are carried out.
TEST_F(CommandProtocolTest, PipelinedLinesAreEachCarriedOutAndAnsweredTogether) {
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("A;1\r\nB;2\r\n");
  EXPECT_THAT(host_.Replies(), ElementsAre("ok\r\nok\r\n"));
  EXPECT_EQ(table_[1], 1.0f);
  EXPECT_EQ(table_[2], 2.0f);
  protocol.ReceiveChunk("a\r\n?\r\n#\r\nb\r\nc;");
  EXPECT_THAT(host_.Replies(),
              ElementsAre("ok\r\nok\r\n", "1\r\nquillane, V 1.0\r\nerror\r\n2\r\n"));
  EXPECT_EQ(host_.transcript.back(), "send 1\r\nquillane, V 1.0\r\nerror\r\n2\r\n");
  EXPECT_EQ(protocol.LineAccumulator(), "c;");
  EXPECT_EQ(std::count(host_.transcript.begin(), host_.transcript.end(), "messages"), 2);
}

TEST_F(CommandProtocolTest, RepliesAreSentBeforeTheyOutgrowTheLimit) {
  CommandProtocol protocol = MakeProtocol();
  std::string chunk;
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    chunk += "?\r\n";
    expected += kIdentifyReply;
  }
  protocol.ReceiveChunk(chunk);
  const std::vector<std::string> sends = host_.Replies();
  ASSERT_GT(sends.size(), 1u);
  for (std::size_t i = 0; i < sends.size(); ++i) {
    EXPECT_LE(sends[i].size(), kReplyBatchLimit) << i;
    if (i + 1 < sends.size()) {
      EXPECT_GT(sends[i].size(), kReplyBatchLimit - kIdentifyReply.size()) << i;
    }
  }
  EXPECT_EQ(host_.Sent(), expected);
}

// The save waits for the disk: what was answered before goes out first.
TEST_F(CommandProtocolTest, SaveSendsTheRepliesBeforeIt) {
  const fs::path file = folder_ / "quillane.ini";
  std::vector<bool> savedAtSend;
  host_.onSend = [&] { savedAtSend.push_back(fs::exists(file)); };
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("a\r\nb\r\n$\r\nc\r\n");
  EXPECT_THAT(host_.Replies(), ElementsAre("0\r\n0\r\n", "ok\r\n0\r\n"));
  EXPECT_THAT(savedAtSend, ElementsAre(false, true));
}

// A report may wait for the user; the client does not wait with it.
TEST_F(CommandProtocolTest, ErrorReportSendsTheRepliesBeforeIt) {
  host_.onLog = [](std::string_view line) {
    if (line == "command number 4") throw std::runtime_error("log failed");
  };
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("a\r\n?\r\nb\r\n");
  const auto& t = host_.transcript;
  const auto report = std::find(t.begin(), t.end(), "report log failed");
  ASSERT_NE(report, t.end());
  EXPECT_EQ(std::count(t.begin(), report, "send 0\r\n"), 1);
  EXPECT_EQ(std::count(report, t.end(), "send 0\r\n"), 1);
  EXPECT_EQ(host_.Sent(), "0\r\n0\r\n");
}

// The same byte stream gives the same log and replies however it is split.
class ChunkSplits : public CommandProtocolTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(ChunkSplits, DoNotChangeTheOutcome) {
  const std::string stream = "A;12.5\r\nb;\r\n?\r\nB;-3e2\r\nab\r\n\r\nb\n";
  RecordingHost whole;
  ParameterTable wholeTable{};
  CommandProtocol(wholeTable, whole, folder_ / "q.ini", '.').ReceiveChunk(stream);
  const std::size_t split = GetParam();
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk(std::string_view(stream).substr(0, split));
  protocol.ReceiveChunk(std::string_view(stream).substr(split));
  EXPECT_EQ(host_.Logs(), whole.Logs());
  EXPECT_EQ(host_.Sent(), whole.Sent());
  EXPECT_EQ(table_[1], 12.5f);
  EXPECT_EQ(table_[2], -300.0f);
  EXPECT_EQ(protocol.LineAccumulator(), "");
}

INSTANTIATE_TEST_SUITE_P(EveryPosition, ChunkSplits, testing::Range<std::size_t>(0, 32));

TEST_F(CommandProtocolTest, SplitCommandWaitsForItsLineFeed) {
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("A;");
  protocol.ReceiveChunk("7\r");
  EXPECT_THAT(host_.Replies(), testing::IsEmpty());
  EXPECT_EQ(protocol.LineAccumulator(), "A;7\r");
  protocol.ReceiveChunk("\n");
  EXPECT_THAT(host_.Logs(), ElementsAre("received A;7\r\n", "command number 1"));
  EXPECT_EQ(table_[1], 7.0f);
}

TEST_F(CommandProtocolTest, ProcessesMessagesBeforeScanningTheChunk) {
  CommandProtocol protocol = MakeProtocol();
  host_.onMessages = [&] { host_.transcript.push_back("table " + std::to_string(table_[1])); };
  protocol.ReceiveChunk("A;1\r\n");
  EXPECT_EQ(host_.transcript.at(1), "table 0.000000");
}

TEST_F(CommandProtocolTest, ChunkLargerThan65535Bytes) {
  CommandProtocol protocol = MakeProtocol();
  std::string chunk;
  while (chunk.size() < 100000)
    chunk += "C;4\r\nc\r\n";
  protocol.ReceiveChunk(chunk);
  std::string expected;
  for (std::size_t i = 0; i < chunk.size() / 8; ++i)
    expected += "ok\r\n4\r\n";
  EXPECT_EQ(host_.Sent(), expected);
}

TEST_F(CommandProtocolTest, OverlongLineIsCutAndRejected) {
  CommandProtocol protocol = MakeProtocol();
  const std::string flood(kMaxLineLength + 10, 'A');
  protocol.ReceiveChunk(flood.substr(0, 1000));
  protocol.ReceiveChunk(flood.substr(1000));
  protocol.ReceiveChunk(std::string(1 << 20, 'x'));
  EXPECT_EQ(protocol.LineAccumulator().size(), kMaxLineLength);
  protocol.ReceiveChunk("\r\n?\r\n");
  const std::string kept = flood.substr(0, kMaxLineLength) + "\n";
  EXPECT_THAT(host_.Logs(),
              ElementsAre("received " + kept, "error " + kept,
                          "line too long: " + std::to_string(10 + (1 << 20) + 1) + " bytes dropped",
                          "received ?\r\n", "command number 4"));
  EXPECT_EQ(host_.Sent(), "error\r\nquillane, V 1.0\r\n");
}

TEST_F(CommandProtocolTest, LineOfExactlyTheLimitIsNotCut) {
  CommandProtocol protocol = MakeProtocol();
  const std::string line = "?" + std::string(kMaxLineLength - 1, 'x') + "\n";
  protocol.ReceiveChunk(line);  // whole line inside one chunk
  protocol.ReceiveChunk(line.substr(0, 10));
  protocol.ReceiveChunk(line.substr(10));  // through the accumulator
  EXPECT_THAT(host_.Replies(), ElementsAre("quillane, V 1.0\r\n", "quillane, V 1.0\r\n"));
}

TEST_F(CommandProtocolTest, FailedSaveAnswersErrorAndLaterLinesGoOn) {
  fs::create_directories(folder_ / "quillane.ini" / "blocked");
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("A;2\r\n$\r\n?\r\n");
  EXPECT_THAT(host_.Replies(), ElementsAre("ok\r\n", "error\r\n", "quillane, V 1.0\r\n"));
  const std::vector<std::string> reports = host_.WithPrefix("report ");
  ASSERT_EQ(reports.size(), 1u);
  const auto& t = host_.transcript;
  EXPECT_LT(std::find(t.begin(), t.end(), "send error\r\n") - t.begin(),
            std::find(t.begin(), t.end(), "report " + reports[0]) - t.begin());
  EXPECT_THAT(reports[0], testing::HasSubstr("quillane.ini"));
  EXPECT_THAT(host_.Logs(), testing::Contains(reports[0]));
  EXPECT_EQ(table_[1], 2.0f);
  EXPECT_EQ(protocol.LineAccumulator(), "");
}

// The replies of a failed send are not sent again with later ones.
TEST_F(CommandProtocolTest, FailedReplyIsReportedOnceAndLaterLinesGoOn) {
  CommandProtocol protocol = MakeProtocol();
  host_.failSends = 1;
  protocol.ReceiveChunk("A;3");
  protocol.ReceiveChunk("\r\nB;4\r\n");
  EXPECT_THAT(host_.WithPrefix("report "), ElementsAre("write failed"));
  EXPECT_THAT(host_.Logs(), testing::Contains("write failed"));
  protocol.ReceiveChunk("?\r\n");
  EXPECT_THAT(host_.Replies(), ElementsAre("ok\r\nok\r\n", "quillane, V 1.0\r\n"));
  EXPECT_THAT(host_.WithPrefix("report "), ElementsAre("write failed"));
  EXPECT_EQ(table_[1], 3.0f);
  EXPECT_EQ(table_[2], 4.0f);
  EXPECT_EQ(protocol.LineAccumulator(), "");
}

TEST_F(CommandProtocolTest, FailedSendBeforeASaveDoesNotStopTheSave) {
  CommandProtocol protocol = MakeProtocol();
  host_.failSends = 1;
  protocol.ReceiveChunk("a\r\n$\r\n");
  EXPECT_THAT(host_.Replies(), ElementsAre("0\r\n", "ok\r\n"));
  EXPECT_THAT(host_.WithPrefix("report "), ElementsAre("write failed"));
  EXPECT_TRUE(fs::exists(folder_ / "quillane.ini"));
}

TEST_F(CommandProtocolTest, FailureWhileHandlingMessagesDoesNotLoseTheChunk) {
  CommandProtocol protocol = MakeProtocol();
  host_.onMessages = [] { throw std::runtime_error("handler failed"); };
  protocol.ReceiveChunk("A;5\r\n");
  EXPECT_THAT(host_.WithPrefix("report "), ElementsAre("handler failed"));
  EXPECT_EQ(table_[1], 5.0f);
}

TEST_F(CommandProtocolTest, ClearingForgetsAPartialLine) {
  CommandProtocol protocol = MakeProtocol();
  protocol.ReceiveChunk("A;9");
  protocol.ClearLineAccumulator();
  protocol.ReceiveChunk("\r\n");
  EXPECT_THAT(host_.Replies(), ElementsAre("error\r\n"));
  EXPECT_EQ(table_[1], 0.0f);
}

}  // namespace
}  // namespace app
