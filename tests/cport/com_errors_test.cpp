// Error codes, their messages, EComPort and the two routes of ReportComError.
#include <gtest/gtest.h>

#include "cport/CPort.h"

namespace cport {
namespace {

struct MessageCase {
  int code;
  const char* message;
};

class ErrorMessages : public testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessages, EachCodeHasItsMessage) {
  EXPECT_EQ(ComErrorMessage(GetParam().code), GetParam().message);
  const EComPort withCode(GetParam().code);
  EXPECT_STREQ(withCode.what(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorMessages,
    testing::Values(
        MessageCase{1, "Unable to open com port"}, MessageCase{2, "WriteFile function failed"},
        MessageCase{3, "ReadFile function failed"}, MessageCase{4, "Invalid Async parameter"},
        MessageCase{5, "PurgeComm function failed"}, MessageCase{6, "Unable to get async status"},
        MessageCase{7, "SetCommState function failed"}, MessageCase{8, "SetCommTimeouts failed"},
        MessageCase{9, "SetupComm function failed"},
        MessageCase{10, "ClearCommError function failed"},
        MessageCase{11, "GetCommModemStatus function failed"},
        MessageCase{12, "EscapeCommFunction function failed"},
        MessageCase{13, "TransmitCommChar function failed"},
        MessageCase{14, "Cannot set property while connected"},
        MessageCase{15, "EnumPorts function failed"}, MessageCase{16, "Failed to store settings"},
        MessageCase{17, "Failed to load settings"}, MessageCase{18, "Link (un)registration failed"},
        MessageCase{19, "Cannot change led state if ComPort is selected"},
        MessageCase{20, "Cannot wait for event if event thread is created"},
        MessageCase{21, "WaitForEvent method failed"},
        MessageCase{22, "A component is linked to OnRxBuf event"},
        MessageCase{23, "Registry error"}, MessageCase{24, "Port Not Open"}));

TEST(ErrorMessagesOutsideTheTable, AreEmpty) {
  EXPECT_EQ(ComErrorMessage(0), "");
  EXPECT_EQ(ComErrorMessage(25), "");
  EXPECT_EQ(ComErrorMessage(-1), "");
  EXPECT_EQ(static_cast<int>(ecPortNotOpen), 24);
  EXPECT_EQ(static_cast<int>(ecRxBufLinked), 22);
}

TEST(EComPortForms, CodeAndSystemErrorGiveTheSuffix) {
  const EComPort error(1, 2);
  EXPECT_STREQ(error.what(), "Unable to open com port (Error: 2)");
  EXPECT_EQ(error.ComErrorCode(), 1);
  EXPECT_EQ(error.SystemErrorCode(), 2);

  const EComPort codeOnly(14);
  EXPECT_STREQ(codeOnly.what(), "Cannot set property while connected");
  EXPECT_EQ(codeOnly.SystemErrorCode(), -1);
}

EComPort Raised(TCustomComPort& port, std::uint16_t code, std::int64_t systemError) {
  try {
    port.ReportComError(code, systemError);
  } catch (const EComPort& e) {
    return e;
  }
  ADD_FAILURE() << "nothing raised";
  return EComPort(0);
}

TEST(ReportComErrorWithoutHandler, Raises) {
  TComPort port;
  EXPECT_STREQ(Raised(port, 1, 2).what(), "Unable to open com port (Error: 2)");

  const EComPort noSystem = Raised(port, 14, 0);
  EXPECT_EQ(noSystem.ComErrorCode(), 14);
  EXPECT_EQ(noSystem.SystemErrorCode(), -1);
  EXPECT_STREQ(noSystem.what(), "Cannot set property while connected");

  const EComPort negative = Raised(port, 24, -24);
  EXPECT_EQ(negative.SystemErrorCode(), -1);
  EXPECT_STREQ(negative.what(), "Port Not Open");

  const EComPort wide = Raised(port, 2, (std::int64_t{1} << 32) + 995);
  EXPECT_EQ(wide.SystemErrorCode(), 995);
}

struct ExceptionCall {
  TComExceptions code;
  std::string comportMessage;
  std::int64_t winError;
  std::string winMessage;
};

TEST(ReportComErrorWithHandler, CallsItInsteadOfRaising) {
  TComPort port;
  std::vector<ExceptionCall> calls;
  port.SetOnException([&](TCustomComPort& sender, TComExceptions code, const std::string& message,
                          std::int64_t winError, const std::string& winMessage) {
    EXPECT_EQ(&sender, &port);
    calls.push_back({code, message, winError, winMessage});
  });

  EXPECT_NO_THROW(port.ReportComError(8, 5));
  EXPECT_NO_THROW(port.ReportComError(24, -24));
  EXPECT_NO_THROW(port.ReportComError(14, 0));

  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].code, ecSetTimeoutsFailed);
  EXPECT_EQ(calls[0].comportMessage, "SetCommTimeouts failed");
  EXPECT_EQ(calls[0].winError, 5);
  EXPECT_EQ(calls[0].winMessage, "Systemfehler.  Code: 5.\r\n" + device::SystemErrorMessage(5));
  EXPECT_EQ(calls[1].code, ecPortNotOpen);
  EXPECT_EQ(calls[1].winError, -24);
  EXPECT_EQ(calls[1].winMessage, "");
  EXPECT_EQ(calls[2].comportMessage, "Cannot set property while connected");
  EXPECT_EQ(calls[2].winMessage, "");
}

}  // namespace
}  // namespace cport
