// The fixture of the INI file tests: a fresh folder per test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

class IniFileTest : public testing::Test {
 protected:
  void SetUp() override {
    const auto* test = testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() /
              ("ini_file_test." + std::string(test->test_suite_name()) + "." + test->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = folder_ / "settings.ini";
  }
  void TearDown() override { fs::remove_all(folder_); }

  void WriteFile(const std::string& contents) {
    std::ofstream(path_, std::ios::binary) << contents;
  }
  std::string ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  fs::path folder_;
  fs::path path_;
};

}  // namespace platform
