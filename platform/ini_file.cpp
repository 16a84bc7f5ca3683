#include "platform/ini_file.h"

#include <charconv>
#include <optional>
#include <system_error>

#include "platform/atomic_file.h"
#include "platform/file_contents.h"

namespace platform {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back()))
    text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// The whole file; empty when it does not exist.
std::string ReadWholeFile(const std::filesystem::path& path) {
  try {
    return ReadFileIfExists(path).value_or(std::string());
  } catch (const std::system_error& error) {
    throw IniFileError(path, "cannot read: " + error.code().message(), error.code().value());
  }
}

std::string Join(std::string_view a, std::string_view b, std::string_view c) {
  std::string joined;
  joined.reserve(a.size() + b.size() + c.size());
  joined.append(a).append(b).append(c);
  return joined;
}

bool IsQuoted(std::string_view text) {
  return text.size() >= 2 && text.front() == '"' && text.back() == '"';
}

// A stored value in double quotes reads without them, so blanks around a
// value survive a round trip.
std::string_view Unquote(std::string_view text) {
  return IsQuoted(text) ? text.substr(1, text.size() - 2) : text;
}

std::string Quote(std::string_view value) {
  if (Trim(value) == value && !IsQuoted(value)) return std::string(value);
  return Join("\"", value, "\"");
}

std::optional<std::int32_t> ParseHex(std::string_view digits, bool negative) {
  std::uint32_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  bool negative = false;
  std::string_view rest = text;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  if (rest.starts_with('$') || rest.starts_with('x') || rest.starts_with('X')) {
    return ParseHex(rest.substr(1), negative);
  }
  if (rest.starts_with("0x") || rest.starts_with("0X")) return ParseHex(rest.substr(2), negative);
  if (rest.empty() || rest.front() < '0' || rest.front() > '9') return std::nullopt;
  std::int64_t magnitude = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), magnitude);
  if (error != std::errc() || end != rest.data() + rest.size()) return std::nullopt;
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace

IniFileError::IniFileError(const std::filesystem::path& path, std::string_view reason,
                           int systemError)
    : std::runtime_error("INI file " + path.string() + ": " + std::string(reason)),
      path_(path),
      systemError_(systemError) {}

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {
  std::string contents = ReadWholeFile(path_);
  Parse(contents);
}

void IniFile::Parse(std::string_view contents) {
  if (contents.starts_with(kByteOrderMark)) {
    byteOrderMark_ = true;
    contents.remove_prefix(kByteOrderMark.size());
  }
  const std::size_t firstEnd = contents.find('\n');
  if (firstEnd != std::string_view::npos && firstEnd > 0 && contents[firstEnd - 1] == '\r') {
    lineEnd_ = "\r\n";
  }
  while (!contents.empty()) {
    const std::size_t end = contents.find('\n');
    std::string_view text = contents.substr(0, end);
    contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
    // Every CR before the LF belongs to the line end: one kept in the text
    // would be read as the line end after a rewrite and change the value.
    while (text.ends_with('\r'))
      text.remove_suffix(1);

    Line line{LineKind::kOther, std::string(text), {}, {}};
    const std::string_view trimmed = Trim(text);
    const std::size_t equals = trimmed.find('=');
    if (trimmed.starts_with('[') && trimmed.find(']') != std::string_view::npos) {
      line.kind = LineKind::kSection;
      line.name = Trim(trimmed.substr(1, trimmed.find(']') - 1));
    } else if (!trimmed.starts_with(';') && equals != std::string_view::npos && equals > 0) {
      line.kind = LineKind::kKey;
      line.name = Trim(trimmed.substr(0, equals));
      line.value = Unquote(Trim(trimmed.substr(equals + 1)));
    }
    lines_.push_back(std::move(line));
  }
}

std::string IniFile::Serialize() const {
  std::string contents;
  if (byteOrderMark_) contents += kByteOrderMark;
  for (const Line& line : lines_) {
    contents += line.text;
    contents += lineEnd_;
  }
  return contents;
}

