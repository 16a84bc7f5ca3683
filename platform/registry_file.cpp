#include "platform/registry_file.h"

#include <charconv>
#include <cstdint>

namespace platform::registry_file {

namespace {

constexpr std::string_view kHeader = "quillane-registry 1\n";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

void AppendEscaped(std::string& out, unsigned char byte) {
  out.push_back('%');
  out.push_back(kHexDigits[byte >> 4]);
  out.push_back(kHexDigits[byte & 0xF]);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsPlainKeyByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

struct Line {
  std::string_view name;
  std::string_view type;
  std::string_view data;
};

// Splits `line` at tabs into exactly three fields.
std::optional<Line> SplitLine(std::string_view line) {
  const std::size_t first = line.find('\t');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = line.find('\t', first + 1);
  if (second == std::string_view::npos || line.find('\t', second + 1) != std::string_view::npos) {
    return std::nullopt;
  }
  return Line{line.substr(0, first), line.substr(first + 1, second - first - 1),
              line.substr(second + 1)};
}

}  // namespace

std::string EncodeKeyPart(std::string_view part) {
  std::string out;
  for (const char c : part) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<unsigned char>(byte - 'A' + 'a');
    if (IsPlainKeyByte(byte)) {
      out.push_back(static_cast<char>(byte));
    } else {
      AppendEscaped(out, byte);
    }
  }
  return out;
}

std::string Escape(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > ' ' && byte < 0x7F && byte != '%') {
      out.push_back(c);
    } else {
      AppendEscaped(out, byte);
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else if (byte > ' ' && byte < 0x7F) {
      out.push_back(static_cast<char>(byte));
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::string Format(const NamedValues& values) {
  std::string out(kHeader);
  for (const auto& [name, value] : values) {
    out += Escape(name);
    out.push_back('\t');
    out += std::to_string(static_cast<std::uint32_t>(value.type));
    out.push_back('\t');
    out += Escape(value.data);
    out.push_back('\n');
  }
  return out;
}

std::optional<NamedValues> Parse(std::string_view text) {
  if (!text.starts_with(kHeader)) return std::nullopt;
  text.remove_prefix(kHeader.size());
  NamedValues values;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // cut short
    const auto line = SplitLine(text.substr(0, end));
    text.remove_prefix(end + 1);
    if (!line) return std::nullopt;
    std::uint32_t type = 0;
    const char* type_end = line->type.data() + line->type.size();
    const auto [ptr, ec] = std::from_chars(line->type.data(), type_end, type);
    auto name = Unescape(line->name);
    auto data = Unescape(line->data);
    if (ec != std::errc() || ptr != type_end || line->type.empty() || !name || !data) {
      return std::nullopt;
    }
    values.emplace_back(std::move(*name),
                        RegistryValue{static_cast<RegistryType>(type), std::move(*data)});
  }
  return values;
}

}  // namespace platform::registry_file
