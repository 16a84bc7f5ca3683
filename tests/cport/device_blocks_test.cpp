// The device control block and timeouts record built from port settings,
// and the status words read back into sets.
#include "cport/device_blocks.h"

#include <gtest/gtest.h>

#include <functional>

namespace cport {
namespace {

using device::DWORD;

struct LineSettings {
  TBaudRate baudRate = br9600;
  std::int32_t customBaudRate = 9600;
  TStopBits stopBits = sbOneStopBit;
  TDataBits dataBits = dbEight;
  bool discardNull = false;
  char eventChar = 0;
  TComParity parity;
  TComFlowControl flow;
  TComBuffer buffer;

  device::DCB Build() const {
    return BuildDCB(baudRate, customBaudRate, stopBits, dataBits, discardNull, eventChar, parity,
                    flow, buffer);
  }
};

TEST(DeviceControlBlock, DefaultSettingsGiveTheDefaultBlock) {
  const device::DCB dcb = LineSettings{}.Build();
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.Flags, 0x00000001u);
  EXPECT_EQ(dcb.wReserved, 0);
  EXPECT_EQ(dcb.XonLim, 256);
  EXPECT_EQ(dcb.XoffLim, 256);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, device::NOPARITY);
  EXPECT_EQ(dcb.StopBits, device::ONESTOPBIT);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
  EXPECT_EQ(dcb.wReserved1, 0);
}

struct FlagCase {
  const char* name;
  std::function<void(LineSettings&)> change;
  DWORD flags;
};

class FlagsWord : public testing::TestWithParam<FlagCase> {};

TEST_P(FlagsWord, EachSettingSetsItsBitsOnly) {
  LineSettings settings;
  GetParam().change(settings);
  EXPECT_EQ(settings.Build().Flags, GetParam().flags);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, FlagsWord,
    testing::Values(
        FlagCase{"ParityCheck", [](LineSettings& s) { s.parity.SetCheck(true); }, 0x3},
        FlagCase{"OutCTSFlow", [](LineSettings& s) { s.flow.SetOutCTSFlow(true); }, 0x5},
        FlagCase{"OutDSRFlow", [](LineSettings& s) { s.flow.SetOutDSRFlow(true); }, 0x9},
        FlagCase{"DtrEnable", [](LineSettings& s) { s.flow.SetControlDTR(dtrEnable); }, 0x11},
        FlagCase{"DtrHandshake", [](LineSettings& s) { s.flow.SetControlDTR(dtrHandshake); }, 0x21},
        FlagCase{"DSRSensitivity", [](LineSettings& s) { s.flow.SetDSRSensitivity(true); }, 0x41},
        FlagCase{"TxContinueOnXoff", [](LineSettings& s) { s.flow.SetTxContinueOnXoff(true); },
                 0x81},
        FlagCase{"XonXoffOut", [](LineSettings& s) { s.flow.SetXonXoffOut(true); }, 0x101},
        FlagCase{"XonXoffIn", [](LineSettings& s) { s.flow.SetXonXoffIn(true); }, 0x201},
        FlagCase{"CheckAndReplace",
                 [](LineSettings& s) {
                   s.parity.SetCheck(true);
                   s.parity.SetReplace(true);
                 },
                 0x403},
        FlagCase{"ReplaceWithoutCheck", [](LineSettings& s) { s.parity.SetReplace(true); }, 0x1},
        FlagCase{"DiscardNull", [](LineSettings& s) { s.discardNull = true; }, 0x801},
        FlagCase{"RtsEnable", [](LineSettings& s) { s.flow.SetControlRTS(rtsEnable); }, 0x1001},
        FlagCase{"RtsHandshake", [](LineSettings& s) { s.flow.SetControlRTS(rtsHandshake); },
                 0x2001},
        FlagCase{"RtsToggle", [](LineSettings& s) { s.flow.SetControlRTS(rtsToggle); }, 0x3001},
        FlagCase{"HardwareSummary", [](LineSettings& s) { s.flow.SetFlowControl(fcHardware); },
                 0x2005},
        FlagCase{"SoftwareSummary", [](LineSettings& s) { s.flow.SetFlowControl(fcSoftware); },
                 0x301}),
    [](const testing::TestParamInfo<FlagCase>& p) { return p.param.name; });

TEST(DeviceControlBlock, ErrorCharacterOnlyWithParityCheckAndReplace) {
  LineSettings settings;
  settings.parity.SetReplaceChar('?');
  settings.parity.SetReplace(true);
  EXPECT_EQ(settings.Build().ErrorChar, 0);
  settings.parity.SetCheck(true);
  EXPECT_EQ(settings.Build().ErrorChar, '?');
  settings.parity.SetReplace(false);
  EXPECT_EQ(settings.Build().ErrorChar, 0);
}

