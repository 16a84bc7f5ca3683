// The on-disk form of the registry stand-in (platform/registry.h).
//
// A key's values file is text: a header line, then one line per value:
//   name <TAB> type number <TAB> data
// Name and data are escaped so that every byte value round-trips: bytes from
// '!' to '~' stand for themselves, except '%', and every other byte is
// written as '%' plus two upper-case hexadecimal digits. Text values thus read
// naturally ("Port\t1\tCOM1%00"), and no escaped field holds a tab or a line
// break.
//
// Key path parts become folder names the same way, after ASCII lower-casing
// (key names compare case-insensitively); only letters, digits, '_' and '-'
// stay as they are, so no folder name starts with '.' and none can collide
// with the values file or the lock file.
//
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace platform::registry_file {

using NamedValues = std::vector<std::pair<std::string, RegistryValue>>;

std::string EncodeKeyPart(std::string_view part);

std::string Escape(std::string_view bytes);
// Nothing when `text` holds a byte that Escape never writes or a bad escape.
std::optional<std::string> Unescape(std::string_view text);

std::string Format(const NamedValues& values);
// Nothing when the text is not a values file.
std::optional<NamedValues> Parse(std::string_view text);

}  // namespace platform::registry_file
