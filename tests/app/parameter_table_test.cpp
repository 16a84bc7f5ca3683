#include "app/parameter_table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cfloat>
#include <fstream>
#include <iterator>

#include "platform/ini_file.h"
#include "tests/support/temp_folder.h"

namespace app {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFirstStartFile =
    "[parameter]\npar @=0\npar A=0\npar B=0\npar C=0\npar D=0\npar E=0\npar F=0\npar G=0\n"
    "par H=0\npar I=0\npar J=0\npar K=0\npar L=0\npar M=0\npar N=0\npar O=-20\npar P=0\n"
    "par Q=0\npar R=0\npar S=0.549000024795532\npar T=0\npar U=0\npar V=0\npar W=0\npar X=0\n"
    "par Y=0\n";

class ParameterFileTest : public testing::Test {
 protected:
  void SetUp() override { table_.fill(99.0f); }

  void WriteFile(const std::string& contents) {
    std::ofstream(path_, std::ios::binary) << contents;
  }
  std::string ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  test_support::TempFolder folder_{"quillane-parameters"};
  fs::path path_ = folder_ / "quillane.ini";
  ParameterTable table_{};
};

TEST(ParameterFilePath, CutsAfterTheFirstDotOrAppendsIni) {
  EXPECT_EQ(ParameterFilePath("/opt/q/Quillane.exe"), fs::path("/opt/q/Quillane.ini"));
  EXPECT_EQ(ParameterFilePath("/opt/q/my.tool.exe"), fs::path("/opt/q/my.ini"));
  EXPECT_EQ(ParameterFilePath("/usr/bin/quillane"), fs::path("/usr/bin/quillane.ini"));
  // Beside this test program, named after it.
  const fs::path beside = DefaultParameterFilePath();
  EXPECT_TRUE(beside.is_absolute()) << beside;
  EXPECT_EQ(beside.filename(), "app_parameter_table_test.ini");
}

TEST(ParameterKeys, FollowTheSlotLetters) {
  EXPECT_EQ(ParameterKey(0), "par @");
  EXPECT_EQ(ParameterKey(1), "par A");
  EXPECT_EQ(ParameterKey(kOffsetSlot), "par O");
  EXPECT_EQ(ParameterKey(kGainSlot), "par S");
  EXPECT_EQ(ParameterKey(25), "par Y");
}

TEST_F(ParameterFileTest, FirstStartCreatesTheFileWithDefaults) {
  EXPECT_THAT(LoadOrCreateParameters(table_, path_, '.'), testing::IsEmpty());
  EXPECT_EQ(ReadFile(), kFirstStartFile);
  for (std::size_t slot = 0; slot < kParameterCount; ++slot) {
    const float expected = slot == kOffsetSlot ? -20.0f : slot == kGainSlot ? 0.549f : 0.0f;
    EXPECT_EQ(table_[slot], expected) << slot;
  }
}

TEST_F(ParameterFileTest, ExistingFileIsLoadedAndNotRewritten) {
  WriteFile("[Parameter]\r\nPAR A=12,5\r\npar S=0.5\r\n");
  EXPECT_THAT(LoadOrCreateParameters(table_, path_, ','), testing::IsEmpty());
  EXPECT_EQ(table_[1], 12.5f);
  EXPECT_EQ(table_[kGainSlot], 0.5f);    // "." reads as the separator too
  EXPECT_EQ(table_[kOffsetSlot], 0.0f);  // missing keys load as 0, not as defaults
  EXPECT_EQ(ReadFile(), "[Parameter]\r\nPAR A=12,5\r\npar S=0.5\r\n");
}

TEST_F(ParameterFileTest, EmptyFileLoadsAllZeros) {
  WriteFile("");
  const ParameterLoad load = LoadParameters(table_, path_, '.');
  EXPECT_TRUE(load.found);
  EXPECT_THAT(table_, testing::Each(0.0f));
}

TEST_F(ParameterFileTest, MissingFileLeavesTheTableUntouched) {
  EXPECT_FALSE(LoadParameters(table_, path_, '.').found);
  EXPECT_THAT(table_, testing::Each(99.0f));
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(ParameterFileTest, ValuesThatDoNotConvertLoadAsZeroWithAWarning) {
  WriteFile("[parameter]\npar A=\npar B=abc\npar C= 1.5 \npar D=1e-50\npar E=-2.5E-1\n");
  const ParameterLoad load = LoadParameters(table_, path_, '.');
  EXPECT_THAT(load.warnings, testing::ElementsAre(testing::AllOf(
                                 testing::HasSubstr(path_.string()),
                                 testing::HasSubstr("par B=abc is no number, loaded as 0"))));
  EXPECT_EQ(table_[1], 0.0f);
  EXPECT_EQ(table_[2], 0.0f);
  EXPECT_EQ(table_[3], 1.5f);
  EXPECT_EQ(table_[4], 0.0f);
  EXPECT_EQ(table_[5], -0.25f);
}

TEST_F(ParameterFileTest, ValueBeyondSinglePrecisionLoadsAsZeroWithAWarning) {
  WriteFile("[parameter]\npar A=1\npar B=1e39\npar C=3\npar D=-1E400\npar E=3.40282346638529E38\n");
  const ParameterLoad load = LoadParameters(table_, path_, '.');
  EXPECT_TRUE(load.found);
  EXPECT_THAT(load.warnings, testing::ElementsAre(testing::HasSubstr("par B=1e39"),
                                                  testing::HasSubstr("par D=-1E400")));
  EXPECT_THAT(load.warnings[0], testing::HasSubstr(path_.string()));
  EXPECT_EQ(table_[1], 1.0f);
  EXPECT_EQ(table_[2], 0.0f);
  EXPECT_EQ(table_[3], 3.0f);
  EXPECT_EQ(table_[4], 0.0f);
  EXPECT_EQ(table_[5], FLT_MAX);
}

TEST_F(ParameterFileTest, SaveUpdatesKeysAndKeepsOtherContent) {
  WriteFile("; device\n[other]\nx=1\n[parameter]\npar S=0.549000024795532\nnote=keep\n");
  ClearParameters(table_);
  table_[kGainSlot] = 0.5f;
  table_[25] = -1e-7f;
  SaveParameters(table_, path_, '.');
  const platform::IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("parameter", "par S", ""), "0.5");
  EXPECT_EQ(ini.ReadString("parameter", "par Y", ""), "-1.0000000116861E-7");
  EXPECT_EQ(ini.ReadString("parameter", "note", ""), "keep");
  EXPECT_EQ(ini.ReadString("other", "x", ""), "1");
  EXPECT_THAT(ReadFile(), testing::StartsWith("; device\n[other]\nx=1\n[parameter]\npar S=0.5\n"
                                              "note=keep\npar @=0\n"));
}

TEST_F(ParameterFileTest, SavedTableLoadsBackUnderEitherSeparator) {
  for (const char separator : {'.', ','}) {
    ParameterTable saved{};
    for (std::size_t slot = 0; slot < kParameterCount; ++slot) {
      saved[slot] = static_cast<float>(slot) * -1.1f + 1e-3f;
    }
    saved[3] = FLT_MAX;
    saved[4] = 1e-45f;
    SaveParameters(saved, path_, separator);
    EXPECT_THAT(LoadParameters(table_, path_, separator).warnings, testing::IsEmpty());
    EXPECT_EQ(table_, saved) << separator;
  }
}

TEST_F(ParameterFileTest, FailedSaveRaisesTheIniErrorAndKeepsTheOldFile) {
  WriteFile(kFirstStartFile);
  fs::create_directories(folder_ / "blocked");
  ParameterTable table{};
  table[1] = 5.0f;
  EXPECT_THROW(SaveParameters(table, folder_ / "blocked", '.'), platform::IniFileError);
  EXPECT_THROW(SaveParameters(table, folder_ / "missing" / "q.ini", '.'), platform::IniFileError);
  EXPECT_EQ(table[1], 5.0f);
  EXPECT_EQ(ReadFile(), kFirstStartFile);
}

TEST(ParameterDefaults, ApplyOnlyOffsetAndGain) {
  ParameterTable table{};
  table.fill(3.0f);
  ApplyDefaultParameters(table);
  EXPECT_EQ(table[kOffsetSlot], -20.0f);
  EXPECT_EQ(table[kGainSlot], 0.549f);
  EXPECT_EQ(table[0], 3.0f);
  EXPECT_EQ(table[25], 3.0f);
  ClearParameters(table);
  EXPECT_THAT(table, testing::Each(0.0f));
}

TEST_F(ParameterFileTest, EitherDecimalSeparatorLoadsUnderEitherLocale) {
  WriteFile("[parameter]\npar A=12,5\npar B=-0.25\npar C=1,5E-3\npar D=1,25\n");
  for (const char separator : {'.', ','}) {
    table_.fill(99.0f);
    EXPECT_THAT(LoadParameters(table_, path_, separator).warnings, testing::IsEmpty());
    EXPECT_EQ(table_[1], 12.5f) << separator;
    EXPECT_EQ(table_[2], -0.25f) << separator;
    EXPECT_EQ(table_[3], 1.5e-3f) << separator;
    EXPECT_EQ(table_[4], 1.25f) << separator;
  }
}

TEST_F(ParameterFileTest, TwoSeparatorsInOneValueStillDoNotConvert) {
  WriteFile("[parameter]\npar A=1,000.5\npar B=2\n");
  const ParameterLoad load = LoadParameters(table_, path_, '.');
  EXPECT_THAT(load.warnings,
              testing::ElementsAre(testing::HasSubstr("par A=1,000.5 is no number")));
  EXPECT_EQ(table_[1], 0.0f);
  EXPECT_EQ(table_[2], 2.0f);
}

}  // namespace
}  // namespace app
