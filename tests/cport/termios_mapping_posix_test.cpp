#include "cport/posix/termios_mapping.h"

#include <gtest/gtest.h>

namespace cport::detail {
namespace {

using namespace cport::device;

DCB DefaultDcb() {
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.Flags = DCB_fBinary;
  dcb.XonLim = 256;
  dcb.XoffLim = 256;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

termios Mapped(const DCB& dcb) {
  termios tio{};
  EXPECT_EQ(MapDcbToTermios(dcb, tio), ERROR_SUCCESS);
  return tio;
}

TEST(TermiosMapping, DefaultDcbGivesRawEightNoneOne) {
  const termios tio = Mapped(DefaultDcb());
  EXPECT_EQ(tio.c_iflag, 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_cc[VMIN], 1);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
}

TEST(TermiosMapping, RawModeReplacesWhateverWasSetBefore) {
  termios tio{};
  tio.c_iflag = ICRNL | IGNBRK | BRKINT | IGNPAR | ISTRIP;
  tio.c_oflag = OPOST | ONLCR;
  tio.c_lflag = ICANON | ECHO | ISIG;
  tio.c_cflag = PARENB | CS7;
  ASSERT_EQ(MapDcbToTermios(DefaultDcb(), tio), ERROR_SUCCESS);
  EXPECT_EQ(tio.c_iflag, 0u);
  EXPECT_EQ(tio.c_oflag, 0u);
  EXPECT_EQ(tio.c_lflag, 0u);
  EXPECT_EQ(tio.c_cflag & (PARENB | CSIZE), static_cast<tcflag_t>(CS8));
}

struct FramingCase {
  BYTE byteSize;
  BYTE parity;
  BYTE stopBits;
  DWORD result;
  tcflag_t cflag;  // the framing bits expected on success
};

class Framing : public testing::TestWithParam<FramingCase> {};

TEST_P(Framing, MapsDataBitsParityAndStopBits) {
  const FramingCase& c = GetParam();
  DCB dcb = DefaultDcb();
  dcb.ByteSize = c.byteSize;
  dcb.Parity = c.parity;
  dcb.StopBits = c.stopBits;
  termios tio{};
  ASSERT_EQ(MapDcbToTermios(dcb, tio), c.result);
  if (c.result == ERROR_SUCCESS) {
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), c.cflag);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Framing,
    testing::Values(FramingCase{5, NOPARITY, ONESTOPBIT, ERROR_SUCCESS, CS5},
                    FramingCase{6, ODDPARITY, ONESTOPBIT, ERROR_SUCCESS, CS6 | PARENB | PARODD},
                    FramingCase{7, EVENPARITY, ONESTOPBIT, ERROR_SUCCESS, CS7 | PARENB},
                    FramingCase{8, MARKPARITY, ONESTOPBIT, ERROR_SUCCESS,
                                CS8 | PARENB | PARODD | CMSPAR},
                    FramingCase{8, SPACEPARITY, ONESTOPBIT, ERROR_SUCCESS, CS8 | PARENB | CMSPAR},
                    FramingCase{5, NOPARITY, ONE5STOPBITS, ERROR_SUCCESS, CS5 | CSTOPB},
                    FramingCase{6, NOPARITY, TWOSTOPBITS, ERROR_SUCCESS, CS6 | CSTOPB},
                    FramingCase{8, NOPARITY, TWOSTOPBITS, ERROR_SUCCESS, CS8 | CSTOPB},
                    FramingCase{6, NOPARITY, ONE5STOPBITS, ERROR_INVALID_PARAMETER, 0},
                    FramingCase{8, NOPARITY, ONE5STOPBITS, ERROR_INVALID_PARAMETER, 0},
                    FramingCase{5, NOPARITY, TWOSTOPBITS, ERROR_INVALID_PARAMETER, 0},
                    FramingCase{8, NOPARITY, 3, ERROR_INVALID_PARAMETER, 0},
                    FramingCase{4, NOPARITY, ONESTOPBIT, ERROR_INVALID_PARAMETER, 0},
                    FramingCase{9, NOPARITY, ONESTOPBIT, ERROR_INVALID_PARAMETER, 0},
                    FramingCase{8, 5, ONESTOPBIT, ERROR_INVALID_PARAMETER, 0}));

struct FlowCase {
  const char* name;
  DWORD flags;
  DWORD result;
  tcflag_t cflag;  // CRTSCTS expected
  tcflag_t iflag;  // IXON, IXOFF, INPCK, PARMRK expected
};

class Flow : public testing::TestWithParam<FlowCase> {};

TEST_P(Flow, MapsFlowControlAndChecking) {
  const FlowCase& c = GetParam();
  DCB dcb = DefaultDcb();
  dcb.Flags = DCB_fBinary | c.flags;
  termios tio{};
  ASSERT_EQ(MapDcbToTermios(dcb, tio), c.result);
  if (c.result == ERROR_SUCCESS) {
    EXPECT_EQ(tio.c_cflag & CRTSCTS, c.cflag);
    EXPECT_EQ(tio.c_iflag, c.iflag);
  }
}

constexpr DWORD kRtsHandshake = RTS_CONTROL_HANDSHAKE << DCB_fRtsControlShift;

INSTANTIATE_TEST_SUITE_P(
    Table, Flow,
    testing::Values(
        FlowCase{"None", 0, ERROR_SUCCESS, 0, 0},
        FlowCase{"Hardware", DCB_fOutxCtsFlow | kRtsHandshake, ERROR_SUCCESS, CRTSCTS, 0},
        FlowCase{"CtsOnly", DCB_fOutxCtsFlow, ERROR_SUCCESS, CRTSCTS, 0},
        FlowCase{"RtsHandshakeOnly", kRtsHandshake, ERROR_SUCCESS, CRTSCTS, 0},
        FlowCase{"XonXoffOut", DCB_fOutX, ERROR_SUCCESS, 0, IXON},
        FlowCase{"XonXoffIn", DCB_fInX, ERROR_SUCCESS, 0, IXOFF},
        FlowCase{"XonXoffBoth", DCB_fOutX | DCB_fInX, ERROR_SUCCESS, 0, IXON | IXOFF},
        FlowCase{"ParityCheck", DCB_fParity, ERROR_SUCCESS, 0, INPCK | PARMRK},
        FlowCase{"ContinueOnXoffIsHarmless", DCB_fTXContinueOnXoff, ERROR_SUCCESS, 0, 0},
        FlowCase{"DsrFlow", DCB_fOutxDsrFlow, ERROR_INVALID_PARAMETER, 0, 0},
        FlowCase{"DsrSensitivity", DCB_fDsrSensitivity, ERROR_INVALID_PARAMETER, 0, 0},
        FlowCase{"DtrHandshake", DTR_CONTROL_HANDSHAKE << DCB_fDtrControlShift,
                 ERROR_INVALID_PARAMETER, 0, 0},
        FlowCase{"RtsToggle", RTS_CONTROL_TOGGLE << DCB_fRtsControlShift, ERROR_INVALID_PARAMETER,
                 0, 0},
        FlowCase{"AbortOnError", DCB_fAbortOnError, ERROR_INVALID_PARAMETER, 0, 0}),
    [](const testing::TestParamInfo<FlowCase>& caseInfo) {
      return std::string(caseInfo.param.name);
    });

TEST(TermiosMapping, XonXoffCharactersBecomeStartAndStop) {
  DCB dcb = DefaultDcb();
  dcb.Flags |= DCB_fOutX | DCB_fInX;
  dcb.XonChar = 'Q';
  dcb.XoffChar = 'S';
  const termios tio = Mapped(dcb);
  EXPECT_EQ(tio.c_cc[VSTART], 'Q');
  EXPECT_EQ(tio.c_cc[VSTOP], 'S');
}

TEST(TermiosMapping, EqualXonAndXoffAreRefusedOnlyWhenSoftwareFlowIsOn) {
  DCB dcb = DefaultDcb();
  dcb.XonChar = dcb.XoffChar = 17;
  termios tio{};
  EXPECT_EQ(MapDcbToTermios(dcb, tio), ERROR_SUCCESS);
  dcb.Flags |= DCB_fInX;
  EXPECT_EQ(MapDcbToTermios(dcb, tio), ERROR_INVALID_PARAMETER);
}

TEST(TermiosMapping, ZeroRateIsRefused) {
  DCB dcb = DefaultDcb();
  dcb.BaudRate = 0;
  termios tio{};
  EXPECT_EQ(MapDcbToTermios(dcb, tio), ERROR_INVALID_PARAMETER);
}

TEST(TermiosMapping, StandardRatesUseTheSpeedConstants) {
  EXPECT_EQ(StandardSpeed(110), static_cast<speed_t>(B110));
  EXPECT_EQ(StandardSpeed(115200), static_cast<speed_t>(B115200));
  EXPECT_EQ(StandardSpeed(4000000), static_cast<speed_t>(B4000000));
  // Windows rates the tty table lacks go through termios2.
  for (const DWORD rate : {14400u, 56000u, 128000u, 256000u, 12345u, 0u}) {
    EXPECT_EQ(StandardSpeed(rate), static_cast<speed_t>(B0)) << rate;
  }
}

TEST(TermiosMapping, OtherRateKeepsTheCurrentRateBitsEvenACustomOne) {
  DCB dcb = DefaultDcb();
  dcb.BaudRate = 256000;
  termios tio{};
  cfsetspeed(&tio, B57600);
  ASSERT_EQ(MapDcbToTermios(dcb, tio), ERROR_SUCCESS);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B57600));
  // A rate set through termios2 reads back as BOTHER; it must not become B0,
  // which would drop DTR.
  // (BOTHER is CBAUDEX with no rate bits; <termios.h> does not name it.)
  tio.c_cflag = (tio.c_cflag & ~CBAUD) | CBAUDEX;
  ASSERT_EQ(MapDcbToTermios(dcb, tio), ERROR_SUCCESS);
  EXPECT_EQ(tio.c_cflag & CBAUD, static_cast<tcflag_t>(CBAUDEX));
}

