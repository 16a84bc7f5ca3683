#include "app/log_text.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace app {
namespace {

// 0x80 to 0x9F; 0 marks the bytes the code page leaves undefined.
constexpr std::array<char32_t, 32> kHighControlRange = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsUndefined(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F && kHighControlRange[byte - 0x80] == 0;
}

void AppendUtf8(std::string& out, char32_t cp) {
  char bytes[3];
  std::size_t length = 0;
  auto put = [&](unsigned value) { bytes[length++] = static_cast<char>(value); };
  if (cp < 0x80) {
    put(static_cast<unsigned>(cp));
  } else if (cp < 0x800) {
    put(0xC0 | (cp >> 6));
    put(0x80 | (cp & 0x3F));
  } else {
    put(0xE0 | (cp >> 12));
    put(0x80 | ((cp >> 6) & 0x3F));
    put(0x80 | (cp & 0x3F));
  }
  out.append(bytes, length);
}

void AppendHexEscape(std::string& out, unsigned char byte) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  const char escape[4] = {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0x0F]};
  out.append(escape, sizeof escape);
}

// Bytes the console shows as themselves: printable ASCII but the backslash.
bool IsPlain(unsigned char byte) {
  return byte >= 0x20 && byte <= 0x7E && byte != '\\';
}

// Whether any of the eight bytes in `word` is not plain (below 0x20, above
// 0x7E, or a backslash). Each test may misjudge bytes beyond one that
// really matches, never the word as a whole.
bool HasNonPlainByte(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighBits = kOnes * 0x80;
  const std::uint64_t below = (word - kOnes * 0x20) & ~word;
  const std::uint64_t above = (word + kOnes * (0x7F - 0x7E)) | word;
  const std::uint64_t backslashes = word ^ (kOnes * '\\');
  const std::uint64_t backslash = (backslashes - kOnes) & ~backslashes;
  return ((below | above | backslash) & kHighBits) != 0;
}

// The end of the run of plain bytes that starts at `p`, eight bytes at a
// time while none needs escaping.
const char* PlainRunEnd(const char* p, const char* end) {
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (HasNonPlainByte(word)) break;
    p += 8;
  }
  while (p != end && IsPlain(static_cast<unsigned char>(*p)))
    ++p;
  return p;
}

void AppendEscapedByte(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\\':
      out += "\\\\";
      break;
    default:
      if (byte < 0x20 || byte == 0x7F || IsUndefined(byte)) {
        AppendHexEscape(out, byte);
      } else {
        AppendUtf8(out, Windows1252ToCodePoint(byte));
      }
  }
}

}  // namespace

char32_t Windows1252ToCodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F && !IsUndefined(byte)) return kHighControlRange[byte - 0x80];
  return byte;
}

std::string EscapeLogLine(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  AppendEscapedLogLine(out, bytes);
  return out;
}

// Runs of plain bytes are copied in one append: log lines are mostly plain.
void AppendEscapedLogLine(std::string& out, std::string_view bytes) {
  const char* const end = bytes.data() + bytes.size();
  const char* run = bytes.data();
  while (run != end) {
    const char* special = PlainRunEnd(run, end);
    out.append(run, static_cast<std::size_t>(special - run));
    if (special == end) break;
    AppendEscapedByte(out, static_cast<unsigned char>(*special));
    run = special + 1;
  }
}

std::string LogLineToDisplayText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte == '\r') {
      out.push_back('\n');
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else if (byte == '\n' || byte == '\t') {
      out.push_back(static_cast<char>(byte));
    } else if (byte < 0x20) {
      AppendUtf8(out, 0x2400 + byte);
    } else if (byte == 0x7F) {
      AppendUtf8(out, 0x2421);
    } else if (IsUndefined(byte)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, Windows1252ToCodePoint(byte));
    }
  }
  return out;
}

}  // namespace app
