// The program's command line: exit statuses and messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "child_process.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome Quillane(std::vector<std::string> args, const std::vector<std::string>& unset = {}) {
  args.insert(args.begin(), QUILLANE_BINARY);
  ChildProcess program(args, unset);
  const int status = program.Wait();
  return {status, program.Stdout(), program.Stderr()};
}

TEST(CommandLine, HelpAndVersion) {
  const Outcome help = Quillane({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--headless", "--port", "--baud", "--simulate", "--link", "--parameter-file"}) {
    EXPECT_THAT(help.out, HasSubstr(option));
  }
  const Outcome version = Quillane({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "quillane 1.0\n");
}

TEST(CommandLine, UsageErrorsEndWithStatus2) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"--bogus"},
                                             {"--headless", "--baud", "fast"},
                                             {"--headless", "--baud", "0"},
                                             {"--headless", "--baud", "-9600"},
                                             {"--headless", "--port", ""},
                                             {"--link", "x.tty"},
                                             {"--headless", "--port", "COM1", "--link", "x.tty"},
                                             {"extra"}}) {
    const Outcome run = Quillane(args);
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_NE(run.err, "") << args.back();
  }
}

class WithTempDir : public ::testing::Test {
 protected:
  TempFolder dir{"quillane-cli"};
};

TEST_F(WithTempDir, PortThatDoesNotOpenEndsWithStatus1AndTheMessage) {
  const Outcome run = Quillane({"--headless", "--port", (dir / "no-such-tty").string(),
                                "--parameter-file", (dir / "p.ini").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("Unable to open com port (Error: 2)"));
}

TEST_F(WithTempDir, PortFailureNamesTheDeviceAndTheSystemsReason) {
  const fs::path missing = dir / "no-such-tty";
  const Outcome run = Quillane(
      {"--headless", "--port", missing.string(), "--parameter-file", (dir / "p.ini").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("error: Unable to open com port (Error: 2): " + missing.string() +
                                 ": No such file or directory\n"));
  const Outcome notSerial =
      Quillane({"--headless", "--port", "/dev/null", "--parameter-file", (dir / "p.ini").string()});
  EXPECT_EQ(notSerial.status, 1);
  EXPECT_THAT(
      notSerial.err,
      HasSubstr("error: Unable to open com port (Error: 31): /dev/null: not a serial device"));
}

TEST_F(WithTempDir, LinkOntoSomethingElseIsRefusedAndLeftAlone) {
  const fs::path taken = dir / "taken";
  std::ofstream(taken) << "keep me";
  const Outcome run = Quillane(
      {"--headless", "--link", taken.string(), "--parameter-file", (dir / "p.ini").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr(taken.string()));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(taken)));
}

TEST_F(WithTempDir, WindowWithoutDisplayPointsToHeadless) {
  const Outcome run = Quillane({"--parameter-file", (dir / "p.ini").string()},
                               {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("--headless"));
}

TEST_F(WithTempDir, WindowWithAnUnreachableDisplayPointsToHeadless) {
  const Outcome run = Quillane({"--parameter-file", (dir / "p.ini").string(), "-display", ":97"},
                               {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
  EXPECT_EQ(run.status, 2);
}

}  // namespace
}  // namespace e2e
