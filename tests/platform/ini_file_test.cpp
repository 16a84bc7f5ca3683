#include "platform/ini_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "ini_file_fixture.h"
#include "platform/atomic_file.h"

namespace platform {
namespace {

TEST_F(IniFileTest, MissingFileReadsAsEmptyAndIsNotCreated) {
  IniFile ini(path_);
  EXPECT_FALSE(ini.SectionExists("parameter"));
  EXPECT_EQ(ini.ReadString("parameter", "par A", "none"), "none");
  EXPECT_EQ(ini.ReadInteger("parameter", "par A", 7), 7);
  ini.UpdateFile();
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(IniFileTest, MatchesSectionsAndKeysIgnoringAsciiCase) {
  WriteFile("[ComPort1]\nBaudRate=9600\n[Grüße]\nÄ=1\n");
  const IniFile ini(path_);
  EXPECT_TRUE(ini.SectionExists("comport1"));
  EXPECT_EQ(ini.ReadString("COMPORT1", "baudrate", ""), "9600");
  EXPECT_TRUE(ini.ValueExists("grüße", "Ä"));
  EXPECT_FALSE(ini.ValueExists("GRÜSSE", "Ä"));
}

TEST_F(IniFileTest, ReadsCrLfAndLfAndTrimsBlanks) {
  WriteFile("; comment\r\n[a]\r\n  key one  =  spaced value \t\r\nempty=\r\n[b]\nx=1\n[c]\ny=2");
  const IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("a", "key one", "-"), "spaced value");
  EXPECT_EQ(ini.ReadString("a", "empty", "default"), "");
  EXPECT_EQ(ini.ReadString("b", "x", ""), "1");
  EXPECT_EQ(ini.ReadString("c", "y", ""), "2");
  EXPECT_EQ(ini.ReadString("a", "x", "other section"), "other section");
}

TEST_F(IniFileTest, KeysBeforeAnySectionAndCommentsAreNoKeys) {
  WriteFile("orphan=1\n[s]\n;k=2\nk3=3\n");
  const IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("s", "orphan", "-"), "-");
  EXPECT_EQ(ini.ReadString("s", ";k", "-"), "-");
  EXPECT_EQ(ini.ReadString("s", "k3", "-"), "3");
}

TEST_F(IniFileTest, FirstOccurrenceWins) {
  WriteFile("[s]\nk=first\nK=second\n[S]\nk=third\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("s", "k", ""), "first");
  ini.WriteString("s", "k", "new");
  ini.UpdateFile();
  EXPECT_EQ(ReadFile(), "[s]\nk=new\nK=second\n[S]\nk=third\n");
}

struct IntegerCase {
  const char* text;
  std::int32_t expected;
};

class IniFileIntegers : public IniFileTest, public testing::WithParamInterface<IntegerCase> {};

TEST_P(IniFileIntegers, ReadIntegerOrDefault) {
  WriteFile(std::string("[s]\nk=") + GetParam().text + "\n");
  EXPECT_EQ(IniFile(path_).ReadInteger("s", "k", -99), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IniFileIntegers,
    testing::Values(IntegerCase{"9600", 9600}, IntegerCase{"-1", -1}, IntegerCase{"+5", 5},
                    IntegerCase{"2147483647", 2147483647}, IntegerCase{"-2147483648", INT32_MIN},
                    IntegerCase{"$FF", 255}, IntegerCase{"0x10", 16}, IntegerCase{"x1f", 31},
                    IntegerCase{"$FFFFFFFF", -1}, IntegerCase{"2147483648", -99},
                    IntegerCase{"", -99}, IntegerCase{"12a", -99}, IntegerCase{"1.5", -99},
                    IntegerCase{"$", -99}, IntegerCase{"-", -99}, IntegerCase{"$1FFFFFFFF", -99}));

TEST_F(IniFileTest, WritingKeepsEverythingElseInOrder) {
  const std::string before =
      "; settings\n\n[first]\nA=1\nB=2\n; trailing comment\n\n[second]\nC=3\n";
  WriteFile(before);
  IniFile ini(path_);
  ini.WriteString("FIRST", "b", "twenty");  // changed in place, key spelling kept
  ini.WriteString("first", "New", "x");     // after the section's last line
  ini.WriteString("second", "D", "4");      // at the end of the last section
  ini.WriteInteger("third", "E", -1);       // a new section at the end
  ini.UpdateFile();
  EXPECT_EQ(ReadFile(),
            "; settings\n\n[first]\nA=1\nB=twenty\n; trailing comment\nNew=x\n\n"
            "[second]\nC=3\nD=4\n\n[third]\nE=-1\n");
}

TEST_F(IniFileTest, KeepsCrLfAndByteOrderMark) {
  WriteFile("\xEF\xBB\xBF[s]\r\nk=1\r\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("s", "k", ""), "1");
  ini.WriteString("s", "j", "2");
  ini.UpdateFile();
  EXPECT_EQ(ReadFile(), "\xEF\xBB\xBF[s]\r\nk=1\r\nj=2\r\n");
}

TEST_F(IniFileTest, NewFileHasOneSectionAndNoBlankLine) {
  IniFile ini(path_);
  ini.WriteString("parameter", "par @", "0");
  ini.WriteString("parameter", "par A", "1.5");
  EXPECT_TRUE(ini.Modified());
  ini.UpdateFile();
  EXPECT_FALSE(ini.Modified());
  EXPECT_EQ(ReadFile(), "[parameter]\npar @=0\npar A=1.5\n");
  EXPECT_EQ(IniFile(path_).ReadString("parameter", "PAR a", ""), "1.5");
}

TEST_F(IniFileTest, WritesStayInMemoryUntilUpdateFile) {
  WriteFile("[s]\nk=old\n");
  {
    IniFile ini(path_);
    ini.WriteString("s", "k", "new");
    EXPECT_EQ(ini.ReadString("s", "k", ""), "new");
  }
  EXPECT_EQ(ReadFile(), "[s]\nk=old\n");
}

TEST_F(IniFileTest, RefusesTextThatWouldBreakTheFormat) {
  IniFile ini(path_);
  EXPECT_THROW(ini.WriteString("s", "a=b", "v"), IniFileError);
  EXPECT_THROW(ini.WriteString("s", "", "v"), IniFileError);
  EXPECT_THROW(ini.WriteString("s", " k", "v"), IniFileError);
  EXPECT_THROW(ini.WriteString("s]", "k", "v"), IniFileError);
  EXPECT_THROW(ini.WriteString("s", "k", "two\nlines"), IniFileError);
  EXPECT_FALSE(ini.Modified());
  ini.WriteString("s", "k", "a=b;c [d]");
  ini.UpdateFile();
  EXPECT_EQ(IniFile(path_).ReadString("s", "k", ""), "a=b;c [d]");
}

TEST_F(IniFileTest, BlanksAndQuotesAroundValuesSurvive) {
  WriteFile("[s]\nq=\" padded \"\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("s", "q", ""), " padded ");
  for (const std::string value : {" COM1 ", "\"quoted\"", "\"", "a\"b", ""}) {
    ini.WriteString("s", "k", value);
    ini.UpdateFile();
    EXPECT_EQ(IniFile(path_).ReadString("s", "k", "-"), value);
  }
}

TEST_F(IniFileTest, FailedRenameRemovesTheTemporaryFile) {
  fs::create_directories(path_ / "inside");  // a folder cannot be replaced by a file
  EXPECT_THROW(ReplaceFileAtomically(path_, "[s]\n"), std::system_error);
  EXPECT_THAT(FolderEntries(), testing::ElementsAre("settings.ini"));
  EXPECT_TRUE(fs::is_directory(path_ / "inside"));
}

TEST_F(IniFileTest, UnchangedValueDoesNotRewrite) {
  WriteFile("[s]\nk = 1\n");
  IniFile ini(path_);
  ini.WriteString("S", "K", "1");
  EXPECT_FALSE(ini.Modified());
}

}  // namespace
}  // namespace platform
