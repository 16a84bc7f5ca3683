// Port names of the network line: "tcp:PORT", "tcp:HOST:PORT",
// "rfc2217:PORT", "rfc2217:HOST:PORT" (the kind in any letter case).
//
// The host is an IPv4 address, a host name, or an IPv6 address in brackets
// ("rfc2217:[::1]:7000"); it defaults to 127.0.0.1. The port is 0 to 65535,
// and 0 lets the system pick a free one. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cport {

enum class NetworkProtocol {
  kRaw,      // tcp: the bytes as they are
  kRfc2217,  // rfc2217: telnet with the COM-PORT-OPTION
};

struct NetworkPortName {
  NetworkProtocol protocol = NetworkProtocol::kRaw;
  std::string host = "127.0.0.1";  // without brackets
  std::uint16_t port = 0;

  friend bool operator==(const NetworkPortName&, const NetworkPortName&) = default;
};

// The parts of a network port name; nullopt for a name that is not one
// (also for "tcp:" with a bad host or port).
std::optional<NetworkPortName> ParseNetworkPortName(std::string_view name);

// True when the name starts with "tcp:" or "rfc2217:", well formed or not.
bool LooksLikeNetworkPortName(std::string_view name);

// True for a host only this computer can reach: 127.x.y.z, ::1, "localhost".
bool IsLoopbackHost(std::string_view host);

// The address for a client: "socket://HOST:PORT" or "rfc2217://HOST:PORT"
// (pyserial's URL forms), the IPv6 host in brackets.
std::string ClientUrl(const NetworkPortName& name);

}  // namespace cport
