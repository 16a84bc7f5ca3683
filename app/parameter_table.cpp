#include "app/parameter_table.h"

#include <system_error>

#include "app/executable_path.h"
#include "app/float_text.h"
#include "platform/ini_file.h"

namespace app {
namespace {

// A file written under another locale, or edited by hand, may use either
// decimal separator: both read as this locale's.
std::string WithSeparator(std::string text, char decimalSeparator) {
  for (char& c : text) {
    if (c == '.' || c == ',') c = decimalSeparator;
  }
  return text;
}

}  // namespace

std::string ParameterKey(std::size_t slot) {
  return std::string("par ") + static_cast<char>('@' + slot);
}

std::filesystem::path ParameterFilePath(const std::filesystem::path& executable) {
  const std::string name = executable.filename().string();
  const std::size_t dot = name.find('.');
  const std::string stem = dot == std::string::npos ? name + "." : name.substr(0, dot + 1);
  return executable.parent_path() / (stem + "ini");
}

std::filesystem::path DefaultParameterFilePath() {
  std::filesystem::path executable = RunningExecutablePath();
  if (executable.empty()) {
    std::error_code error;
    executable = std::filesystem::current_path(error) / "quillane";
  }
  return ParameterFilePath(executable);
}

ParameterLoad LoadParameters(ParameterTable& table, const std::filesystem::path& file,
                             char decimalSeparator) {
  ParameterLoad load;
  std::error_code error;
  if (!std::filesystem::exists(file, error) && !error) return load;
  const platform::IniFile ini(file);
  load.found = true;
  for (std::size_t slot = 0; slot < kParameterCount; ++slot) {
    const std::string key = ParameterKey(slot);
    const std::string text = ini.ReadString(kParameterSection, key, "");
    const std::optional<double> value =
        TextToFloat(WithSeparator(text, decimalSeparator), decimalSeparator);
    const std::optional<float> single = NarrowToSingle(value.value_or(0.0));
    const std::string where = "parameter file " + file.string() + ": " + key + "=" + text;
    if (!value && !text.empty()) {
      load.warnings.push_back(where + " is no number, loaded as 0");
    } else if (!single) {
      load.warnings.push_back(where + " is beyond single precision, loaded as 0");
    }
    table[slot] = single.value_or(0.0f);
  }
  return load;
}

void SaveParameters(const ParameterTable& table, const std::filesystem::path& file,
                    char decimalSeparator) {
  platform::IniFile ini(file);
  for (std::size_t slot = 0; slot < kParameterCount; ++slot) {
    ini.WriteString(kParameterSection, ParameterKey(slot),
                    FloatToText(static_cast<double>(table[slot]), decimalSeparator));
  }
  ini.UpdateFile();
}

void ClearParameters(ParameterTable& table) {
  table.fill(0.0f);
}

void ApplyDefaultParameters(ParameterTable& table) {
  table[kOffsetSlot] = -20.0f;
  table[kGainSlot] = 0.549f;
}

std::vector<std::string> LoadOrCreateParameters(ParameterTable& table,
                                                const std::filesystem::path& file,
                                                char decimalSeparator) {
  ClearParameters(table);
  ParameterLoad load = LoadParameters(table, file, decimalSeparator);
  if (!load.found) {
    ApplyDefaultParameters(table);
    SaveParameters(table, file, decimalSeparator);
  }
  return std::move(load.warnings);
}

}  // namespace app
