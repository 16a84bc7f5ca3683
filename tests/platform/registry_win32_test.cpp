// The registry on Windows is the system's: values written through Registry
// are the REG_SZ and REG_DWORD values the system shows, below the root key
// the caller names. Each test works in a key of its own and removes it.
#include "platform/win32/windows_headers.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"

namespace platform {
namespace {

class RegistryWin32Test : public ::testing::Test {
 protected:
  RegistryWin32Test() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    key_ =
        "Software\\Quillane tests\\" + std::to_string(::GetCurrentProcessId()) + "-" + test->name();
    EXPECT_TRUE(registry_.OpenKey(key_, true));
  }
  ~RegistryWin32Test() override { registry_.DeleteKey(key_); }

  // The value as the system reads it: type and bytes.
  RegistryValue SystemValue(const std::string& name) const {
    std::string data(64, '\0');
    DWORD type = 0;
    auto size = static_cast<DWORD>(data.size());
    const LONG error = ::RegGetValueA(HKEY_CURRENT_USER, key_.c_str(), name.c_str(),
                                      RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size);
    EXPECT_EQ(error, ERROR_SUCCESS) << name;
    data.resize(error == ERROR_SUCCESS ? size : 0);
    return RegistryValue{static_cast<RegistryType>(type), data};
  }
  void SystemWrite(const std::string& name, DWORD type, const std::string& data) const {
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(
        ::RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                         static_cast<DWORD>(data.size())),
        ERROR_SUCCESS);
    ::RegCloseKey(key);
  }

  Registry registry_{RegistryRootKey::CurrentUser};
  std::string key_;
};

TEST_F(RegistryWin32Test, TextIsARegSzWithItsTerminatingZero) {
  registry_.WriteString("Port", "COM1");
  EXPECT_EQ(SystemValue("Port"), (RegistryValue{RegistryType::String, std::string("COM1\0", 5)}));
  EXPECT_EQ(registry_.ReadString("Port"), "COM1");
  registry_.WriteString("Empty", "");
  EXPECT_EQ(SystemValue("Empty").data, std::string(1, '\0'));
}

TEST_F(RegistryWin32Test, IntegersAreRegDwordsWithTheirTwosComplementPattern) {
  registry_.WriteInteger("ReadInterval", -1);
  EXPECT_EQ(SystemValue("ReadInterval"),
            (RegistryValue{RegistryType::Dword, std::string(4, '\xFF')}));
  for (const std::int32_t value : {0, 9600, INT32_MIN, INT32_MAX}) {
    registry_.WriteInteger("Rate", value);
    EXPECT_EQ(registry_.ReadInteger("Rate"), value);
  }
}

TEST_F(RegistryWin32Test, ValuesTheSystemWroteAreReadByTheirTypes) {
  SystemWrite("Expand", REG_EXPAND_SZ, std::string("x\0", 2));
  SystemWrite("Blob", REG_BINARY, "abc");
  EXPECT_EQ(registry_.ReadString("Expand"), "x");
  EXPECT_EQ(registry_.ReadValue("Blob"), (RegistryValue{RegistryType::Binary, "abc"}));
  try {
    registry_.ReadString("Blob");
    FAIL() << "no error";
  } catch (const RegistryError& error) {
    EXPECT_EQ(error.ValueName(), "Blob");
  }
  EXPECT_THROW(registry_.ReadInteger("Expand"), RegistryError);
}

TEST_F(RegistryWin32Test, MissingTextIsEmptyButAMissingIntegerIsAnErrorNamingIt) {
  EXPECT_EQ(registry_.ReadString("Port"), "");
  EXPECT_FALSE(registry_.ValueExists("Port"));
  try {
    registry_.ReadInteger("Buffer.OutputSize");
    FAIL() << "no error";
  } catch (const RegistryError& error) {
    EXPECT_EQ(error.ValueName(), "Buffer.OutputSize");
  }
}

TEST_F(RegistryWin32Test, NamesCompareWithoutCaseAndValuesCanBeDeleted) {
  registry_.WriteString("BaudRate", "9600");
  registry_.WriteString("BAUDRATE", "115200");
  EXPECT_EQ(registry_.ReadString("baudrate"), "115200");
  EXPECT_EQ(registry_.ValueNames(), std::vector<std::string>{"BaudRate"});
  EXPECT_TRUE(registry_.DeleteValue("baudRATE"));
  EXPECT_FALSE(registry_.DeleteValue("BaudRate"));
  EXPECT_TRUE(registry_.ValueNames().empty());
}

TEST_F(RegistryWin32Test, OpeningWithoutCreateLeavesTheCurrentKey) {
  EXPECT_FALSE(registry_.OpenKey(key_ + "\\Missing", false));
  EXPECT_FALSE(registry_.KeyExists(key_ + "\\Missing"));
  EXPECT_EQ(registry_.CurrentPath(), key_);
  Registry other(RegistryRootKey::CurrentUser);
  EXPECT_TRUE(other.OpenKey("\\" + key_ + "\\", false));
}

TEST_F(RegistryWin32Test, DeletingAKeyRemovesItsSubkeysAndClosesIt) {
  ASSERT_TRUE(registry_.OpenKey(key_ + "\\Port\\Inner", true));
  registry_.WriteString("Port", "COM2");
  EXPECT_TRUE(registry_.DeleteKey(key_ + "\\Port"));
  EXPECT_FALSE(registry_.HasCurrentKey());
  EXPECT_FALSE(registry_.KeyExists(key_ + "\\Port"));
  EXPECT_TRUE(registry_.KeyExists(key_));
  EXPECT_FALSE(registry_.DeleteKey(key_ + "\\Port"));
}

TEST_F(RegistryWin32Test, BadPathsAndClosedKeysRaise) {
  EXPECT_THROW(registry_.OpenKey("Software\\\\Quillane", true), RegistryError);
  registry_.CloseKey();
  EXPECT_THROW(registry_.WriteString("Port", "COM1"), RegistryError);
  EXPECT_THROW(registry_.ReadString("Port"), RegistryError);
}

TEST(RegistryRootKeys, EachRootKeyIsTheSystemsOwn) {
  Registry machine(RegistryRootKey::LocalMachine);
  EXPECT_TRUE(machine.KeyExists("Software\\Microsoft"));
  EXPECT_EQ(machine.RootKey(), RegistryRootKey::LocalMachine);
  Registry user;
  EXPECT_EQ(user.RootKey(), RegistryRootKey::CurrentUser);
  EXPECT_FALSE(user.KeyExists("Software\\Quillane tests\\no such key"));
}

}  // namespace
}  // namespace platform
