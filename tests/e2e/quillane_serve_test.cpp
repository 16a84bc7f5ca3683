// The built program serving a virtual port, driven by a client on its link.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "child_process.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class Served : public ::testing::Test {
 protected:
  void TearDown() override {
    if (HasFailure()) ReportProgramOutput(program);
  }

  // Starts the program and waits until it names its client path.
  void Start(bool simulate = false) {
    std::vector<std::string> args = {
        QUILLANE_BINARY, "--headless",  "--port",           "virtual",
        "--link",        link.string(), "--parameter-file", parameterFile.string()};
    if (simulate) args.push_back("--simulate");
    program.emplace(args);
    ASSERT_EQ(program->ReadLine(), "com port open");
    const auto path = program->ReadLine();
    ASSERT_TRUE(path && path->rfind("virtual port /dev/", 0) == 0) << path.value_or("(none)");
    ASSERT_EQ(fs::read_symlink(link).string(), path->substr(13));
    client.emplace(link.string());
  }

  TempFolder dir{"quillane-e2e"};
  fs::path link = dir / "quillane.tty";
  fs::path parameterFile = dir / "quillane.ini";
  std::optional<ChildProcess> program;
  std::optional<SerialClient> client;
};

TEST_F(Served, IdentifiesAndSetsAndGets) {
  Start();
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), "quillane, V 1.0\r\n");
  client->Send("A;12.5\r\n");
  EXPECT_EQ(client->Reply(), "ok\r\n");
  client->Send("a\r\n");
  EXPECT_EQ(client->Reply(), "12.5\r\n");
  client->Send("s\r\n");
  EXPECT_EQ(client->Reply(), "0.549000024795532\r\n");
  client->Send("A;\r\n");
  EXPECT_EQ(client->Reply(), "error\r\n");
  EXPECT_TRUE(program->ReadLineStartingWith("received A;12.5\\r\\n"));
  EXPECT_EQ(program->ReadLine(), "command number 1");
}

TEST_F(Served, PipelinedLinesAreAnsweredInOrder) {
  Start();
  client->Send("A;1\r\nB;2,5\r\na\r\nb\r\n?\r\n");
  EXPECT_EQ(client->Reply(), "ok\r\n");
  EXPECT_EQ(client->Reply(), "ok\r\n");
  EXPECT_EQ(client->Reply(), "1\r\n");
  EXPECT_EQ(client->Reply(), "2.5\r\n");
  EXPECT_EQ(client->Reply(), "quillane, V 1.0\r\n");
}

TEST_F(Served, SaveWritesTheParameterFile) {
  Start();
  ASSERT_TRUE(fs::exists(parameterFile)) << "created with the defaults at start";
  client->Send("S;0.5\r\n$\r\n");
  EXPECT_EQ(client->Reply(), "ok\r\n");
  EXPECT_EQ(client->Reply(), "ok\r\n");
  std::stringstream contents;
  contents << std::ifstream(parameterFile).rdbuf();
  EXPECT_THAT(contents.str(), HasSubstr("[parameter]"));
  EXPECT_THAT(contents.str(), HasSubstr("par S=0.5"));
  EXPECT_THAT(contents.str(), HasSubstr("par O=-20"));
  EXPECT_TRUE(program->ReadLineStartingWith("save parameter"));
}

TEST_F(Served, ReadingsComeUnaskedAndCommandsAreAnsweredBetweenThem) {
  Start(/*simulate=*/true);
  EXPECT_EQ(client->Reply(), "-17.8040008544922\r\n");
  EXPECT_EQ(program->ReadLineStartingWith("raw  "), "raw  4 T -17.80\u00B0C");
  // A request is answered as soon as it is taken, before the next reading.
  // Readings may come before it is taken (a slow test can miss the
  // second's gap): the log says how many, and those come first on the line.
  client->Send("?\r\n");
  std::size_t readingsFirst = 0;
  for (auto line = program->ReadLine(); line != "received ?\\r\\n"; line = program->ReadLine()) {
    ASSERT_TRUE(line) << "the request was not logged";
    if (line->starts_with("raw  ")) ++readingsFirst;
  }
  EXPECT_EQ(program->ReadLine(), "command number 4");
  const char* const kNextReadings[] = {"-15.6", "-13.4", "-11.2", "-9.02", "-6.82", "-4.62"};
  ASSERT_LT(readingsFirst, std::size(kNextReadings));
  for (std::size_t i = 0; i < readingsFirst; ++i)
    EXPECT_THAT(client->Reply(), ::testing::StartsWith(kNextReadings[i]));
  EXPECT_EQ(client->Reply(), "quillane, V 1.0\r\n");
  EXPECT_THAT(client->Reply(), ::testing::StartsWith(kNextReadings[readingsFirst]));
}

TEST_F(Served, SigtermClosesThePortRemovesTheLinkAndExitsCleanly) {
  Start();
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), "quillane, V 1.0\r\n");
  program->Signal(SIGTERM);
  EXPECT_EQ(program->Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_FALSE(fs::exists(fs::path(link) += ".lock"));
  EXPECT_THAT(program->Stderr(), ::testing::Not(HasSubstr("error")));
}

TEST_F(Served, SigintToo) {
  Start(/*simulate=*/true);
  program->Signal(SIGINT);
  EXPECT_EQ(program->Wait(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(Served, AnExistingLinkIsReplaced) {
  fs::create_symlink("/nonexistent", link);
  Start();
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), "quillane, V 1.0\r\n");
}

TEST_F(Served, ASecondProgramOnTheSameLinkIsRefusedAndNamesTheFirst) {
  Start();
  ChildProcess second({QUILLANE_BINARY, "--headless", "--link", link.string(), "--parameter-file",
                       (dir / "second.ini").string()});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_THAT(second.Stderr(), HasSubstr(link.string()));
  EXPECT_THAT(second.Stderr(), HasSubstr("process " + std::to_string(program->Pid())));
  EXPECT_EQ(second.Stdout(), "");
  // The first one still serves, on its own link.
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), "quillane, V 1.0\r\n");
}

TEST_F(Served, TheLinkOfAProgramThatIsGoneIsTakenOver) {
  Start();
  program->Signal(SIGKILL);
  program->Wait();
  client.reset();
  ASSERT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  Start();
  client->Send("?\r\n");
  EXPECT_EQ(client->Reply(), "quillane, V 1.0\r\n");
}

TEST_F(Served, StderrSaysWhereThePortAndTheParameterFileAre) {
  Start();
  const std::string clientPath = fs::read_symlink(link).string();
  program->Signal(SIGTERM);
  EXPECT_EQ(program->Wait(), 0);
  EXPECT_EQ(program->Stderr(), "quillane: parameter file " + parameterFile.string() +
                                   "\nquillane: port virtual open on " + clientPath +
                                   ", 9600 baud 8N1, flow control None\n");
  // The log on stdout is unchanged by them.
  EXPECT_THAT(program->Stdout(), ::testing::Not(HasSubstr("quillane:")));
}

}  // namespace
}  // namespace e2e
