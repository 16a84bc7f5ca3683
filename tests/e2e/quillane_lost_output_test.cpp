// Output a virtual port's client did not take is never lost silently.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "child_process.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using ::testing::MatchesRegex;

class LostOutput : public ::testing::Test {
 protected:
  TempFolder dir{"quillane-lost"};
  fs::path link = dir / "quillane.tty";
};

TEST_F(LostOutput, AClientThatStoppedReadingIsToldInTheLogWhenItReadsAgain) {
  ChildProcess program({QUILLANE_BINARY, "--headless", "--port", "virtual", "--link", link.string(),
                        "--parameter-file", (dir / "p.ini").string()});
  ASSERT_EQ(program.ReadLine(), "com port open");
  ASSERT_TRUE(program.ReadLine());  // the client path
  SerialClient client(link.string());
  // Far more replies than the line holds, while the client reads nothing.
  std::string requests;
  for (int i = 0; i < 20000; ++i)
    requests += "?\r\n";
  requests += "A?\r\n";
  // Sent from another thread: the program's log must be read meanwhile, or
  // it would wait for us to take its log before it takes more requests.
  std::thread sender([&] { client.Send(requests); });
  // Served in order: once the last request is logged, the replies that did
  // not fit have been dropped.
  const bool lastServed = program.ReadLineStartingWith("received A?").has_value();
  sender.join();
  ASSERT_TRUE(lastServed);
  client.Discard();
  const auto lost = program.ReadLineStartingWith("output lost: ");
  ASSERT_TRUE(lost) << "no line about the lost output";
  EXPECT_THAT(*lost, MatchesRegex("output lost: [1-9][0-9]* bytes the client did not read"));
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(), 0);
  EXPECT_EQ(program.Stdout().find("output lost: "), std::string::npos) << "told once";
}

}  // namespace
}  // namespace e2e
