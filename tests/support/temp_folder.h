// A fresh, empty folder for one test, removed with everything in it when the
// object goes. Every test that needs files on disk takes one of these.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace test_support {

class TempFolder {
 public:
  // Under the system's temporary folder.
  explicit TempFolder(std::string_view prefix = "quillane-test")
      : path_(MakeUnder(std::filesystem::temp_directory_path(), prefix)) {}

  // In memory where the system offers it, for tests that sync many writes
  // to disk (a sync costs milliseconds on a slow disk, nothing in memory).
  static TempFolder InMemory(std::string_view prefix) {
    std::error_code ec;
    const std::filesystem::path shm = "/dev/shm";
    const bool inMemory = std::filesystem::is_directory(shm, ec);
    return TempFolder(
        Made{MakeUnder(inMemory ? shm : std::filesystem::temp_directory_path(), prefix)});
  }

  ~TempFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(TempFolder&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  TempFolder& operator=(TempFolder&&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

 private:
  struct Made {
    std::filesystem::path path;
  };
  explicit TempFolder(Made made) : path_(std::move(made.path)) {}

  // A new folder named `prefix` plus a random suffix: creating it fails
  // when the name is taken, so a taken name is never shared.
  static std::filesystem::path MakeUnder(const std::filesystem::path& base,
                                         std::string_view prefix) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      const std::filesystem::path candidate =
          base / (std::string(prefix) + "-" + std::to_string(random()));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) return candidate;
      if (ec) throw std::filesystem::filesystem_error("cannot make a temporary folder", base, ec);
    }
    throw std::runtime_error("no free temporary folder name under " + base.string());
  }

  std::filesystem::path path_;
};

}  // namespace test_support
