// The native window made hidden: its controls as the system sees them
// (class, caption, rectangle, style, font, tab order), and what reaches the
// window logic when the user works them.
#include "platform/win32/windows_headers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/win32/server_main_window.h"

namespace app::win32 {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct Change {
  std::string box;
  int index;
  std::string text;
  friend bool operator==(const Change&, const Change&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Change& c) {
    return out << c.box << "(" << c.index << ", " << c.text << ")";
  }
};

class RecordingHandlers : public ServerViewHandlers {
 public:
  void cbComPortNrChange(int index, const std::string& text) override {
    changes.push_back({"port", index, text});
  }
  void cbBaudRateChange(int index, const std::string& text) override {
    changes.push_back({"baud", index, text});
    if (text == "fast") throw std::invalid_argument("'fast' is not a valid baud rate");
  }
  void btOpenPortClick() override { ++openClicks; }
  void btClosePortClick() override { ++closeClicks; }

  std::vector<Change> changes;
  int openClicks = 0;
  int closeClicks = 0;
};

// What the system knows of one control.
struct Control {
  std::string windowClass;
  std::string caption;
  RECT rect;  // in its parent's client coordinates
  LONG style;
};

Control Inspect(HWND window) {
  Control control{};
  char buffer[256] = {};
  ::GetClassNameA(window, buffer, sizeof buffer);
  control.windowClass = buffer;
  ::GetWindowTextA(window, buffer, sizeof buffer);
  control.caption = buffer;
  ::GetWindowRect(window, &control.rect);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(window), reinterpret_cast<POINT*>(&control.rect), 2);
  control.style = ::GetWindowLongA(window, GWL_STYLE);
  return control;
}

bool HasStyle(HWND window, LONG bits) {
  return (::GetWindowLongA(window, GWL_STYLE) & bits) == bits;
}

RECT Rect(int left, int top, int width, int height) {
  return RECT{left, top, left + width, top + height};
}

void ExpectRect(const RECT& actual, const RECT& expected) {
  EXPECT_EQ(actual.left, expected.left);
  EXPECT_EQ(actual.top, expected.top);
  EXPECT_EQ(actual.right, expected.right);
  EXPECT_EQ(actual.bottom, expected.bottom);
}

std::vector<std::string> Entries(HWND box) {
  std::vector<std::string> entries;
  const auto count = ::SendMessageA(box, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[64] = {};
    ::SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    entries.emplace_back(text);
  }
  return entries;
}

std::wstring LogText(ServerMainWindow& window) {
  window.FlushLog();
  const HWND log = window.meRX();
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(log)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(log, text.data(), static_cast<int>(text.size()))));
  return text;
}

class ServerMainWindowTest : public ::testing::Test {
 protected:
  ServerMainWindowTest() { window.SetHandlers(&handlers); }

  // What a list sends its parent when the user works it.
  void Notify(HWND box, int code) {
    ::SendMessageA(::GetParent(box), WM_COMMAND,
                   MAKEWPARAM(::GetDlgCtrlID(box), static_cast<WORD>(code)),
                   reinterpret_cast<LPARAM>(box));
  }
  void Choose(HWND box, int index) {
    ::SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Notify(box, CBN_SELCHANGE);
  }
  void Type(HWND box, const char* text) {
    ::SetWindowTextA(box, text);
    Notify(box, CBN_KILLFOCUS);
  }

  std::vector<std::string> errors;
  RecordingHandlers handlers;
  ServerMainWindow window{[this](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      errors.emplace_back(e.what());
    }
  }};
};

