// The setting text parsers on arbitrary text.
// - Every parse result is one of its type's values, and writing it and
//   parsing that again gives it back.
// - Parsing ignores the letter case of ASCII letters.
// - ParseChar reads back what FormatChar writes, for every code.
#include <cstdint>
#include <string>
#include <string_view>

#include "cport/setting_texts.h"
#include "fuzz_support.h"

namespace {

std::string WithCase(std::string_view text, bool upper) {
  std::string changed(text);
  for (char& c : changed) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return changed;
}

template <class Parse, class Format>
void CheckEnumeration(std::string_view text, std::size_t valueCount, Parse parse, Format format) {
  const auto value = parse(text);
  fuzz::Check(static_cast<std::size_t>(value) < valueCount, "a parsed value is in range");
  fuzz::Check(parse(format(value)) == value, "a parsed value is written and read back");
  fuzz::Check(parse(WithCase(text, true)) == value, "parsing ignores case (upper)");
  fuzz::Check(parse(WithCase(text, false)) == value, "parsing ignores case (lower)");
}

void CheckChar(char code) {
  const std::string text = cport::FormatChar(code);
  fuzz::Check(!text.empty(), "every code has a text");
  fuzz::Check(cport::ParseChar(text) == code, "FormatChar is read back by ParseChar");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace cport;
  const std::string_view text = fuzz::AsText({data, size});
  CheckEnumeration(text, SettingTexts::BaudRate.size(), ParseBaudRate, FormatBaudRate);
  CheckEnumeration(text, SettingTexts::StopBits.size(), ParseStopBits, FormatStopBits);
  CheckEnumeration(text, SettingTexts::DataBits.size(), ParseDataBits, FormatDataBits);
  CheckEnumeration(text, SettingTexts::Parity.size(), ParseParity, FormatParity);
  CheckEnumeration(text, SettingTexts::FlowControl.size(), ParseFlowControl, FormatFlowControl);
  CheckEnumeration(text, SettingTexts::DTRControl.size(), ParseDTRControl, FormatDTRControl);
  CheckEnumeration(text, SettingTexts::RTSControl.size(), ParseRTSControl, FormatRTSControl);

  const bool flag = ParseBool(text);
  fuzz::Check(ParseBool(FormatBool(flag)) == flag, "a parsed flag is written and read back");
  fuzz::Check(ParseBool(WithCase(text, true)) == flag, "flags ignore case");

  CheckChar(ParseChar(text));
  if (size > 0) CheckChar(static_cast<char>(data[0]));
  return 0;
}
