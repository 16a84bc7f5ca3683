// The built program with line faults, seen from a client on its virtual port.
// Each test sends commands whose replies are known and checks what arrives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIdentify = "quillane, V 1.0\r\n";

class Faulty : public ::testing::Test {
 protected:
  void TearDown() override {
    if (HasFailure()) ReportProgramOutput(program);
  }
  // Starts the program with `options` and attaches the client; returns the
  // seed line when the program logs one first.
  std::string Start(const std::vector<std::string>& options) {
    std::vector<std::string> args = {
        QUILLANE_BINARY, "--headless",  "--port",           "virtual",
        "--link",        link.string(), "--parameter-file", parameterFile.string()};
    args.insert(args.end(), options.begin(), options.end());
    program.emplace(args);
    std::string seedLine;
    auto first = program->ReadLine();
    if (first && first->rfind("fault seed ", 0) == 0) {
      seedLine = *first;
      first = program->ReadLine();
    }
    EXPECT_EQ(first, "com port open");
    const auto path = program->ReadLine();
    EXPECT_TRUE(path && path->rfind("virtual port /dev/", 0) == 0) << path.value_or("(none)");
    client.emplace(link.string());
    return seedLine;
  }

  // Ends the program and returns its log lines that start with "fault ".
  std::vector<std::string> FaultLines() {
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0);
    std::vector<std::string> lines;
    std::string line;
    for (const char c : Seen()) {
      if (c != '\n') {
        line += c;
        continue;
      }
      if (line.rfind("fault ", 0) == 0) lines.push_back(line);
      line.clear();
    }
    return lines;
  }

  std::string Seen() const {
    std::string seen;
    for (const std::string& line : program->LinesSeen())
      seen += line + "\n";
    return seen + program->Stdout();
  }

  TempFolder dir{"quillane-faults"};
  fs::path link = dir / "quillane.tty";
  fs::path parameterFile = dir / "quillane.ini";
  std::optional<ChildProcess> program;
  std::optional<SerialClient> client;
};

using Lines = std::vector<std::string>;

TEST_F(Faulty, ADroppedReplyIsCarriedOutButNotAnswered) {
  Start({"--fault", "drop:at=2"});
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), kIdentify);
  client->Send("A;7\r\n");  // reply 2: dropped
  client->Send("a\r\n");
  EXPECT_EQ(client->Reply(), "7\r\n");
  EXPECT_EQ(FaultLines(), (Lines{"fault drop reply 2"}));
}

TEST_F(Faulty, ATruncatedReplyRunsIntoTheNextOne) {
  Start({"--fault", "truncate:at=1"});
  client->Send("?\r\n");
  client->Send("a\r\n");
  EXPECT_EQ(client->Reply(), "quillane0\r\n");
  EXPECT_EQ(FaultLines(), (Lines{"fault truncate reply 1"}));
}

TEST_F(Faulty, ACorruptedReplyDiffersInOneByte) {
  Start({"--fault", "corrupt:every=1", "--seed", "3"});
  client->Send("?\r\n");
  const std::string reply = client->Bytes(17);
  ASSERT_EQ(reply.size(), 17u);
  int changed = 0;
  for (std::size_t i = 0; i < reply.size(); ++i)
    changed += reply[i] != kIdentify[i];
  EXPECT_EQ(changed, 1) << reply;
}

TEST_F(Faulty, NoiseComesBeforeTheReply) {
  Start({"--fault", "noise:at=1,bytes=5"});
  client->Send("?\r\n");
  const std::string bytes = client->Bytes(5 + 17);
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(5), kIdentify);
  EXPECT_EQ(FaultLines(), (Lines{"fault noise reply 1"}));
}

TEST_F(Faulty, ADuplicatedReplyComesTwice) {
  Start({"--fault", "duplicate:at=1"});
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), kIdentify);
  EXPECT_EQ(client->Reply(), kIdentify);
  client->Send("a\r\n");
  EXPECT_EQ(client->Reply(), "0\r\n");
}

TEST_F(Faulty, ADelayedReplyHoldsBackTheNextAnswers) {
  Start({"--fault", "delay:at=1,ms=300"});
  client->Send("?\r\n");
  client->Send("A;2\r\n");
  client->Send("a\r\n");
  EXPECT_EQ(client->Reply(), kIdentify);
  EXPECT_EQ(client->Reply(), "ok\r\n");
  EXPECT_EQ(client->Reply(), "2\r\n");
  EXPECT_EQ(FaultLines(), (Lines{"fault delay reply 1"}));
}

TEST_F(Faulty, AStallAnswersWhatWaitedOnTheLineAfterwards) {
  Start({"--fault", "stall:at=1,ms=300"});
  client->Send("?\r\n");
  EXPECT_TRUE(program->ReadLineStartingWith("fault stall reply 1"));
  client->Send("B;4\r\n");  // waits on the line until the stall ends
  client->Send("b\r\n");
  EXPECT_EQ(client->Reply(), kIdentify);
  EXPECT_EQ(client->Reply(), "ok\r\n");
  EXPECT_EQ(client->Reply(), "4\r\n");
}

TEST_F(Faulty, ALineDelayKeepsTheOrderOfEverything) {
  Start({"--line-delay", "200"});
  client->Send("?\r\nA;5\r\n");
  client->Send("a\r\n");
  EXPECT_EQ(client->Reply(), kIdentify);
  EXPECT_EQ(client->Reply(), "ok\r\n");
  EXPECT_EQ(client->Reply(), "5\r\n");
  EXPECT_TRUE(FaultLines().empty()) << "a line delay alone logs nothing";
}

