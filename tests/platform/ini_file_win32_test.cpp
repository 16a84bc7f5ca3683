// INI files on Windows: the system's error numbers and texts, and a replace
// that the system refuses leaves the old file and no temporary one.
#include "platform/win32/windows_headers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <system_error>

#include "ini_file_fixture.h"
#include "platform/atomic_file.h"
#include "platform/ini_file.h"

namespace platform {
namespace {

TEST_F(IniFileTest, FailedCreateNamesPathAndTheSystemsReason) {
  const fs::path inMissingFolder = folder_ / "missing" / "x.ini";
  IniFile ini(inMissingFolder);
  ini.WriteString("s", "k", "v");
  try {
    ini.UpdateFile();
    FAIL() << "no error";
  } catch (const IniFileError& error) {
    EXPECT_EQ(error.SystemError(), ERROR_PATH_NOT_FOUND);
    EXPECT_THAT(error.what(), testing::HasSubstr(inMissingFolder.string()));
  }
  EXPECT_TRUE(ini.Modified());
}

TEST_F(IniFileTest, ATargetTheSystemKeepsOpenIsLeftAsItWas) {
  WriteFile("[s]\nk=old\n");
  // Open without sharing delete access: the system refuses to replace it.
  const HANDLE held = ::CreateFileA(path_.string().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_THROW(ReplaceFileAtomically(path_, "[s]\nk=new\n"), std::system_error);
  ::CloseHandle(held);
  EXPECT_EQ(ReadFile(), "[s]\nk=old\n");
  EXPECT_THAT(FolderEntries(), testing::ElementsAre("settings.ini"));
  ReplaceFileAtomically(path_, "[s]\nk=new\n");
  EXPECT_EQ(ReadFile(), "[s]\nk=new\n");
}

}  // namespace
}  // namespace platform
