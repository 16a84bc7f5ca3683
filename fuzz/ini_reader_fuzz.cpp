// The INI file reader and writer on arbitrary file contents.
// - Looking up never fails, and a missing key is exactly one that yields
//   the default.
// - A write that is accepted reads back at once, unchanged.
// - After UpdateFile, a fresh read of the file gives every written value,
//   and every other section and key found in the original contents reads as
//   it did before.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "platform/ini_file.h"

namespace {

constexpr std::size_t kMaxContents = 4096;
constexpr std::size_t kMaxSections = 8;
constexpr std::size_t kMaxKeys = 16;
constexpr std::size_t kMaxWrites = 8;
constexpr std::string_view kDefaultA =
    "\x01"
    "default-a";
constexpr std::string_view kDefaultB =
    "\x02"
    "default-b";

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// Names worth looking up: whatever looks like a section or a key in the
// contents. Only a source of names; the checks never rely on it being right.
struct Names {
  std::vector<std::string> sections;
  std::vector<std::string> keys;
};

Names CollectNames(std::string_view contents) {
  Names names;
  while (!contents.empty()) {
    const std::size_t end = contents.find('\n');
    const std::string_view line = TrimBlanks(contents.substr(0, end));
    contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
    const std::size_t close = line.find(']');
    if (line.starts_with('[') && close != std::string_view::npos) {
      if (names.sections.size() < kMaxSections)
        names.sections.emplace_back(TrimBlanks(line.substr(1, close - 1)));
    } else if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
      if (names.keys.size() < kMaxKeys) names.keys.emplace_back(TrimBlanks(line.substr(0, equals)));
    }
  }
  return names;
}

struct Lookup {
  std::string section;
  std::string key;
  bool exists;
  std::string value;
};

Lookup Read(const platform::IniFile& file, const std::string& section, const std::string& key) {
  const bool exists = file.ValueExists(section, key);
  const std::string a = file.ReadString(section, key, kDefaultA);
  const std::string b = file.ReadString(section, key, kDefaultB);
  fuzz::Check(exists == (a == b), "a key is missing exactly when the default comes back");
  fuzz::Check(exists || a == kDefaultA, "a missing key yields the default");
  fuzz::Check(!exists || file.SectionExists(section), "a found key has its section");
  file.ReadInteger(section, key, 0);
  return {section, key, exists, a};
}

std::string PickName(FuzzedDataProvider& input, const std::vector<std::string>& known) {
  if (!known.empty() && input.ConsumeBool())
    return known[input.ConsumeIntegralInRange<std::size_t>(0, known.size() - 1)];
  return input.ConsumeRandomLengthString(12);
}

void WriteFile(const std::filesystem::path& path, std::string_view contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  fuzz::Check(static_cast<bool>(out.flush()), "the scratch file is written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string contents = input.ConsumeRandomLengthString(kMaxContents);
  const std::filesystem::path path = fuzz::Scratch() / "fuzz.ini";
  WriteFile(path, contents);

  platform::IniFile file(path);
  const Names names = CollectNames(contents);
  std::vector<Lookup> before;
  for (const std::string& section : names.sections) {
    for (const std::string& key : names.keys)
      before.push_back(Read(file, section, key));
  }

  // Written values by lower-cased section and key: names match ignoring case.
  std::map<std::pair<std::string, std::string>, Lookup> written;
  const std::size_t writes = input.ConsumeIntegralInRange<std::size_t>(0, kMaxWrites);
  for (std::size_t i = 0; i < writes; ++i) {
    const std::string section = PickName(input, names.sections);
    const std::string key = PickName(input, names.keys);
    const std::string value = input.ConsumeRandomLengthString(24);
    try {
      file.WriteString(section, key, value);
    } catch (const platform::IniFileError&) {
      continue;  // a name or value no INI line can hold
    }
    fuzz::Check(file.ReadString(section, key, kDefaultA) == value, "a write reads back at once");
    written[{Lower(section), Lower(key)}] = Lookup{section, key, true, value};
  }
  // Makes sure the file is rewritten even when no write above was kept.
  file.WriteString("quillane fuzz", "written", "yes");
  written[{"quillane fuzz", "written"}] = Lookup{"quillane fuzz", "written", true, "yes"};
  file.UpdateFile();

  const platform::IniFile reread(path);
  for (const auto& [name, expected] : written) {
    fuzz::Check(reread.ReadString(expected.section, expected.key, kDefaultA) == expected.value,
                "a written value survives the file");
  }
  for (const Lookup& old : before) {
    if (written.contains({Lower(old.section), Lower(old.key)})) continue;
    const Lookup now = Read(reread, old.section, old.key);
    fuzz::Check(now.exists == old.exists, "a key's presence survives a rewrite");
    fuzz::Check(now.value == old.value, "a key's value survives a rewrite");
  }
  return 0;
}
