#include "cport/network_port_name.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

using P = NetworkProtocol;

struct NameCase {
  const char* text;
  std::optional<NetworkPortName> parsed;
};

class NetworkPortNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(NetworkPortNames, Parse) {
  EXPECT_EQ(ParseNetworkPortName(GetParam().text), GetParam().parsed) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, NetworkPortNames,
    ::testing::Values(
        NameCase{"tcp:7000", NetworkPortName{P::kRaw, "127.0.0.1", 7000}},
        NameCase{"TCP:7000", NetworkPortName{P::kRaw, "127.0.0.1", 7000}},
        NameCase{"rfc2217:7000", NetworkPortName{P::kRfc2217, "127.0.0.1", 7000}},
        NameCase{"tcp:0.0.0.0:65535", NetworkPortName{P::kRaw, "0.0.0.0", 65535}},
        NameCase{"rfc2217:lab-pc.local:23", NetworkPortName{P::kRfc2217, "lab-pc.local", 23}},
        NameCase{"tcp:[::1]:7000", NetworkPortName{P::kRaw, "::1", 7000}},
        NameCase{"rfc2217:[fe80::1]:0", NetworkPortName{P::kRfc2217, "fe80::1", 0}},
        NameCase{"tcp:0", NetworkPortName{P::kRaw, "127.0.0.1", 0}}, NameCase{"tcp:", std::nullopt},
        NameCase{"tcp:65536", std::nullopt}, NameCase{"tcp:-1", std::nullopt},
        NameCase{"tcp:70x", std::nullopt}, NameCase{"tcp:000007000", std::nullopt},
        NameCase{"tcp::7000", std::nullopt}, NameCase{"tcp:host:", std::nullopt},
        NameCase{"tcp:a:b:7000", std::nullopt}, NameCase{"tcp:[::1]7000", std::nullopt},
        NameCase{"tcp:[::1:7000", std::nullopt}, NameCase{"tcp:[]:7000", std::nullopt},
        NameCase{"tcp:[zz]:7000", std::nullopt}, NameCase{"tcp:ho st:7000", std::nullopt},
        NameCase{"udp:7000", std::nullopt}, NameCase{"COM1", std::nullopt},
        NameCase{"/dev/tcp:1", std::nullopt}, NameCase{"", std::nullopt}));

TEST(NetworkPortNameKind, MalformedNamesStillLookLikeNetworkNames) {
  EXPECT_TRUE(LooksLikeNetworkPortName("tcp:nonsense"));
  EXPECT_TRUE(LooksLikeNetworkPortName("RFC2217:"));
  EXPECT_FALSE(LooksLikeNetworkPortName("virtual"));
  EXPECT_FALSE(LooksLikeNetworkPortName("tc"));
}

TEST(NetworkPortNameHost, LoopbackHosts) {
  for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "localhost", "LocalHost"})
    EXPECT_TRUE(IsLoopbackHost(host)) << host;
  for (const char* host : {"0.0.0.0", "192.168.1.2", "::", "localhost.example.org", "128.0.0.1"})
    EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

TEST(NetworkPortNameUrl, PyserialForms) {
  EXPECT_EQ(ClientUrl({P::kRaw, "127.0.0.1", 7000}), "socket://127.0.0.1:7000");
  EXPECT_EQ(ClientUrl({P::kRfc2217, "::1", 23}), "rfc2217://[::1]:23");
}

}  // namespace
}  // namespace cport
