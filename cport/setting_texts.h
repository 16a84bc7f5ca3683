// Readable texts for the port's settings: the form in which enumerated
// settings, booleans and characters are stored (INI sections, registry keys)
// and in which a host can show and accept them.
//
// Each enumeration has one text table indexed by its ordinal. Format returns
// the entry; Parse upper-cases the text (ASCII letters only, no trimming),
// compares it with each upper-cased entry in ordinal order, whole text
// against whole text, and returns the first match, or the type's fallback
// when nothing matches. Texts are byte strings; none of these functions
// fails. Pure functions, callable from any thread.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "cport/CPort.h"

namespace cport {

namespace SettingTexts {

inline constexpr std::array<std::string_view, 16> BaudRate{
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
inline constexpr std::array<std::string_view, 3> StopBits{"1", "1.5", "2"};
inline constexpr std::array<std::string_view, 4> DataBits{"5", "6", "7", "8"};
inline constexpr std::array<std::string_view, 5> Parity{"None", "Odd", "Even", "Mark", "Space"};
inline constexpr std::array<std::string_view, 4> FlowControl{"Hardware", "Software", "None",
                                                             "Custom"};
inline constexpr std::array<std::string_view, 3> DTRControl{"Disable", "Enable", "Handshake"};
inline constexpr std::array<std::string_view, 4> RTSControl{"Disable", "Enable", "Handshake",
                                                            "Toggle"};

inline constexpr std::string_view Yes = "Yes";
inline constexpr std::string_view No = "No";

}  // namespace SettingTexts

std::string FormatBaudRate(TBaudRate value);
TBaudRate ParseBaudRate(std::string_view text);  // fallback br9600
std::string FormatStopBits(TStopBits value);
TStopBits ParseStopBits(std::string_view text);  // fallback sbOneStopBit
std::string FormatDataBits(TDataBits value);
TDataBits ParseDataBits(std::string_view text);  // fallback dbEight
std::string FormatParity(TParityBits value);
TParityBits ParseParity(std::string_view text);  // fallback prNone
std::string FormatFlowControl(TFlowControl value);
TFlowControl ParseFlowControl(std::string_view text);  // fallback fcCustom
std::string FormatDTRControl(TDTRFlowControl value);
TDTRFlowControl ParseDTRControl(std::string_view text);  // fallback dtrDisable
std::string FormatRTSControl(TRTSFlowControl value);
TRTSFlowControl ParseRTSControl(std::string_view text);  // fallback rtsDisable

// "Yes" or "No".
std::string FormatBool(bool value);
// True only for "YES" in any letter case.
bool ParseBool(std::string_view text);

// Codes 33 to 127 as the character itself; every other code as "#" and the
// code in decimal ("#0", "#32", "#200").
std::string FormatChar(char value);
// Empty text: code 0. "#" followed by at least one character: the rest read
// as a signed 32-bit integer (leading blanks, optional sign, decimal, or
// hexadecimal after "$", "x", "X", "0x" or "0X"), whose low 8 bits give the
// code; code 0 when the rest is no such integer. Any other text: its first
// character ("#" alone gives '#').
char ParseChar(std::string_view text);

}  // namespace cport
