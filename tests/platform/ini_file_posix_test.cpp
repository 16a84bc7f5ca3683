// INI files on POSIX: the system's error numbers, a write cut short by a
// file-size limit, and the mode and links kept by a replace.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>

#include "ini_file_fixture.h"
#include "platform/ini_file.h"

namespace platform {
namespace {

TEST_F(IniFileTest, UnreadableFileIsAnErrorNotAnEmptyFile) {
  fs::create_directory(path_);  // reading a folder fails with EISDIR
  try {
    IniFile ini(path_);
    FAIL() << "no error";
  } catch (const IniFileError& error) {
    EXPECT_EQ(error.Path(), path_);
    EXPECT_EQ(error.SystemError(), EISDIR);
    EXPECT_THAT(error.what(), testing::HasSubstr(path_.string()));
  }
}

TEST_F(IniFileTest, FailedCreateNamesPathAndReason) {
  const fs::path inMissingFolder = folder_ / "missing" / "x.ini";
  IniFile ini(inMissingFolder);
  ini.WriteString("s", "k", "v");
  try {
    ini.UpdateFile();
    FAIL() << "no error";
  } catch (const IniFileError& error) {
    EXPECT_EQ(error.SystemError(), ENOENT);
    EXPECT_THAT(error.what(), testing::HasSubstr(inMissingFolder.string()));
    EXPECT_THAT(error.what(), testing::HasSubstr("No such file or directory"));
  }
  EXPECT_TRUE(ini.Modified());  // nothing was lost: a later UpdateFile may still succeed
}

// Limits the size of files this process may write, so a write fails midway
// (EFBIG) the way a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST_F(IniFileTest, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  const std::string old = "[s]\nk=old\n";
  WriteFile(old);
  IniFile ini(path_);
  ini.WriteString("s", "k", std::string(4096, 'x'));
  {
    const FileSizeLimit limit(1024);
    EXPECT_THROW(ini.UpdateFile(), IniFileError);
  }
  EXPECT_EQ(ReadFile(), old);
  EXPECT_THAT(FolderEntries(), testing::ElementsAre("settings.ini"));
}

TEST_F(IniFileTest, ReplacingKeepsModeAndFollowsLinks) {
  WriteFile("[s]\nk=1\n");
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  const fs::path link = folder_ / "link.ini";
  fs::create_symlink(path_, link);
  IniFile ini(link);
  ini.WriteString("s", "k", "2");
  ini.UpdateFile();
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFile(), "[s]\nk=2\n");
  EXPECT_EQ(fs::status(path_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace
}  // namespace platform
