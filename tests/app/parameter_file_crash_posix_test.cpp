// A process killed outright while it saves the parameter file: the file is
// always the old contents or the new, whole and readable, never a mix.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "../soak_rounds.h"
#include "app/parameter_table.h"
#include "tests/support/line_io_posix.h"
#include "tests/support/temp_folder.h"

namespace app {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A child that saves two tables in turn, forever, and writes one byte to
// `done` after each save. It never returns.
[[noreturn]] void SaveForever(const fs::path& file, const ParameterTable& a,
                              const ParameterTable& b, int done) {
  try {
    for (bool first = true;; first = !first) {
      SaveParameters(first ? b : a, file, '.');
      const char saved = 's';
      if (::write(done, &saved, 1) != 1) ::_exit(2);
    }
  } catch (...) {
    ::_exit(1);
  }
}

class SaveKilledSoak : public testing::Test {
 protected:
  void SetUp() override {
    for (std::size_t slot = 0; slot < kParameterCount; ++slot) {
      a_[slot] = static_cast<float>(slot) + 0.25f;
      b_[slot] = -static_cast<float>(slot) * 1e6f - 0.5f;
    }
  }

  // Temporary files left beside the parameter file, by the process id in
  // their name.
  std::map<std::string, int> TemporaryFilesByProcess() const {
    std::map<std::string, int> byProcess;
    const std::string prefix = file_.filename().string() + ".tmp.";
    for (const auto& entry : fs::directory_iterator(folder_.Path())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) != 0) continue;
      const std::string rest = name.substr(prefix.size());
      ++byProcess[rest.substr(0, rest.find('.'))];
    }
    return byProcess;
  }

  test_support::TempFolder folder_{"quillane-save-killed"};
  fs::path file_ = folder_ / "quillane.ini";
  ParameterTable a_{};
  ParameterTable b_{};
};

TEST_F(SaveKilledSoak, LeavesTheOldOrTheNewFileWholeEveryTime) {
  SaveParameters(a_, file_, '.');
  const std::string textA = ReadWhole(file_);
  SaveParameters(b_, file_, '.');
  const std::string textB = ReadWhole(file_);
  SaveParameters(a_, file_, '.');
  ASSERT_EQ(ReadWhole(file_), textA);

  const int rounds = soak::Rounds(20);
  for (int round = 0; round < rounds; ++round) {
    int done[2];
    ASSERT_EQ(::pipe2(done, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(done[0]);
      SaveForever(file_, a_, b_, done[1]);
    }
    ::close(done[1]);
    // Let it finish a varying number of saves, then kill it in the next.
    const std::size_t saves = 1 + static_cast<std::size_t>(round % 4);
    const bool saving = test_support::ReadCount(done[0], saves).size() == saves;
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(done[0]);
    ASSERT_TRUE(saving) << "the child stopped saving: status " << status;
    ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round;

    const std::string text = ReadWhole(file_);
    ASSERT_TRUE(text == textA || text == textB) << "round " << round << ":\n" << text;
    ParameterTable loaded{};
    const ParameterLoad load = LoadParameters(loaded, file_, '.');
    EXPECT_TRUE(load.found);
    EXPECT_TRUE(load.warnings.empty());
    EXPECT_EQ(loaded, text == textA ? a_ : b_);
  }

  // A killed save can leave its own temporary file, one at most; the next
  // completed save removes every such leftover of a dead process.
  const auto leftovers = TemporaryFilesByProcess();
  RecordProperty("killed_mid_save", static_cast<int>(leftovers.size()));
  EXPECT_LE(leftovers.size(), static_cast<std::size_t>(rounds));
  for (const auto& [process, count] : leftovers)
    EXPECT_EQ(count, 1) << "process " << process;
  SaveParameters(b_, file_, '.');
  EXPECT_EQ(ReadWhole(file_), textB);
  EXPECT_TRUE(TemporaryFilesByProcess().empty());
}

}  // namespace
}  // namespace app