TEST(DeviceControlBlock, XonXoffLimitsAreAQuarterOfTheInputQueue) {
  const std::pair<std::int32_t, device::WORD> cases[] = {
      {1024, 256}, {6, 1}, {2, 0}, {0, 0}, {-3, 0}, {-8, 0xFFFE}, {400000, 0x86A0}};
  for (const auto& [size, limit] : cases) {
    LineSettings settings;
    settings.buffer.SetInputSize(size);
    const device::DCB dcb = settings.Build();
    EXPECT_EQ(dcb.XonLim, limit) << size;
    EXPECT_EQ(dcb.XoffLim, limit) << size;
  }
}

TEST(DeviceControlBlock, RatesFollowTheSettingAndCustomPassesUnchanged) {
  const DWORD rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                         14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (int i = 1; i <= br256000; ++i) {
    LineSettings settings;
    settings.baudRate = static_cast<TBaudRate>(i);
    settings.customBaudRate = 31250;
    EXPECT_EQ(settings.Build().BaudRate, rates[i]) << i;
  }
  LineSettings custom;
  custom.baudRate = brCustom;
  custom.customBaudRate = 31250;
  EXPECT_EQ(custom.Build().BaudRate, 31250u);
}

TEST(DeviceControlBlock, FrameFieldsAndCharacters) {
  LineSettings settings;
  settings.dataBits = dbFive;
  settings.stopBits = sbOne5StopBits;
  settings.parity.SetBits(prMark);
  settings.eventChar = '\n';
  settings.flow.SetXonChar('A');
  settings.flow.SetXoffChar('\xFE');
  device::DCB dcb = settings.Build();
  EXPECT_EQ(dcb.ByteSize, 5);
  EXPECT_EQ(dcb.StopBits, device::ONE5STOPBITS);
  EXPECT_EQ(dcb.Parity, device::MARKPARITY);
  EXPECT_EQ(dcb.EvtChar, '\n');
  EXPECT_EQ(dcb.XonChar, 'A');
  EXPECT_EQ(dcb.XoffChar, '\xFE');

  settings.dataBits = dbSeven;
  settings.stopBits = sbTwoStopBits;
  settings.parity.SetBits(prSpace);
  dcb = settings.Build();
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.StopBits, device::TWOSTOPBITS);
  EXPECT_EQ(dcb.Parity, device::SPACEPARITY);
}

TEST(TimeoutsRecord, DefaultsAndValuesPassUnchanged) {
  TComTimeouts timeouts;
  EXPECT_EQ(BuildTimeouts(timeouts), (device::COMMTIMEOUTS{device::MAXDWORD, 0, 0, 100, 1000}));
  timeouts.SetReadInterval(5);
  timeouts.SetReadTotalMultiplier(-2);
  timeouts.SetReadTotalConstant(7);
  timeouts.SetWriteTotalMultiplier(0);
  timeouts.SetWriteTotalConstant(3);
  EXPECT_EQ(BuildTimeouts(timeouts), (device::COMMTIMEOUTS{5, 0xFFFFFFFE, 7, 0, 3}));
}

TEST(StatusWords, ModemStatusBits) {
  EXPECT_TRUE(ModemSignalsFromStatus(0).Empty());
  EXPECT_EQ(ModemSignalsFromStatus(device::MS_CTS_ON | device::MS_RLSD_ON | 0x0F),
            (TModemSignals{msCTS, msRLSD}));
  EXPECT_EQ(ModemSignalsFromStatus(0xF0).ToBits(), 0x0F);
}

TEST(StatusWords, LineErrorBitsWithParityOnlyWhileChecked) {
  const DWORD all = device::CE_FRAME | device::CE_RXPARITY | device::CE_OVERRUN | device::CE_BREAK |
                    device::CE_IOE | device::CE_MODE | device::CE_RXOVER | device::CE_TXFULL;
  EXPECT_EQ(LineErrorsFromWord(all, true).ToBits(), 0xFF);
  EXPECT_EQ(LineErrorsFromWord(all, false).ToBits(), 0xFD);
  EXPECT_EQ(LineErrorsFromWord(device::CE_FRAME | device::CE_RXPARITY, false),
            (TComErrors{lnFraming}));
  EXPECT_TRUE(LineErrorsFromWord(0x0200 | 0x0020, true).Empty());  // bits outside the table
}

}  // namespace
}  // namespace cport