std::size_t IniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::kSection && EqualsIgnoringCase(lines_[i].name, section)) {
      return i;
    }
  }
  return kNotFound;
}

std::size_t IniFile::SectionEnd(std::size_t sectionLine) const {
  std::size_t end = sectionLine + 1;
  while (end < lines_.size() && lines_[end].kind != LineKind::kSection)
    ++end;
  return end;
}

std::size_t IniFile::FindKey(std::string_view section, std::string_view key) const {
  const std::size_t start = FindSection(section);
  if (start == kNotFound) return kNotFound;
  const std::size_t end = SectionEnd(start);
  for (std::size_t i = start + 1; i < end; ++i) {
    if (lines_[i].kind == LineKind::kKey && EqualsIgnoringCase(lines_[i].name, key)) return i;
  }
  return kNotFound;
}

bool IniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != kNotFound;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  return FindKey(section, key) != kNotFound;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  const std::size_t line = FindKey(section, key);
  return std::string(line == kNotFound ? defaultValue : std::string_view(lines_[line].value));
}

std::int32_t IniFile::ReadInteger(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
  const std::size_t line = FindKey(section, key);
  if (line == kNotFound) return defaultValue;
  return ParseInteger(lines_[line].value).value_or(defaultValue);
}

void IniFile::CheckWritable(std::string_view section, std::string_view key,
                            std::string_view value) const {
  const auto fail = [this](std::string_view what) {
    throw IniFileError(path_, std::string("cannot store ") + std::string(what));
  };
  constexpr std::string_view kLineBreaks = "\r\n";
  if (section.empty() || Trim(section) != section ||
      section.find_first_of("]\r\n") != std::string_view::npos) {
    fail("the section name \"" + std::string(section) + "\"");
  }
  if (key.empty() || Trim(key) != key || key.starts_with('[') || key.starts_with(';') ||
      key.find_first_of("=\r\n") != std::string_view::npos) {
    fail("the key \"" + std::string(key) + "\"");
  }
  if (value.find_first_of(kLineBreaks) != std::string_view::npos) {
    fail("a value with line breaks under the key \"" + std::string(key) + "\"");
  }
}

IniFile::Line IniFile::KeyLine(std::string_view key, std::string_view value) {
  return Line{LineKind::kKey, Join(key, "=", Quote(value)), std::string(key), std::string(value)};
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  CheckWritable(section, key, value);
  const std::size_t sectionLine = FindSection(section);
  if (sectionLine == kNotFound) {
    if (!lines_.empty() && !Trim(lines_.back().text).empty()) {
      lines_.push_back(Line{LineKind::kOther, {}, {}, {}});
    }
    lines_.push_back(Line{LineKind::kSection, Join("[", section, "]"), std::string(section), {}});
    lines_.push_back(KeyLine(key, value));
    modified_ = true;
    return;
  }
  const std::size_t keyLine = FindKey(section, key);
  if (keyLine != kNotFound) {
    Line& line = lines_[keyLine];
    if (line.value == value) return;
    line.value = value;
    line.text = Join(line.name, "=", Quote(line.value));
    modified_ = true;
    return;
  }
  // A new key follows the section's last non-blank line.
  std::size_t insertAt = SectionEnd(sectionLine);
  while (insertAt > sectionLine + 1 && Trim(lines_[insertAt - 1].text).empty())
    --insertAt;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), KeyLine(key, value));
  modified_ = true;
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  WriteString(section, key,
              std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

void IniFile::UpdateFile() {
  if (!modified_) return;
  try {
    ReplaceFileAtomically(path_, Serialize());
  } catch (const std::system_error& error) {
    throw IniFileError(path_, std::string("cannot save: ") + error.what(), error.code().value());
  }
  modified_ = false;
}

}  // namespace platform
