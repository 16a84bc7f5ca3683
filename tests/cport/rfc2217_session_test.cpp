#include "cport/detail/rfc2217_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cport::detail {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace telnet;

constexpr std::uint8_t kCom = kComPortOption;

Bytes Sub(std::uint8_t command, Bytes value) {
  Bytes bytes = {kIac, kSb, kCom, command};
  bytes.insert(bytes.end(), value.begin(), value.end());
  bytes.push_back(kIac);
  bytes.push_back(kSe);
  return bytes;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Recorder final : Rfc2217Host {
  Bytes data;
  Bytes sent;
  std::vector<ComPortSettings> settings;
  std::vector<std::pair<bool, bool>> signals;
  int breaks = 0;
  std::vector<std::uint8_t> purges;
  std::vector<bool> suspends;

  void OnData(std::span<const std::uint8_t> bytes) override {
    EXPECT_FALSE(bytes.empty());
    data.insert(data.end(), bytes.begin(), bytes.end());
  }
  void OnSend(std::span<const std::uint8_t> bytes) override {
    sent.insert(sent.end(), bytes.begin(), bytes.end());
  }
  void OnSettingsRequested(const ComPortSettings& s) override { settings.push_back(s); }
  void OnClientSignals(bool dtr, bool rts) override { signals.emplace_back(dtr, rts); }
  void OnBreak() override { ++breaks; }
  void OnPurge(std::uint8_t what) override { purges.push_back(what); }
  void OnFlowSuspended(bool on) override { suspends.push_back(on); }
  Bytes TakeSent() { return std::exchange(sent, {}); }
};

// A session past the opening: the client agreed to everything.
class Negotiated : public ::testing::Test {
 protected:
  Negotiated() {
    session.Start(host);
    session.Decode(Concat({{kIac, kDo, kBinary},
                           {kIac, kWill, kBinary},
                           {kIac, kDo, 3},
                           {kIac, kWill, 3},
                           {kIac, kDo, kCom},
                           {kIac, kWill, kCom}}),
                   host);
    host.sent.clear();
  }
  Bytes Feed(const Bytes& bytes) {
    session.Decode(bytes, host);
    return host.TakeSent();
  }

  Rfc2217Session session;
  Recorder host;
};

TEST(Rfc2217Opening, OffersAndAsksForBinarySgaAndComPort) {
  Rfc2217Session session;
  Recorder host;
  session.Start(host);
  EXPECT_EQ(host.sent, Concat({{kIac, kWill, 0},
                               {kIac, kDo, 0},
                               {kIac, kWill, 3},
                               {kIac, kDo, 3},
                               {kIac, kWill, kCom},
                               {kIac, kDo, kCom}}));
}

TEST(Rfc2217Opening, AnswersToOurRequestsAreNotAnsweredAgain) {
  Rfc2217Session session;
  Recorder host;
  session.Start(host);
  host.sent.clear();
  // The client's WILL COM-PORT-OPTION is the agreement to our DO: it turns
  // the option on and brings the first modem-state notification, nothing else.
  session.Decode(Concat({{kIac, kDo, 0}, {kIac, kWill, 0}, {kIac, kWill, kCom}}), host);
  EXPECT_TRUE(session.ComPortActive());
  EXPECT_EQ(host.sent, Sub(107, {0}));
}

TEST(Rfc2217Opening, ClientFirstGetsOneAgreement) {
  Rfc2217Session session;  // Start not called: the client speaks first
  Recorder host;
  session.Decode(Bytes{kIac, kWill, kCom, kIac, kWill, kCom}, host);
  EXPECT_EQ(host.sent, Concat({{kIac, kDo, kCom}, Sub(107, {0})}));
}

struct NegotiationCase {
  const char* name;
  Bytes in;
  Bytes out;
};

class Negotiation : public Negotiated, public ::testing::WithParamInterface<NegotiationCase> {};

TEST_P(Negotiation, Answers) {
  EXPECT_EQ(Feed(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Options, Negotiation,
    ::testing::Values(
        NegotiationCase{"UnknownDoIsRefused", {kIac, kDo, kEcho}, {kIac, kWont, kEcho}},
        NegotiationCase{"UnknownWillIsRefused", {kIac, kWill, 24}, {kIac, kDont, 24}},
        NegotiationCase{"UnknownDontNeedsNoAnswer", {kIac, kDont, 24}, {}},
        NegotiationCase{"UnknownWontNeedsNoAnswer", {kIac, kWont, 24}, {}},
        NegotiationCase{"EnabledAgainNeedsNoAnswer", {kIac, kDo, kBinary}, {}},
        NegotiationCase{"DontIsAcknowledgedOnce",
                        {kIac, kDont, kBinary, kIac, kDont, kBinary},
                        {kIac, kWont, kBinary}},
        NegotiationCase{
            "WontIsAcknowledgedOnce", {kIac, kWont, 3, kIac, kWont, 3}, {kIac, kDont, 3}},
        NegotiationCase{"OtherCommandsAreIgnored", {kIac, 241, kIac, 249, kIac, kSe}, {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Negotiated, DataPassesWithDoubledFfAsOneByte) {
  Feed({'a', kIac, kIac, 'b', '\r', 0, '\n'});
  EXPECT_EQ(host.data, (Bytes{'a', 0xFF, 'b', '\r', 0, '\n'})) << "binary: CR NUL is data";
}

TEST_F(Negotiated, EscapeDoublesFf) {
  Bytes out;
  Rfc2217Session::Escape(Bytes{1, 0xFF, 2, 0xFF, 0xFF}, out);
  EXPECT_EQ(out, (Bytes{1, 0xFF, 0xFF, 2, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(Rfc2217Data, CrNulFromATextClientIsACr) {
  Rfc2217Session session;
  Recorder host;
  session.Decode(Bytes{'a', '\r'}, host);
  session.Decode(Bytes{0, 'b', '\r', '\n'}, host);
  EXPECT_EQ(host.data, (Bytes{'a', '\r', 'b', '\r', '\n'}));
}

TEST(Rfc2217Data, EverySplitDecodesLikeTheWhole) {
  const Bytes stream = Concat({{'x', kIac, kIac},
                               Sub(1, {0, 0, 0x25, 0x80}),
                               {'y'},
                               {kIac, kDo, kEcho},
                               {kIac, kIac, 'z'}});
  Rfc2217Session wholeSession;
  Recorder whole;
  wholeSession.Decode(stream, whole);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    Rfc2217Session session;
    Recorder split;
    session.Decode(std::span(stream).first(cut), split);
    session.Decode(std::span(stream).subspan(cut), split);
    EXPECT_EQ(split.data, whole.data) << "cut at " << cut;
    EXPECT_EQ(split.sent, whole.sent) << "cut at " << cut;
  }
  EXPECT_EQ(whole.data, (Bytes{'x', 0xFF, 'y', 0xFF, 'z'}));
}

struct SubCase {
  const char* name;
  Bytes in;
  Bytes out;
};

class SubNegotiation : public Negotiated, public ::testing::WithParamInterface<SubCase> {};

TEST_P(SubNegotiation, IsAnsweredAsAnAccessServer) {
  EXPECT_EQ(Feed(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    ComPort, SubNegotiation,
    ::testing::Values(SubCase{"BaudRateSet", Sub(1, {0, 1, 0xC2, 0}), Sub(101, {0, 1, 0xC2, 0})},
                      SubCase{"BaudRateQuery", Sub(1, {0, 0, 0, 0}), Sub(101, {0, 0, 0x25, 0x80})},
                      SubCase{"BaudRateWithFfIsUnescaped", Sub(1, {0, 0, kIac, kIac, 0}),
                              Sub(101, {0, 0, kIac, kIac, 0})},
                      SubCase{"BaudRateOfWrongLengthIsIgnored", Sub(1, {0, 1}), {}},
                      SubCase{"DataSizeSet", Sub(2, {7}), Sub(102, {7})},
                      SubCase{"DataSizeOutOfRangeGetsTheCurrent", Sub(2, {9}), Sub(102, {8})},
                      SubCase{"ParitySet", Sub(3, {3}), Sub(103, {3})},
                      SubCase{"ParityUnknownGetsTheCurrent", Sub(3, {6}), Sub(103, {1})},
                      SubCase{"StopSizeSet", Sub(4, {2}), Sub(104, {2})},
                      SubCase{"StopSizeQuery", Sub(4, {0}), Sub(104, {1})},
                      SubCase{"FlowSet", Sub(5, {3}), Sub(105, {3})},
                      SubCase{"FlowQuery", Sub(5, {0}), Sub(105, {1})},
                      SubCase{"DtrOn", Sub(5, {8}), Sub(105, {8})},
                      SubCase{"DtrQuery", Sub(5, {7}), Sub(105, {9})},
                      SubCase{"RtsQuery", Sub(5, {10}), Sub(105, {12})},
                      SubCase{"BreakQuery", Sub(5, {4}), Sub(105, {6})},
                      SubCase{"InboundFlowQuery", Sub(5, {13}), Sub(105, {14})},
                      SubCase{"UnknownControlValueIsIgnored", Sub(5, {99}), {}},
                      SubCase{"LineStateMask", Sub(10, {0x60}), Sub(110, {0x60})},
                      SubCase{"ModemStateMask", Sub(11, {0x30}), Sub(111, {0x30})},
                      SubCase{"ModemStatePoll", Sub(7, {}), Sub(107, {0})},
                      SubCase{"LineStatePoll", Sub(6, {}), Sub(106, {0})},
                      SubCase{"Purge", Sub(12, {3}), Sub(112, {3})},
                      SubCase{"PurgeOfNothingKnownIsIgnored", Sub(12, {4}), {}},
                      SubCase{"SignatureQuery", Sub(0, {}),
                              Sub(100, {'Q', 'u', 'i', 'l', 'l', 'a', 'n', 'e'})},
                      SubCase{"ClientSignatureNeedsNoAnswer", Sub(0, {'p', 'y'}), {}},
                      SubCase{"SuspendNeedsNoAnswer", Sub(8, {}), {}},
                      SubCase{"UnknownCommandIsIgnored", Sub(77, {1}), {}},
                      SubCase{"OtherOptionIsIgnored", Bytes{kIac, kSb, 24, 1, kIac, kSe}, {}},
                      SubCase{"EmptyIsIgnored", Bytes{kIac, kSb, kIac, kSe}, {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Negotiated, SettingsAreReportedOnceADecodeWhenTheyChange) {
  Feed(Concat({Sub(1, {0, 1, 0xC2, 0}), Sub(2, {8}), Sub(3, {1}), Sub(4, {1})}));
  ASSERT_EQ(host.settings.size(), 1u);
  EXPECT_EQ(DescribeSettings(host.settings[0]),
            "115200 baud, 8 data bits, no parity, 1 stop bit, no flow control");
  Feed(Concat({Sub(1, {0, 1, 0xC2, 0}), Sub(2, {8})}));
  EXPECT_EQ(host.settings.size(), 1u) << "the same again is no change";
  Feed(Concat({Sub(3, {3}), Sub(4, {3}), Sub(2, {7}), Sub(5, {2})}));
  ASSERT_EQ(host.settings.size(), 2u);
  EXPECT_EQ(DescribeSettings(host.settings[1]),
            "115200 baud, 7 data bits, even parity, 1.5 stop bits, XON/XOFF flow control");
}

TEST_F(Negotiated, ClientSignalsBreakPurgeAndFlowReachTheHost) {
  Feed(Concat({Sub(5, {8}), Sub(5, {8}), Sub(5, {11}), Sub(5, {9})}));
  EXPECT_EQ(host.signals,
            (std::vector<std::pair<bool, bool>>{{true, false}, {true, true}, {false, true}}));
  Feed(Concat({Sub(5, {5}), Sub(5, {5}), Sub(5, {6}), Sub(5, {5})}));
  EXPECT_EQ(host.breaks, 2) << "once each time break comes on";
  Feed(Concat({Sub(12, {1}), Sub(12, {2}), Sub(8, {}), Sub(9, {})}));
  EXPECT_EQ(host.purges, (std::vector<std::uint8_t>{1, 2}));
  EXPECT_EQ(host.suspends, (std::vector<bool>{true, false}));
}

TEST_F(Negotiated, ModemChangesAreNotifiedUnderTheMask) {
  using namespace comport;
  session.SetModemState(kModemDsr, host);
  EXPECT_EQ(host.TakeSent(), Sub(107, {kModemDsr | kModemDeltaDsr}));
  session.SetModemState(kModemDsr, host);
  EXPECT_EQ(host.TakeSent(), Bytes{}) << "no change, no notification";
  Feed(Sub(11, {kModemCts | kModemDeltaCts}));
  session.SetModemState(kModemDsr | kModemCts, host);
  EXPECT_EQ(host.TakeSent(), Sub(107, {kModemCts | kModemDeltaCts}));
  session.SetModemState(kModemCts, host);
  EXPECT_EQ(host.TakeSent(), Bytes{}) << "DSR is masked out";
}

TEST_F(Negotiated, LineStateIsNotifiedOnlyUnderItsMask) {
  session.SetLineState(0x60, host);
  EXPECT_EQ(host.TakeSent(), Bytes{}) << "the line-state mask starts empty";
  Feed(Sub(10, {0x40}));
  session.SetLineState(0x20, host);
  EXPECT_EQ(host.TakeSent(), Sub(106, {0}));
}

TEST(Rfc2217Notify, NothingBeforeTheClientAgreedToComPort) {
  Rfc2217Session session;
  Recorder host;
  session.SetModemState(comport::kModemCts, host);
  EXPECT_TRUE(host.sent.empty());
}

TEST_F(Negotiated, AnOverlongSubnegotiationIsDroppedAndDataGoesOn) {
  Bytes endless = {kIac, kSb, kCom, 1};
  endless.insert(endless.end(), 100000, 0x42);
  EXPECT_EQ(Feed(endless), Bytes{});
  EXPECT_EQ(Feed(Concat({{kIac, kSe, 'a'}, Sub(2, {7})})), Sub(102, {7}));
  EXPECT_EQ(host.data, Bytes{'a'});
}

TEST_F(Negotiated, ACutSubnegotiationGivesWayToTheNextCommand) {
  EXPECT_EQ(Feed(Concat({{kIac, kSb, kCom, 1, 0, 0}, {kIac, kDo, kEcho}, {'a'}})),
            (Bytes{kIac, kWont, kEcho}));
  EXPECT_EQ(host.data, Bytes{'a'});
  EXPECT_EQ(Feed(Sub(2, {6})), Sub(102, {6})) << "the next one is served whole";
}

TEST(Rfc2217Settings, DescribeNamesEveryChoice) {
  ComPortSettings s{.baudRate = 300, .dataSize = 5, .parity = 2, .stopSize = 2, .flowControl = 3};
  EXPECT_EQ(DescribeSettings(s),
            "300 baud, 5 data bits, odd parity, 2 stop bits, "
            "hardware flow control");
  s.parity = 4;
  EXPECT_EQ(DescribeSettings(s).find("mark parity") != std::string::npos, true);
  s.parity = 5;
  EXPECT_EQ(DescribeSettings(s).find("space parity") != std::string::npos, true);
}

}  // namespace
}  // namespace cport::detail