struct LevelsCase {
  DWORD dtrControl;
  DWORD rtsControl;
  ModemLevels levels;
};

class Levels : public testing::TestWithParam<LevelsCase> {};

TEST_P(Levels, DtrAndRtsFollowTheirControl) {
  DCB dcb = DefaultDcb();
  dcb.Flags |= GetParam().dtrControl << DCB_fDtrControlShift;
  dcb.Flags |= GetParam().rtsControl << DCB_fRtsControlShift;
  EXPECT_EQ(ModemLevelsFor(dcb), GetParam().levels);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Levels,
    testing::Values(
        LevelsCase{DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, {}},
        LevelsCase{DTR_CONTROL_ENABLE, RTS_CONTROL_DISABLE, {.dtr = true, .rts = false}},
        LevelsCase{DTR_CONTROL_DISABLE, RTS_CONTROL_ENABLE, {.dtr = false, .rts = true}},
        LevelsCase{DTR_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, {.dtr = true, .rts = true}}));

TEST(TermiosReadBack, DroppedSettingsAreNoticed) {
  DCB dcb = DefaultDcb();
  dcb.Flags |= DCB_fOutxCtsFlow | DCB_fInX;
  const termios wanted = Mapped(dcb);
  EXPECT_TRUE(TermiosTook(wanted, wanted, false));

  termios noHandshake = wanted;
  noHandshake.c_cflag &= ~CRTSCTS;
  EXPECT_FALSE(TermiosTook(wanted, noHandshake, false));
  EXPECT_FALSE(TermiosTook(wanted, noHandshake, true));

  termios noXoff = wanted;
  noXoff.c_iflag &= ~IXOFF;
  EXPECT_FALSE(TermiosTook(wanted, noXoff, false));

  termios otherStop = wanted;
  otherStop.c_cc[VSTOP] = 'x';
  EXPECT_FALSE(TermiosTook(wanted, otherStop, false));

  termios otherRate = wanted;
  cfsetspeed(&otherRate, B300);
  EXPECT_TRUE(TermiosTook(wanted, otherRate, false)) << "the rate is checked on its own";
}

TEST(TermiosReadBack, PseudoTerminalMayForceEightBitsWithoutParity) {
  DCB dcb = DefaultDcb();
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  const termios wanted = Mapped(dcb);
  termios forced = wanted;
  forced.c_cflag = (forced.c_cflag & ~(CSIZE | PARENB)) | CS8;
  EXPECT_FALSE(TermiosTook(wanted, forced, false));
  EXPECT_TRUE(TermiosTook(wanted, forced, true));

  termios lostStopBit = forced;
  lostStopBit.c_cflag &= ~CSTOPB;
  EXPECT_FALSE(TermiosTook(wanted, lostStopBit, true));
}

TEST(TermiosReadBack, RateWithinTwoPercentTook) {
  EXPECT_TRUE(RateTook(115200, 115200));
  EXPECT_TRUE(RateTook(250000, 245000));
  EXPECT_TRUE(RateTook(250000, 255000));
  EXPECT_FALSE(RateTook(115200, 111111));
  EXPECT_FALSE(RateTook(256000, 38400));
}

}  // namespace
}  // namespace cport::detail
