// Port settings from a file: loaded onto the port before it opens, and saved.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <termios.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "child_process.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::string ReadFile(const fs::path& path) {
  std::stringstream contents;
  contents << std::ifstream(path).rdbuf();
  return contents.str();
}

// Whether this kernel's pseudo-terminals keep 7 data bits with even parity
// (some silently hold every pair at 8 bits, no parity).
bool PseudoTerminalsKeepParity() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  bool kept = false;
  if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARODD)) | CS7 | PARENB;
    kept = ::tcsetattr(slave, TCSANOW, &t) == 0 && ::tcgetattr(slave, &t) == 0 &&
           (t.c_cflag & CSIZE) == CS7 && (t.c_cflag & PARENB) != 0;
  }
  if (slave >= 0) ::close(slave);
  ::close(master);
  return kept;
}

class PortSettings : public ::testing::Test {
 protected:
  TempFolder dir{"quillane-settings"};
  fs::path parameterFile = dir / "quillane.ini";
  fs::path settings = dir / "port.ini";
};

TEST_F(PortSettings, ParityAndDataBitsFromTheFileReachTheTerminal) {
  if (!PseudoTerminalsKeepParity()) {
    GTEST_SKIP() << "this kernel's pseudo-terminals keep no parity or 7 data bits";
  }
  // A pseudo-terminal pair: the program opens the slave as its port; the
  // test holds the slave open from before (an exclusive open does not shut
  // out a descriptor that exists) and reads the line settings back on it.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  const int slaveSide = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(slaveSide, 0);
  std::ofstream(settings) << "[ComPort1]\nParity=Even\nDataBits=7\n";

  ChildProcess program({QUILLANE_BINARY, "--headless", "--port", slave, "--port-settings",
                        settings.string(), "--parameter-file", parameterFile.string()});
  ASSERT_EQ(program.ReadLine(), "com port open");
  termios line{};
  ASSERT_EQ(::tcgetattr(slaveSide, &line), 0);
  EXPECT_TRUE(line.c_cflag & PARENB);
  EXPECT_FALSE(line.c_cflag & PARODD);
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
  ::close(slaveSide);
  ::close(master);
}

TEST_F(PortSettings, MissingFileIsAUsageError) {
  ChildProcess program(
      {QUILLANE_BINARY, "--headless", "--port-settings", (dir / "missing.ini").string()});
  EXPECT_EQ(program.Wait(), 2);
  EXPECT_THAT(program.Stderr(), HasSubstr("missing.ini"));
}

TEST_F(PortSettings, SaveWritesAllSixGroupsAndExits) {
  const fs::path saved = dir / "saved.ini";
  ChildProcess program({QUILLANE_BINARY, "--save-port-settings", saved.string(), "--baud", "250000",
                        "--port", "/dev/ttyUSB0"});
  EXPECT_EQ(program.Wait(), 0);
  const std::string text = ReadFile(saved);
  EXPECT_THAT(text, HasSubstr("[ComPort1]"));
  for (const char* key : {"Port=/dev/ttyUSB0", "BaudRate=Custom", "CustomBaudRate=250000",
                          "Parity=None", "Buffer.InputSize=1024", "Timeouts.WriteTotalConstant",
                          "FlowControl.ControlDTR", "Parity.Check"}) {
    EXPECT_THAT(text, HasSubstr(key));
  }
}

TEST_F(PortSettings, SavedSettingsLoadBackUnchanged) {
  std::ofstream(settings) << "[ComPort1]\nParity=Odd\nStopBits=2\nTimeouts.ReadTotalConstant=5\n";
  const fs::path first = dir / "first.ini";
  const fs::path second = dir / "second.ini";
  ChildProcess save1({QUILLANE_BINARY, "--port-settings", settings.string(), "--save-port-settings",
                      first.string()});
  ASSERT_EQ(save1.Wait(), 0);
  ChildProcess save2({QUILLANE_BINARY, "--port-settings", first.string(), "--save-port-settings",
                      second.string()});
  ASSERT_EQ(save2.Wait(), 0);
  EXPECT_EQ(ReadFile(first), ReadFile(second));
  EXPECT_THAT(ReadFile(first), HasSubstr("Parity=Odd"));
  EXPECT_THAT(ReadFile(first), HasSubstr("Timeouts.ReadTotalConstant=5"));
}

TEST_F(PortSettings, TemplateNamesThePortThatOpensAndLoadsBackToOpenIt) {
  const fs::path saved = dir / "template.ini";
  ChildProcess save({QUILLANE_BINARY, "--save-port-settings", saved.string()});
  ASSERT_EQ(save.Wait(), 0);
  EXPECT_THAT(ReadFile(saved), HasSubstr("Port=virtual"));

  ChildProcess program({QUILLANE_BINARY, "--headless", "--port-settings", saved.string(),
                        "--parameter-file", parameterFile.string()});
  EXPECT_EQ(program.ReadLine(), "com port open");
  EXPECT_THAT(program.ReadLine().value_or(""), ::testing::StartsWith("virtual port /dev/"));
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
}

TEST_F(PortSettings, TemplateKeepsThePortOfTheFileItWasMadeFrom) {
  std::ofstream(settings) << "[ComPort1]\nPort=/dev/ttyUSB3\n";
  const fs::path saved = dir / "template.ini";
  ChildProcess save({QUILLANE_BINARY, "--port-settings", settings.string(), "--save-port-settings",
                     saved.string()});
  ASSERT_EQ(save.Wait(), 0);
  EXPECT_THAT(ReadFile(saved), HasSubstr("Port=/dev/ttyUSB3"));
}

}  // namespace
}  // namespace e2e
