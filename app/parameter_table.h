// The simulated device's 26 single-precision parameters and the INI file
// that keeps them across runs.
//
// The file has one section, "parameter", with the keys "par @", "par A" ...
// "par Y" for slots 0 to 25 (the letter's code is 64 + slot), each value
// written as float text with the given decimal separator. Slot 15 is the
// temperature offset (default -20), slot 19 the gain (default 0.549); the
// others are plain storage (default 0).
//
// Called from the user-interface thread. Errors: platform::IniFileError when
// the file exists but cannot be read, or cannot be written; the table in
// memory is unchanged by a failed save.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace app {

inline constexpr std::size_t kParameterCount = 26;
using ParameterTable = std::array<float, kParameterCount>;

inline constexpr std::string_view kParameterSection = "parameter";
inline constexpr std::size_t kOffsetSlot = 15;
inline constexpr std::size_t kGainSlot = 19;

// "par @" for slot 0, "par A" for slot 1 ... "par Y" for slot 25.
std::string ParameterKey(std::size_t slot);

// The parameter file for an executable: its folder, its name cut after the
// first "." and "ini" ("my.tool" gives "my.ini"); a name without a dot gets
// ".ini" appended ("quillane" gives "quillane.ini").
std::filesystem::path ParameterFilePath(const std::filesystem::path& executable);
// ParameterFilePath of the running executable.
std::filesystem::path DefaultParameterFilePath();

struct ParameterLoad {
  bool found = false;                 // false: no file, the table is untouched
  std::vector<std::string> warnings;  // one line per slot that could not be kept
};

// Fills every slot from the file. "." and "," both read as the decimal
// separator, so a file from another locale keeps its values. A missing key
// or an empty value loads as 0; text that is no number, or a value beyond
// single precision, loads as 0 and adds a warning.
ParameterLoad LoadParameters(ParameterTable& table, const std::filesystem::path& file,
                             char decimalSeparator);
// Writes all 26 slots in slot order, creating the file if needed, keeping
// anything else in it, and replacing it atomically.
void SaveParameters(const ParameterTable& table, const std::filesystem::path& file,
                    char decimalSeparator);

void ClearParameters(ParameterTable& table);
// Slot 15 := -20, slot 19 := 0.549; the other slots keep their values.
void ApplyDefaultParameters(ParameterTable& table);

// The start-up sequence: clear, load, and when there is no file apply the
// defaults and create it. Returns the load's warnings for the log.
std::vector<std::string> LoadOrCreateParameters(ParameterTable& table,
                                                const std::filesystem::path& file,
                                                char decimalSeparator);

}  // namespace app
