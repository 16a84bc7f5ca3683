#include "platform/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/registry_file.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "quillane-registry-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no temporary folder");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : registry_(folder_.path() / "root") {
    EXPECT_TRUE(registry_.OpenKey("Software\\Quillane\\Port", true));
  }

  TempFolder folder_;
  Registry registry_;
};

std::string AllBytes() {
  std::string bytes;
  for (int code = 0; code < 256; ++code)
    bytes.push_back(static_cast<char>(code));
  return bytes;
}

TEST(RegistryFile, EscapeRoundTripsEveryByteAndNeverWritesSeparators) {
  const std::string escaped = registry_file::Escape(AllBytes());
  EXPECT_EQ(escaped.find('\t'), std::string::npos);
  EXPECT_EQ(escaped.find('\n'), std::string::npos);
  EXPECT_EQ(registry_file::Unescape(escaped), AllBytes());
}

TEST(RegistryFile, DamagedFilesAreRejected) {
  EXPECT_FALSE(registry_file::Parse("not a registry file\n"));
  EXPECT_FALSE(registry_file::Parse("quillane-registry 1\nPort\t1\tCOM1%00"));  // cut short
  EXPECT_FALSE(registry_file::Parse("quillane-registry 1\nPort\t1\tCOM1%0\n"));
  EXPECT_FALSE(registry_file::Parse("quillane-registry 1\nPort\tx\tCOM1\n"));
  EXPECT_FALSE(registry_file::Parse("quillane-registry 1\nPort\t1\n"));
  EXPECT_FALSE(registry_file::Unescape("a b"));
  EXPECT_FALSE(registry_file::Unescape("%G0"));
}

TEST(RegistryFile, KeyPartsNeverLookLikeHiddenFiles) {
  EXPECT_EQ(registry_file::EncodeKeyPart("Software"), "software");
  EXPECT_EQ(registry_file::EncodeKeyPart(".."), "%2E%2E");
  EXPECT_EQ(registry_file::EncodeKeyPart("a/b c"), "a%2Fb%20c");
}

TEST_F(RegistryTest, TextIsStoredWithItsTerminatingZero) {
  registry_.WriteString("Port", "COM1");
  EXPECT_EQ(registry_.ReadValue("Port"),
            (RegistryValue{RegistryType::String, std::string("COM1\0", 5)}));
  EXPECT_EQ(registry_.ReadString("Port"), "COM1");

  registry_.WriteString("Empty", "");
  EXPECT_EQ(registry_.ReadValue("Empty")->data, std::string(1, '\0'));
  EXPECT_EQ(registry_.ReadString("Empty"), "");
}

TEST_F(RegistryTest, IntegersKeepTheirTwosComplementPattern) {
  registry_.WriteInteger("ReadInterval", -1);
  EXPECT_EQ(registry_.ReadValue("ReadInterval"),
            (RegistryValue{RegistryType::Dword, std::string(4, '\xFF')}));
  EXPECT_EQ(registry_.ReadInteger("ReadInterval"), -1);

  registry_.WriteInteger("Rate", 0x01020304);
  EXPECT_EQ(registry_.ReadValue("Rate")->data, std::string("\x04\x03\x02\x01", 4));
  for (const std::int32_t value : {0, 1, 9600, INT32_MIN, INT32_MAX}) {
    registry_.WriteInteger("Rate", value);
    EXPECT_EQ(registry_.ReadInteger("Rate"), value);
  }
}

TEST_F(RegistryTest, TextReadsUpToTheFirstZeroAndAcceptsExpandableText) {
  registry_.WriteValue("Two", RegistryValue{RegistryType::String, std::string("ab\0cd\0", 6)});
  EXPECT_EQ(registry_.ReadString("Two"), "ab");
  registry_.WriteValue("NoZero", RegistryValue{RegistryType::String, "abc"});
  EXPECT_EQ(registry_.ReadString("NoZero"), "abc");
  registry_.WriteValue("Expand", RegistryValue{RegistryType::ExpandString, std::string("x\0", 2)});
  EXPECT_EQ(registry_.ReadString("Expand"), "x");
}

TEST_F(RegistryTest, MissingTextIsEmptyButMissingIntegerIsAnErrorNamingIt) {
  EXPECT_EQ(registry_.ReadString("Port"), "");
  try {
    registry_.ReadInteger("Buffer.OutputSize");
    FAIL() << "no error";
  } catch (const RegistryError& error) {
    EXPECT_EQ(error.ValueName(), "Buffer.OutputSize");
    EXPECT_NE(std::string(error.what()).find("Buffer.OutputSize"), std::string::npos);
  }
}

TEST_F(RegistryTest, WrongTypesAreErrorsNamingTheValue) {
  registry_.WriteInteger("Number", 5);
  registry_.WriteString("Text", "5");
  registry_.WriteValue("Blob", RegistryValue{RegistryType::Binary, "abc"});
  registry_.WriteValue("Short", RegistryValue{RegistryType::Dword, "ab"});

  auto name_of_error = [](auto&& call) {
    try {
      call();
    } catch (const RegistryError& error) {
      return error.ValueName();
    }
    return std::string("no error");
  };
  EXPECT_EQ(name_of_error([&] { registry_.ReadString("Number"); }), "Number");
  EXPECT_EQ(name_of_error([&] { registry_.ReadString("Blob"); }), "Blob");
  EXPECT_EQ(name_of_error([&] { registry_.ReadInteger("Text"); }), "Text");
  EXPECT_EQ(name_of_error([&] { registry_.ReadInteger("Short"); }), "Short");
}

