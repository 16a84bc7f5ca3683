#include "cport/network_port_name.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace cport {

namespace {

constexpr std::string_view kTcp = "tcp:";
constexpr std::string_view kRfc2217 = "rfc2217:";

bool StartsWithLetters(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

std::optional<std::uint16_t> PortNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  unsigned value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size() || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

bool PlainHost(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
  });
}

bool Ipv6Host(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
  });
}

// "PORT", "HOST:PORT" or "[V6]:PORT".
bool SplitAddress(std::string_view address, NetworkPortName& name) {
  std::string_view portText = address;
  if (address.starts_with('[')) {
    const std::size_t close = address.find(']');
    if (close == std::string_view::npos || address.substr(close + 1, 1) != ":") return false;
    const std::string_view host = address.substr(1, close - 1);
    if (!Ipv6Host(host)) return false;
    name.host = std::string(host);
    portText = address.substr(close + 2);
  } else if (const std::size_t colon = address.find(':'); colon != std::string_view::npos) {
    const std::string_view host = address.substr(0, colon);
    if (!PlainHost(host)) return false;
    name.host = std::string(host);
    portText = address.substr(colon + 1);
  }
  const std::optional<std::uint16_t> port = PortNumber(portText);
  if (!port) return false;
  name.port = *port;
  return true;
}

}  // namespace

bool LooksLikeNetworkPortName(std::string_view name) {
  return StartsWithLetters(name, kTcp) || StartsWithLetters(name, kRfc2217);
}

std::optional<NetworkPortName> ParseNetworkPortName(std::string_view name) {
  NetworkPortName parsed;
  std::string_view address;
  if (StartsWithLetters(name, kTcp)) {
    address = name.substr(kTcp.size());
  } else if (StartsWithLetters(name, kRfc2217)) {
    parsed.protocol = NetworkProtocol::kRfc2217;
    address = name.substr(kRfc2217.size());
  } else {
    return std::nullopt;
  }
  if (!SplitAddress(address, parsed)) return std::nullopt;
  return parsed;
}

bool IsLoopbackHost(std::string_view host) {
  if (host == "::1" || (host.size() == 9 && StartsWithLetters(host, "localhost"))) return true;
  return host.starts_with("127.") && PlainHost(host);
}

std::string ClientUrl(const NetworkPortName& name) {
  const bool v6 = name.host.find(':') != std::string::npos;
  const std::string host = v6 ? "[" + name.host + "]" : name.host;
  const char* scheme = name.protocol == NetworkProtocol::kRfc2217 ? "rfc2217://" : "socket://";
  return scheme + host + ":" + std::to_string(name.port);
}

}  // namespace cport