TEST_F(Faulty, ReadingsAreFaultedOnTheirOwnCount) {
  Start({"--simulate", "--fault", "duplicate:at=1,on=readings"});
  EXPECT_EQ(client->Reply(), "-17.8040008544922\r\n");
  EXPECT_EQ(client->Reply(), "-17.8040008544922\r\n");
  EXPECT_THAT(client->Reply(), ::testing::StartsWith("-15.6"));
  EXPECT_EQ(FaultLines(), (Lines{"fault duplicate reading 1"}));
}

// The cable is pulled where reply 2 would go out: the client's line ends,
// the device goes on, and a client that opens the link again is served.
TEST_F(Faulty, AHangupEndsTheClientsLineAndTheNextClientIsServed) {
  Start({"--fault", "hangup:at=2"});
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), kIdentify);
  client->Send("A;3\r\n");  // reply 2
  EXPECT_TRUE(client->HungUp());
  EXPECT_TRUE(program->ReadLineStartingWith("fault hangup reply 2"));
  const auto moved = program->ReadLineStartingWith("virtual port /dev/");
  ASSERT_TRUE(moved);
  EXPECT_EQ(fs::read_symlink(link).string(), moved->substr(13)) << "the link follows";
  client.emplace(link.string());
  client->Send("a\r\n");
  EXPECT_EQ(client->Reply(), "3\r\n") << "the command whose reply was lost was carried out";
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), kIdentify);
  EXPECT_EQ(FaultLines(), (Lines{"fault hangup reply 2"}));
}

// With line timing a write takes its time on the line: a reply longer than
// the write timeout lets through what the rate carries in that time, and
// the rest is never sent, as from a UART.
struct ShortWrite {
  const char* baud;
  const char* arrives;  // of the 17-byte identification, in 5 ms
};

class LineTiming : public Faulty, public ::testing::WithParamInterface<ShortWrite> {
 protected:
  std::string Settings() {
    const fs::path file = dir / "timeouts.ini";
    std::ofstream(file) << "[ComPort1]\nTimeouts.WriteTotalMultiplier=0\n"
                           "Timeouts.WriteTotalConstant=5\n";
    return file.string();
  }
};

TEST_P(LineTiming, AReplyLongerThanItsWriteTimeoutEndsWhereTheRateLeavesIt) {
  Start({"--line-timing", "--baud", GetParam().baud, "--port-settings", Settings()});
  client->Send("?\r\n");
  const std::string arrives = GetParam().arrives;
  EXPECT_EQ(client->Bytes(arrives.size()), arrives);
  client->Send("a\r\n");
  EXPECT_EQ(client->Bytes(1), "0") << "nothing more of the cut reply, then the next one";
}

INSTANTIATE_TEST_SUITE_P(Rates, LineTiming,
                         ::testing::Values(ShortWrite{"2400", "q"},  // 240 bytes a second
                                           ShortWrite{"9600", "quil"},
                                           ShortWrite{"19200", "quillane,"}));

TEST_F(Faulty, WithoutLineTimingTheSameReplyGoesOutWhole) {
  const fs::path file = dir / "timeouts.ini";
  std::ofstream(file) << "[ComPort1]\nTimeouts.WriteTotalMultiplier=0\n"
                         "Timeouts.WriteTotalConstant=5\n";
  Start({"--port-settings", file.string()});
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), kIdentify);
}

// A run without --seed logs the seed it picked; replaying it with that seed
// gives the same faults on the same replies, byte for byte.
TEST_F(Faulty, ARunIsReplayedByItsSeed) {
  const std::vector<std::string> faults = {"--fault", "corrupt:p=0.5", "--fault", "corrupt:p=0.25"};
  auto run = [&](std::vector<std::string> options) {
    options.insert(options.end(), faults.begin(), faults.end());
    const std::string seedLine = Start(options);
    std::vector<std::string> replies;
    for (int i = 0; i < 24; ++i) {
      client->Send("?\r\n");
      replies.push_back(client->Bytes(17));
    }
    replies.push_back(seedLine);
    const Lines lines = FaultLines();
    replies.insert(replies.end(), lines.begin(), lines.end());
    client.reset();
    return replies;
  };
  const std::vector<std::string> first = run({});
  const std::string seedLine = first[24];
  ASSERT_THAT(seedLine, ::testing::StartsWith("fault seed "));
  std::vector<std::string> replay = run({"--seed", seedLine.substr(11)});
  EXPECT_EQ(replay[24], "") << "a given seed is not logged";
  replay[24] = seedLine;
  EXPECT_EQ(first, replay);
  EXPECT_GT(first.size(), 25u) << "some replies were hit";
}

TEST(FaultOptions, BadSpecsAreUsageErrorsThatNameTheBadPart) {
  const std::vector<std::vector<std::string>> cases = {
      {"--fault", "dorp:every=1"},
      {"--fault", "drop:every=2,p=0.5"},
      {"--fault", "delay:every=1"},
      {"--fault", "drop:p=2"},
      {"--fault", "drop:every=1,colour=red"},
      {"--fault", "hangup:at=1", "--port", "COM1"},
      {"--fault", "hangup:at=1", "--port", "loop"},
      {"--line-delay", "-5"},
  };
  const std::vector<std::string> named = {
      "'dorp'",   "two selectors",           "needs ms=MS", "p=2", "'colour'",
      "real tty", "virtual or network port", "--line-delay"};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    std::vector<std::string> args = {QUILLANE_BINARY, "--headless"};
    args.insert(args.end(), cases[i].begin(), cases[i].end());
    ChildProcess program(args);
    EXPECT_EQ(program.Wait(), 2) << cases[i][0];
    EXPECT_THAT(program.Stderr(), ::testing::HasSubstr(named[i])) << cases[i][0];
    EXPECT_EQ(program.Stdout(), "");
  }
}

}  // namespace
}  // namespace e2e