TEST_F(RegistryTest, EveryByteOfNamesAndDataSurvivesOnDisk) {
  // Every character code except zero, which ends a text, in text and in name.
  const std::string text = AllBytes().substr(1);
  registry_.WriteString(text, text);
  registry_.WriteValue("Raw", RegistryValue{RegistryType::Binary, AllBytes()});

  Registry other(registry_.Root());
  ASSERT_TRUE(other.OpenKey("Software\\Quillane\\Port", false));
  EXPECT_EQ(other.ReadString(text), text);
  EXPECT_EQ(other.ReadValue("Raw")->data, AllBytes());
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  registry_.WriteString("BaudRate", "9600");
  registry_.WriteString("BAUDRATE", "115200");
  EXPECT_EQ(registry_.ReadString("baudrate"), "115200");
  EXPECT_EQ(registry_.ValueNames(), std::vector<std::string>{"BaudRate"});

  Registry other(registry_.Root());
  EXPECT_TRUE(other.OpenKey("\\SOFTWARE\\quillane\\PORT\\", false));
  EXPECT_EQ(other.ReadString("BaudRate"), "115200");
}

TEST_F(RegistryTest, ValuesKeepTheOrderTheyWereFirstWritten) {
  for (const char* name : {"Port", "BaudRate", "StopBits"})
    registry_.WriteString(name, "x");
  registry_.WriteString("Port", "COM2");
  EXPECT_EQ(registry_.ValueNames(), (std::vector<std::string>{"Port", "BaudRate", "StopBits"}));
  EXPECT_TRUE(registry_.DeleteValue("baudrate"));
  EXPECT_FALSE(registry_.DeleteValue("BaudRate"));
  EXPECT_EQ(registry_.ValueNames(), (std::vector<std::string>{"Port", "StopBits"}));
}

TEST_F(RegistryTest, OpeningWithoutCreateLeavesTheCurrentKey) {
  EXPECT_FALSE(registry_.OpenKey("Software\\Missing", false));
  EXPECT_FALSE(registry_.KeyExists("Software\\Missing"));
  EXPECT_EQ(registry_.CurrentPath(), "Software\\Quillane\\Port");
  registry_.WriteString("Port", "COM1");
  EXPECT_EQ(registry_.ReadString("Port"), "COM1");
}

TEST_F(RegistryTest, KeysAreSeparateAndSubkeysDoNotCollideWithValues) {
  registry_.WriteString("Port", "COM1");
  ASSERT_TRUE(registry_.OpenKey("Software\\Quillane\\Port\\.values", true));
  EXPECT_EQ(registry_.ReadString("Port"), "");
  registry_.WriteString("Port", "COM2");
  ASSERT_TRUE(registry_.OpenKey("Software\\Quillane\\Port", false));
  EXPECT_EQ(registry_.ReadString("Port"), "COM1");
}

TEST_F(RegistryTest, BadPathsAndClosedKeysRaise) {
  EXPECT_THROW(registry_.OpenKey("Software\\\\Quillane", true), RegistryError);
  registry_.CloseKey();
  EXPECT_FALSE(registry_.HasCurrentKey());
  EXPECT_THROW(registry_.WriteString("Port", "COM1"), RegistryError);
  EXPECT_THROW(registry_.ReadString("Port"), RegistryError);
}

TEST_F(RegistryTest, AFailedWriteRaisesNamingTheValueAndKeepsNothingHalfWritten) {
  registry_.WriteString("Port", "COM1");
  const fs::path key_folder = registry_.Root() / "software" / "quillane" / "port";
  fs::remove_all(key_folder);
  std::ofstream(key_folder) << "a file where the key was";
  try {
    registry_.WriteString("Port", "COM2");
    FAIL() << "no error";
  } catch (const RegistryError& error) {
    EXPECT_EQ(error.ValueName(), "Port");
  }
  EXPECT_EQ(fs::file_size(key_folder), 24U);
}

TEST_F(RegistryTest, ADamagedKeyFileIsAnErrorNotEmptyText) {
  std::ofstream(registry_.Root() / "software" / "quillane" / "port" / ".values") << "garbage";
  EXPECT_THROW(registry_.ReadString("Port"), RegistryError);
  EXPECT_THROW(registry_.WriteString("Port", "COM1"), RegistryError);
}

TEST(RegistryRoot, FollowsTheUsersConfigurationFolder) {
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = saved_xdg != nullptr ? saved_xdg : "";
  ::setenv("XDG_CONFIG_HOME", "/tmp/config-here", 1);
  EXPECT_EQ(Registry::DefaultRoot(), fs::path("/tmp/config-here/quillane/registry"));
  ::setenv("XDG_CONFIG_HOME", "", 1);
  const fs::path fallback = Registry::DefaultRoot();
  EXPECT_EQ(fallback.filename(), "registry");
  EXPECT_EQ(fallback.parent_path().parent_path().filename(), ".config");
  if (saved_xdg != nullptr) {
    ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
}  // namespace platform