TEST_F(ServerMainWindowTest, TheWindowHasItsCaptionPlaceAndSize) {
  const HWND form = window.frmSerialServer();
  const Control frm = Inspect(form);
  EXPECT_EQ(frm.windowClass, "TfrmSerialServer");
  EXPECT_EQ(frm.caption, "serial server; Korrin service");
  ExpectRect(frm.rect, Rect(133, 217, 591, 418));
  EXPECT_TRUE(HasStyle(form, WS_OVERLAPPEDWINDOW));
  EXPECT_FALSE(::IsWindowVisible(form));

  // The client area is the window less the frame the system draws for its style.
  RECT frame = Rect(0, 0, 0, 0);
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(frm.style), FALSE,
                       static_cast<DWORD>(::GetWindowLongA(form, GWL_EXSTYLE)));
  RECT client{};
  ::GetClientRect(form, &client);
  EXPECT_EQ(client.right, 591 - (frame.right - frame.left));
  EXPECT_EQ(client.bottom, 418 - (frame.bottom - frame.top));
  EXPECT_GT(client.bottom, 113);
}

TEST_F(ServerMainWindowTest, ThePanelHoldsTheControlsAndTheLogFillsTheRest) {
  RECT client{};
  ::GetClientRect(window.frmSerialServer(), &client);
  const Control panel = Inspect(window.paTop());
  EXPECT_EQ(panel.windowClass, "TPanel");
  ExpectRect(panel.rect, Rect(0, 0, client.right, 113));
  EXPECT_TRUE(::GetWindowLongA(window.paTop(), GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  for (HWND control :
       {window.cbComPortNr(), window.cbBaudRate(), window.btOpenPort(), window.btClosePort(),
        window.cbSimulation(), window.Label2(), window.laParameterFile()}) {
    EXPECT_EQ(::GetParent(control), window.paTop());
  }

  const Control log = Inspect(window.meRX());
  EXPECT_EQ(log.windowClass, "Edit");
  EXPECT_EQ(::GetParent(window.meRX()), window.frmSerialServer());
  ExpectRect(log.rect, Rect(0, 113, client.right, client.bottom - 113));
  EXPECT_TRUE(HasStyle(window.meRX(), ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_TABSTOP));
  EXPECT_FALSE(log.style & WS_HSCROLL);
  EXPECT_FALSE(log.style & ES_AUTOHSCROLL);  // lines wrap
  EXPECT_TRUE(::IsWindowUnicode(window.meRX()));

  // The log follows the window's size.
  ::SetWindowPos(window.frmSerialServer(), nullptr, 0, 0, 800, 600,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::GetClientRect(window.frmSerialServer(), &client);
  ExpectRect(Inspect(window.meRX()).rect, Rect(0, 113, client.right, client.bottom - 113));
  ExpectRect(Inspect(window.paTop()).rect, Rect(0, 0, client.right, 113));
}

TEST_F(ServerMainWindowTest, ControlsHaveTheirCaptionsPositionsAndStyles) {
  const Control port = Inspect(window.cbComPortNr());
  EXPECT_EQ(port.windowClass, "ComboBox");
  EXPECT_EQ(port.rect.left, 24);
  EXPECT_EQ(port.rect.top, 24);
  EXPECT_EQ(port.rect.right - port.rect.left, 145);
  const Control baud = Inspect(window.cbBaudRate());
  EXPECT_EQ(baud.windowClass, "ComboBox");
  EXPECT_EQ(baud.rect.left, 184);
  EXPECT_EQ(baud.rect.top, 24);
  EXPECT_EQ(baud.rect.right - baud.rect.left, 145);
  for (HWND box : {window.cbComPortNr(), window.cbBaudRate()}) {
    EXPECT_EQ(::GetWindowLongA(box, GWL_STYLE) & 3, CBS_DROPDOWN);  // editable, with a list
  }

  const Control open = Inspect(window.btOpenPort());
  EXPECT_EQ(open.windowClass, "Button");
  EXPECT_EQ(open.caption, "open port");
  ExpectRect(open.rect, Rect(344, 24, 75, 25));
  const Control close = Inspect(window.btClosePort());
  EXPECT_EQ(close.caption, "close port");
  ExpectRect(close.rect, Rect(448, 24, 75, 25));
  EXPECT_EQ(open.style & BS_TYPEMASK, BS_PUSHBUTTON);
  EXPECT_EQ(close.style & BS_TYPEMASK, BS_PUSHBUTTON);

  const Control simulation = Inspect(window.cbSimulation());
  EXPECT_EQ(simulation.windowClass, "Button");
  EXPECT_EQ(simulation.caption, "run temperraure measurement (simulation)");
  ExpectRect(simulation.rect, Rect(24, 64, 217, 17));
  EXPECT_EQ(simulation.style & BS_TYPEMASK, BS_AUTOCHECKBOX);
  EXPECT_FALSE(window.SimulationChecked());

  const Control label = Inspect(window.Label2());
  EXPECT_EQ(label.windowClass, "Static");
  EXPECT_EQ(label.caption, "received");
  EXPECT_EQ(label.rect.left, 8);
  EXPECT_EQ(label.rect.top, 96);
  EXPECT_GT(label.rect.right - label.rect.left, 0);
}

TEST_F(ServerMainWindowTest, EveryControlWritesInMsSansSerifEightPoint) {
  for (HWND control :
       {window.cbComPortNr(), window.cbBaudRate(), window.btOpenPort(), window.btClosePort(),
        window.cbSimulation(), window.Label2(), window.meRX()}) {
    const auto font = reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA description{};
    ASSERT_NE(::GetObjectA(font, sizeof description, &description), 0);
    EXPECT_EQ(description.lfHeight, -11);
    EXPECT_STREQ(description.lfFaceName, "MS Sans Serif");
  }
}

TEST_F(ServerMainWindowTest, TabMovesThroughTheControlsInTheirOrder) {
  const HWND form = window.frmSerialServer();
  std::vector<HWND> order;
  HWND control = window.cbComPortNr();
  for (int i = 0; i < 6; ++i) {
    control = ::GetNextDlgTabItem(form, control, FALSE);
    order.push_back(control);
  }
  EXPECT_THAT(order, ElementsAre(window.cbBaudRate(), window.btOpenPort(), window.btClosePort(),
                                 window.cbSimulation(), window.meRX(), window.cbComPortNr()));
  EXPECT_EQ(::GetNextDlgTabItem(form, window.cbComPortNr(), TRUE), window.meRX());
  EXPECT_FALSE(::GetWindowLongA(window.Label2(), GWL_STYLE) & WS_TABSTOP);
}

TEST_F(ServerMainWindowTest, TheListsOfferThePortsAndRates) {
  EXPECT_THAT(Entries(window.cbComPortNr()),
              ElementsAre("COM 1", "COM 2", "COM 3", "COM 4", "COM 5", "COM 6", "COM 7", "COM 8",
                          "COM 9", "COM 10"));
  EXPECT_THAT(Entries(window.cbBaudRate()), ElementsAre("9600", "38400", "115200"));
}

TEST_F(ServerMainWindowTest, ChoosingAnEntryReportsItsIndexOnce) {
  Choose(window.cbComPortNr(), 9);
  Notify(window.cbComPortNr(), CBN_KILLFOCUS);  // leaving the list afterwards
  Choose(window.cbBaudRate(), 2);
  Choose(window.cbBaudRate(), 2);
  EXPECT_THAT(handlers.changes,
              ElementsAre(Change{"port", 9, "COM 10"}, Change{"baud", 2, "115200"}));
}

TEST_F(ServerMainWindowTest, TypedTextIsReportedWhenTheEditEnds) {
  Type(window.cbComPortNr(), "\\\\.\\COM12");
  Type(window.cbComPortNr(), "COM 3");  // an entry's text counts as that entry
  Type(window.cbComPortNr(), "com 3");  // but only exactly
  Type(window.cbBaudRate(), "57600");
  EXPECT_THAT(handlers.changes,
              ElementsAre(Change{"port", -1, "\\\\.\\COM12"}, Change{"port", 2, "COM 3"},
                          Change{"port", -1, "com 3"}, Change{"baud", -1, "57600"}));
}

TEST_F(ServerMainWindowTest, ShownTextIsNotReportedAsAChoice) {
  window.ShowPortText("select port");
  window.ShowBaudRateText("select baud rate");
  char text[64] = {};
  ::GetWindowTextA(window.cbComPortNr(), text, sizeof text);
  EXPECT_STREQ(text, "select port");
  EXPECT_EQ(::SendMessageA(window.cbComPortNr(), CB_GETCURSEL, 0, 0), CB_ERR);
  ::GetWindowTextA(window.cbBaudRate(), text, sizeof text);
  EXPECT_STREQ(text, "select baud rate");
  Notify(window.cbComPortNr(), CBN_KILLFOCUS);
  EXPECT_THAT(handlers.changes, IsEmpty());
  Choose(window.cbComPortNr(), 0);
  window.ShowPortText("select port");
  Choose(window.cbComPortNr(), 0);  // the same entry again after a reset
  EXPECT_EQ(handlers.changes.size(), 2u);
}

TEST_F(ServerMainWindowTest, EnterEndsTheEditOfTheFocusedList) {
  window.Show();
  ::SetFocus(window.cbBaudRate());
  ::SetWindowTextA(window.cbBaudRate(), "38400");
  ::SendMessageA(window.frmSerialServer(), WM_COMMAND, IDOK, 0);
  EXPECT_THAT(handlers.changes, ElementsAre(Change{"baud", 1, "38400"}));
}

TEST_F(ServerMainWindowTest, HandlerErrorsGoToTheErrorSink) {
  Type(window.cbBaudRate(), "fast");
  EXPECT_THAT(errors, ElementsAre("'fast' is not a valid baud rate"));
}

TEST_F(ServerMainWindowTest, ButtonsAndCheckBox) {
  window.SetOpenPortEnabled(false);
  EXPECT_FALSE(::IsWindowEnabled(window.btOpenPort()));
  window.SetOpenPortEnabled(true);
  EXPECT_TRUE(::IsWindowEnabled(window.btOpenPort()));
  ::SendMessageA(window.btOpenPort(), BM_CLICK, 0, 0);
  ::SendMessageA(window.btClosePort(), BM_CLICK, 0, 0);
  EXPECT_EQ(handlers.openClicks, 1);
  EXPECT_EQ(handlers.closeClicks, 1);
  ::SendMessageA(window.cbSimulation(), BM_CLICK, 0, 0);
  EXPECT_TRUE(window.SimulationChecked());
  window.SetSimulationChecked(false);
  EXPECT_FALSE(window.SimulationChecked());
}

TEST_F(ServerMainWindowTest, LogShowsTheBytesAsWindows1252Lines) {
  window.AddLogLine("com port open");
  window.AddLogLine("received A;12.5\r\n");
  window.AddLogLine(
      "raw  4 T -17.80\xB0"
      "C \x80");
  EXPECT_EQ(LogText(window),
            L"com port open\r\nreceived A;12.5\r\n\r\nraw  4 T -17.80\u00B0C \u20AC");
  window.ClearLog();
  EXPECT_EQ(LogText(window), L"");
  window.AddLogLine("com port close");
  EXPECT_EQ(LogText(window), L"com port close");
}

TEST_F(ServerMainWindowTest, LogKeepsItsNewestLineInView) {
  window.Show();
  const auto atBottom = [this] {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    ::GetScrollInfo(window.meRX(), SB_VERT, &info);
    return info.nPos + static_cast<int>(info.nPage) > info.nMax;
  };
  for (int n = 0; n < 200; ++n)
    window.AddLogLine("received a\r\n");
  EXPECT_EQ(::GetWindowTextLengthW(window.meRX()), 0);  // not before the thread waits
  window.FlushLog();
  EXPECT_GT(::SendMessageW(window.meRX(), EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  EXPECT_TRUE(atBottom());
  ::SendMessageW(window.meRX(), WM_VSCROLL, SB_TOP, 0);  // the user scrolls back
  EXPECT_EQ(::SendMessageW(window.meRX(), EM_GETFIRSTVISIBLELINE, 0, 0), 0);
  window.AddLogLine("command number 2");
  window.FlushLog();
  EXPECT_TRUE(atBottom());
}

TEST_F(ServerMainWindowTest, ParameterFileIsShownBesideTheLogLabel) {
  window.ShowParameterFile("C:\\quillane\\quillane.ini");
  const Control label = Inspect(window.laParameterFile());
  EXPECT_EQ(label.caption, "parameter file C:\\quillane\\quillane.ini");
  EXPECT_EQ(label.rect.left, 184);
  EXPECT_EQ(label.rect.top, 96);
  EXPECT_TRUE(label.style & SS_PATHELLIPSIS);  // a long path is cut in the middle
  RECT panel{};
  ::GetClientRect(window.paTop(), &panel);
  EXPECT_LE(label.rect.right, panel.right);
}

TEST_F(ServerMainWindowTest, ClosingTheWindowRunsTheCloseHandlerAndHidesIt) {
  int closes = 0;
  window.SetCloseHandler([&] { ++closes; });
  window.Show();
  ASSERT_TRUE(::IsWindowVisible(window.frmSerialServer()));
  ::SendMessageA(window.frmSerialServer(), WM_CLOSE, 0, 0);
  EXPECT_EQ(closes, 1);
  EXPECT_FALSE(::IsWindowVisible(window.frmSerialServer()));
  EXPECT_TRUE(::IsWindow(window.frmSerialServer()));
}

// What a modal box showed, read from inside its own message loop.
struct SeenBox {
  std::string caption;
  std::vector<std::string> texts;
  std::vector<std::string> buttons;
  bool errorIcon = false;
  int buttonId = 0;
  int logLength = 0;  // of the window behind it
};

SeenBox seenBox;
HWND logBehindBox = nullptr;

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM /*unused*/) {
  char className[64] = {};
  char text[256] = {};
  ::GetClassNameA(child, className, sizeof className);
  ::GetWindowTextA(child, text, sizeof text);
  if (!::IsWindowVisible(child)) return TRUE;
  if (std::string(className) == "Button") {
    seenBox.buttons.emplace_back(text);
    seenBox.buttonId = ::GetDlgCtrlID(child);
  } else if ((::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    const auto icon = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
    seenBox.errorIcon = icon != nullptr && icon == ::LoadIconA(nullptr, IDI_ERROR);
  } else if (text[0] != '\0') {
    seenBox.texts.emplace_back(text);
  }
  return TRUE;
}

// Runs in the box's loop: the box is this thread's active window.
void CALLBACK ReadAndDismissBox(HWND /*window*/, UINT /*message*/, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  HWND box = ::GetActiveWindow();
  char caption[64] = {};
  ::GetWindowTextA(box, caption, sizeof caption);
  seenBox.caption = caption;
  seenBox.logLength = ::GetWindowTextLengthW(logBehindBox);
  ::EnumChildWindows(box, ReadBoxChild, 0);
  if (HWND button = ::GetDlgItem(box, seenBox.buttonId)) ::SendMessageA(button, BM_CLICK, 0, 0);
}

TEST_F(ServerMainWindowTest, ErrorBoxHasTheErrorIconAndOnlyCancel) {
  seenBox = {};
  logBehindBox = window.meRX();
  window.Show();
  window.AddLogLine("com port open");
  ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, ReadAndDismissBox);
  window.ShowErrorBox("error open port");
  EXPECT_EQ(seenBox.logLength, 13);  // the log was up to date behind the box
  EXPECT_THAT(seenBox.texts, ElementsAre("error open port"));
  EXPECT_THAT(seenBox.buttons, ElementsAre("Cancel"));
  EXPECT_EQ(seenBox.buttonId, IDCANCEL);
  EXPECT_TRUE(seenBox.errorIcon);
}

TEST_F(ServerMainWindowTest, TheErrorDisplayIsAMessageBoxInFrontOfTheWindow) {
  seenBox = {};
  window.Show();
  ::SetTimer(nullptr, 0, USER_TIMER_MINIMUM, ReadAndDismissBox);
  window.ShowErrorMessage("Unable to open com port");
  EXPECT_EQ(seenBox.caption, "quillane");
  EXPECT_THAT(seenBox.texts, ElementsAre("Unable to open com port"));
  EXPECT_THAT(seenBox.buttons, ElementsAre("OK"));
  EXPECT_TRUE(seenBox.errorIcon);
}

}  // namespace
}  // namespace app::win32
