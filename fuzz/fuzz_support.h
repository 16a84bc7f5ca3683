// Helpers shared by the fuzz targets: a check that stops the run with a
// message (libFuzzer then saves the input), the splitting of one input into
// the chunks a reader would have received, and a scratch folder for files.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace fuzz {

// Stops the run when `condition` is false; libFuzzer reports the crash and
// writes the input that caused it.
inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

inline std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// An input read as a split description followed by a stream: the first byte
// gives how many length bytes follow (0 to 15); the stream is cut into
// chunks of those lengths, used in turn and over again until the stream
// ends. A length of 0 gives an empty chunk, as a read that returned nothing
// new would. When a whole round of lengths takes nothing, the rest of the
// stream is one last chunk.
struct SplitInput {
  std::span<const std::uint8_t> stream;
  std::vector<std::span<const std::uint8_t>> chunks;
};

inline SplitInput Split(std::span<const std::uint8_t> input) {
  SplitInput split;
  if (input.empty()) return split;
  const std::size_t lengthCount = input[0] % 16u;
  const std::size_t header = 1 + lengthCount;
  if (input.size() < header) return split;
  const std::span<const std::uint8_t> lengths = input.subspan(1, lengthCount);
  split.stream = input.subspan(header);
  std::span<const std::uint8_t> rest = split.stream;
  while (!rest.empty()) {
    std::size_t takenThisRound = 0;
    for (const std::uint8_t length : lengths) {
      const std::size_t size = length < rest.size() ? length : rest.size();
      split.chunks.push_back(rest.first(size));
      rest = rest.subspan(size);
      takenThisRound += size;
    }
    if (takenThisRound == 0) {
      split.chunks.push_back(rest);
      break;
    }
  }
  return split;
}

// A folder of this process's own, on a RAM disk when there is one so that
// the atomic saves cost no disk flush; removed when the process exits.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ignored;
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ignored)
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    path_ = base / ("quillane-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const noexcept { return path_; }

 private:
  std::filesystem::path path_;
};

inline const std::filesystem::path& Scratch() {
  static const ScratchFolder folder;
  return folder.Path();
}

}  // namespace fuzz
