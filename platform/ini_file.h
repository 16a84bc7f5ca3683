// An INI file ("private profile" file) held in memory: sections of
// key=value lines, read once when the object is made and written back as a
// whole by UpdateFile.
//
// Sections and keys match case-insensitively (ASCII letters only); the
// first occurrence wins when a name repeats. Keys and values are read with
// surrounding blanks removed. Lines that are neither section headers nor
// keys (comments, blank lines, text before the first section) are kept as
// they are. A value in double quotes reads without them; a written value
// with surrounding blanks or quotes is quoted so that it reads back as
// written. A write changes the key in place, adds a new key after the last
// line of its section, or adds a new section at the end of the file, so
// every other line and its order survive (a new section follows a blank
// line). Files with CR LF or LF line ends are read; a rewritten file keeps
// the line end of its first line (LF for a new file) and a leading UTF-8
// byte order mark if it had one.
//
// Writes stay in memory until UpdateFile, which replaces the file
// atomically: the new contents go to a temporary file in the same folder,
// are flushed to disk, and are renamed over the old file, so a crash leaves
// either the old file or the new one. Nothing is written when the object is
// destroyed; call UpdateFile to keep changes.
//
// Errors: reading a file that exists but cannot be read, a failed
// UpdateFile, and a write whose section, key or value cannot be stored in an
// INI line raise IniFileError, which names the path and the reason. Looking
// up keys never fails. An object is used by one thread at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class IniFileError : public std::runtime_error {
 public:
  // `systemError` is the errno of the failed call, 0 when the failure is not
  // a system error.
  IniFileError(const std::filesystem::path& path, std::string_view reason, int systemError = 0);

  const std::filesystem::path& Path() const noexcept { return path_; }
  int SystemError() const noexcept { return systemError_; }

 private:
  std::filesystem::path path_;
  int systemError_;
};

class IniFile {
 public:
  // Reads the file; a missing file reads as empty and is created by the
  // first UpdateFile that has something to write.
  explicit IniFile(std::filesystem::path path);

  const std::filesystem::path& FileName() const noexcept { return path_; }

  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;

  // The stored text (possibly empty), or `defaultValue` when the section or
  // key is missing.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  // The stored text as a signed 32-bit integer (decimal with optional sign,
  // or hexadecimal after "$", "0x" or "x"), or `defaultValue` when the key is
  // missing or its text is no such integer.
  std::int32_t ReadInteger(std::string_view section, std::string_view key,
                           std::int32_t defaultValue) const;

  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  // Written as signed decimal text.
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);

  // True when writes have changed the contents since reading or the last
  // UpdateFile.
  bool Modified() const noexcept { return modified_; }

  // Writes the contents to disk when they have changed (see above).
  void UpdateFile();

 private:
  enum class LineKind : std::uint8_t { kOther, kSection, kKey };
  struct Line {
    LineKind kind;
    std::string text;   // the line as stored, without its line end
    std::string name;   // section or key name, blanks removed
    std::string value;  // a key's value, blanks removed
  };
  static constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

  static Line KeyLine(std::string_view key, std::string_view value);
  void Parse(std::string_view contents);
  std::string Serialize() const;
  std::size_t FindSection(std::string_view section) const;
  std::size_t SectionEnd(std::size_t sectionLine) const;
  std::size_t FindKey(std::string_view section, std::string_view key) const;
  void CheckWritable(std::string_view section, std::string_view key, std::string_view value) const;

  std::filesystem::path path_;
  std::vector<Line> lines_;
  std::string lineEnd_ = "\n";
  bool byteOrderMark_ = false;
  bool modified_ = false;
};

}  // namespace platform
