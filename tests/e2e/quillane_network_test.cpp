// The built program serving a network port, driven by Debian's pyserial
// through its socket:// and rfc2217:// URLs (tests/e2e/pyserial_client.py).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "child_process.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Debian's interpreter, which has python3-serial (a pyenv one may not).
constexpr const char* kPython = "/usr/bin/python3";

class NetworkServed : public ::testing::Test {
 protected:
  void TearDown() override {
    if (HasFailure()) ReportProgramOutput(program);
  }
  // Starts the program on a port the system picks; returns the client URL
  // it logs.
  std::string Start(const std::string& kind, bool simulate = false,
                    const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {QUILLANE_BINARY, "--headless",       "--port",
                                     kind + ":0",     "--parameter-file", parameterFile.string()};
    if (simulate) args.push_back("--simulate");
    args.insert(args.end(), options.begin(), options.end());
    program.emplace(args);
    EXPECT_EQ(program->ReadLine(), "com port open");
    const std::string prefix = "network port ";
    const std::string line = program->ReadLine().value_or("");
    EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
    return line.substr(std::min(line.size(), prefix.size()));
  }

  // Runs one scenario of the client; its printed lines.
  std::string Client(const std::string& url, const std::string& scenario) {
    ChildProcess client(
        {kPython, std::string(QUILLANE_E2E_DIR) + "/pyserial_client.py", url, scenario});
    EXPECT_EQ(client.Wait(), 0) << client.Stderr();
    return client.Stdout();
  }

  TempFolder dir{"quillane-e2e-net"};
  fs::path parameterFile = dir.Path() / "quillane.ini";
  std::optional<ChildProcess> program;
};

constexpr const char* kBasicReplies =
    "b'quillane, V 1.0\\r\\n'\n"
    "b'0\\r\\n'\n"
    "b'ok\\r\\n'\n"
    "b'12.5\\r\\n'\n"
    "b'ok\\r\\n'\n"
    "b'ok\\r\\n'\n"
    "b'ok\\r\\n'\n"
    "b'error\\r\\n'\n"
    "b'error\\r\\n'\n"
    "b'0\\r\\n'\n";

TEST_F(NetworkServed, RawIdentifySetGetSaveResetAndBadLines) {
  const std::string url = Start("tcp");
  ASSERT_EQ(url.rfind("socket://127.0.0.1:", 0), 0u) << url;
  EXPECT_EQ(Client(url, "basic"), kBasicReplies);
  std::stringstream contents;
  contents << std::ifstream(parameterFile).rdbuf();
  EXPECT_NE(contents.str().find("par S=0.5"), std::string::npos);
  EXPECT_TRUE(program->ReadLineStartingWith("reset"));
}

TEST_F(NetworkServed, Rfc2217IdentifySetGetSaveResetAndBadLines) {
  const std::string url = Start("rfc2217");
  ASSERT_EQ(url.rfind("rfc2217://127.0.0.1:", 0), 0u) << url;
  EXPECT_EQ(Client(url, "basic"), kBasicReplies) << "0xFF and CR LF pass the telnet layer";
}

TEST_F(NetworkServed, PipelinedLinesAreAnsweredInOrder) {
  const std::string url = Start("tcp");
  EXPECT_EQ(Client(url, "pipelined"),
            "b'ok\\r\\n'\nb'ok\\r\\n'\nb'1\\r\\n'\nb'2.5\\r\\n'\nb'quillane, V 1.0\\r\\n'\n");
}

TEST_F(NetworkServed, ReadingsReachTheClient) {
  const std::string url = Start("tcp", /*simulate=*/true);
  const std::string readings = Client(url, "readings");
  EXPECT_EQ(readings.rfind("b'-", 0), 0u) << readings;
  EXPECT_EQ(std::count(readings.begin(), readings.end(), '\n'), 2) << readings;
}

TEST_F(NetworkServed, TwentyReconnectsAreEachAnswered) {
  EXPECT_EQ(Client(Start("tcp"), "reconnect"), "answered 20\n");
}

TEST_F(NetworkServed, Rfc2217ReconnectsToo) {
  EXPECT_EQ(Client(Start("rfc2217"), "reconnect"), "answered 20\n");
}

TEST_F(NetworkServed, AHangupClosesTheConnectionAndTheClientReconnects) {
  const std::string url =
      Start("tcp", false, {"--fault", "hangup:at=2", "--seed", "1", "--line-timing"});
  EXPECT_EQ(Client(url, "hangup"), "b'quillane, V 1.0\\r\\n'\nhung up\nb'3\\r\\n'\n");
  EXPECT_TRUE(program->ReadLineStartingWith("fault hangup reply 2"));
}

TEST_F(NetworkServed, ASecondClientIsRefusedAndLogged) {
  const std::string url = Start("tcp");
  EXPECT_EQ(Client(url, "second"),
            "b'quillane, V 1.0\\r\\n'\nsecond refused\nb'quillane, V 1.0\\r\\n'\n");
  EXPECT_TRUE(program->ReadLineStartingWith("refused network client 127.0.0.1:"));
}

TEST_F(NetworkServed, Rfc2217SecondClientIsRefusedToo) {
  const std::string url = Start("rfc2217");
  EXPECT_EQ(Client(url, "second"),
            "b'quillane, V 1.0\\r\\n'\nsecond refused\nb'quillane, V 1.0\\r\\n'\n");
}

TEST_F(NetworkServed, Rfc2217BaudRateIsTakenAndLogged) {
  const std::string url = Start("rfc2217");
  EXPECT_EQ(Client(url, "baudrate"),
            "b'quillane, V 1.0\\r\\n'\nbaudrate 115200\nb'quillane, V 1.0\\r\\n'\n");
  EXPECT_EQ(program->ReadLineStartingWith("rfc2217 client asks for"),
            "rfc2217 client asks for 115200 baud, 8 data bits, no parity, 1 stop bit, "
            "no flow control");
}

TEST_F(NetworkServed, ANonLoopbackHostWarnsAtStart) {
  program.emplace(std::vector<std::string>{QUILLANE_BINARY, "--headless", "--port", "tcp:0.0.0.0:0",
                                           "--parameter-file", parameterFile.string()});
  EXPECT_EQ(program->ReadLine(), "com port open");
  const std::string url = program->ReadLine().value_or("").substr(13);
  EXPECT_EQ(program->ReadLine(),
            "warning: anyone who can reach " + url + " can talk to the device");
}

TEST_F(NetworkServed, AnAddressInUseFailsToOpen) {
  const std::string url = Start("tcp");
  ChildProcess second({QUILLANE_BINARY, "--headless", "--port",
                       "tcp:" + url.substr(url.rfind(':') + 1), "--parameter-file",
                       parameterFile.string()});
  EXPECT_EQ(second.Wait(), 1);
  EXPECT_THAT(second.Stderr(), ::testing::HasSubstr("error: Unable to open com port (Error: 5)"))
      << "in use";
}

}  // namespace
}  // namespace e2e
