#include "app/win32/server_main_window.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "app/log_text.h"
#include "app/win32/error_box.h"

namespace app::win32 {
namespace {

constexpr const char* kFormClass = "TfrmSerialServer";
constexpr const char* kPanelClass = "TPanel";
constexpr const char* kCaption = "serial server; Korrin service";
constexpr const char* kErrorDisplayTitle = "quillane";

// Positions at 96 dots per inch; the controls' are relative to the panel.
constexpr int kFormLeft = 133;
constexpr int kFormTop = 217;
constexpr int kFormWidth = 591;
constexpr int kFormHeight = 418;
constexpr int kPanelHeight = 113;
constexpr int kComboWidth = 145;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kLabelTop = 96;
constexpr int kParameterFileLeft = 184;
constexpr int kParameterFileMargin = 8;
// A drop-down list's height includes its open list: room for all ten ports.
constexpr int kDropDownHeight = 180;
constexpr int kFontHeight = -11;  // 8 point at 96 dots per inch
constexpr DWORD kNoSystemError = 0;

// Control identifiers; 1 and 2 are the keyboard's IDOK and IDCANCEL.
enum ControlId : int {
  kIdPanel = 100,
  kIdComPortNr,
  kIdBaudRate,
  kIdOpenPort,
  kIdClosePort,
  kIdSimulation,
  kIdLabel2,
  kIdParameterFile,
  kIdLog,
};

constexpr int kNumberedPortEntries = 10;
constexpr const char* kBaudRateEntries[] = {"9600", "38400", "115200"};

// Called right after the failed call. Without a desktop to show windows on
// the system refuses them without a reason.
[[noreturn]] void ThrowLastError(const char* what) {
  const DWORD code = ::GetLastError();
  if (code == kNoSystemError) {
    throw std::runtime_error(std::string(what) +
                             ": the system refused it (no desktop to show it on)");
  }
  throw std::system_error(static_cast<int>(code), std::system_category(), what);
}

HINSTANCE Instance() {
  return ::GetModuleHandleA(nullptr);
}

void RegisterClassOnce(const char* name, WNDPROC procedure) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = Instance();
  windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = name;
  if (::RegisterClassExA(&windowClass) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowLastError("registering the window class");
  }
}

std::string WindowText(HWND window) {
  std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::string EntryText(HWND box, int index) {
  const LRESULT length = ::SendMessageA(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  ::SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// The entry whose text is exactly `text` (case counts), or -1.
int ExactEntryIndex(HWND box, const std::string& text) {
  const auto count = static_cast<int>(::SendMessageA(box, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    if (EntryText(box, i) == text) return i;
  }
  return -1;
}

// The log's text for one line: UTF-16, line breaks as CR LF.
std::wstring LogDisplayText(std::string_view line) {
  const std::string utf8 = LogLineToDisplayText(line);
  std::wstring wide(utf8.size(), L'\0');
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                           wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(std::max(length, 0)));
  std::wstring text;
  text.reserve(wide.size() + 2);
  for (const wchar_t c : wide) {
    if (c == L'\n') text += L'\r';
    text += c;
  }
  return text;
}

bool IsDescendant(HWND ancestor, HWND window) {
  return window != nullptr && (window == ancestor || ::IsChild(ancestor, window));
}

}  // namespace

ServerMainWindow::ServerMainWindow(ErrorSink errorSink) : errorSink_(std::move(errorSink)) {
  RegisterClassOnce(kFormClass, FormProc);
  RegisterClassOnce(kPanelClass, PanelProc);
  font_ = ::CreateFontA(kFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
  try {
    ::SetLastError(kNoSystemError);
    frmSerialServer_ =
        ::CreateWindowExA(0, kFormClass, kCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, kFormLeft,
                          kFormTop, kFormWidth, kFormHeight, nullptr, nullptr, Instance(), this);
    if (frmSerialServer_ == nullptr) ThrowLastError("creating the window");
    CreateControls();
  } catch (...) {
    Destroy();
    throw;
  }
}

ServerMainWindow::~ServerMainWindow() {
  Destroy();
}

// The window procedures forget the object first: destroying the window
// takes the focus from its controls, which must report nothing any more.
void ServerMainWindow::Destroy() {
  handlers_ = nullptr;
  if (frmSerialServer_ != nullptr) {
    ::SetWindowLongPtrA(frmSerialServer_, GWLP_USERDATA, 0);
    if (paTop_ != nullptr) ::SetWindowLongPtrA(paTop_, GWLP_USERDATA, 0);
    ::DestroyWindow(frmSerialServer_);
    frmSerialServer_ = nullptr;
  }
  if (font_ != nullptr) {
    ::DeleteObject(font_);
    font_ = nullptr;
  }
}

HWND ServerMainWindow::CreateChild(const char* windowClass, const char* caption, DWORD style,
                                   int left, int top, int width, int height, HWND parent, int id) {
  HWND child = ::CreateWindowExA(
      0, windowClass, caption, WS_CHILD | WS_VISIBLE | style, left, top, width, height, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
  if (child == nullptr) ThrowLastError("creating the window's controls");
  if (font_ != nullptr) ::SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return child;
}

// Made in tab order: the panel's controls, then the log.
void ServerMainWindow::CreateControls() {
  RECT client{};
  ::GetClientRect(frmSerialServer_, &client);
  paTop_ = ::CreateWindowExA(
      WS_EX_CONTROLPARENT, kPanelClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
      client.right, kPanelHeight, frmSerialServer_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdPanel)), Instance(), this);
  if (paTop_ == nullptr) ThrowLastError("creating the window's panel");

  const DWORD comboStyle = WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
  cbComPortNr_ = CreateChild("COMBOBOX", "", comboStyle, 24, 24, kComboWidth, kDropDownHeight,
                             paTop_, kIdComPortNr);
  for (int n = 1; n <= kNumberedPortEntries; ++n) {
    const std::string entry = "COM " + std::to_string(n);
    ::SendMessageA(cbComPortNr_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
  cbBaudRate_ = CreateChild("COMBOBOX", "", comboStyle, 184, 24, kComboWidth, kDropDownHeight,
                            paTop_, kIdBaudRate);
  for (const char* entry : kBaudRateEntries)
    ::SendMessageA(cbBaudRate_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
  port_ = {cbComPortNr_, {}, &ServerViewHandlers::cbComPortNrChange};
  baudRate_ = {cbBaudRate_, {}, &ServerViewHandlers::cbBaudRateChange};

  btOpenPort_ = CreateChild("BUTTON", "open port", WS_TABSTOP | BS_PUSHBUTTON, 344, 24,
                            kButtonWidth, kButtonHeight, paTop_, kIdOpenPort);
  btClosePort_ = CreateChild("BUTTON", "close port", WS_TABSTOP | BS_PUSHBUTTON, 448, 24,
                             kButtonWidth, kButtonHeight, paTop_, kIdClosePort);
  cbSimulation_ = CreateChild("BUTTON", "run temperraure measurement (simulation)",
                              WS_TABSTOP | BS_AUTOCHECKBOX, 24, 64, 217, 17, paTop_, kIdSimulation);
  Label2_ = CreateChild("STATIC", "received", SS_LEFT | SS_NOPREFIX, 8, kLabelTop, 0, 0, paTop_,
                        kIdLabel2);
  const SIZE labelSize = TextSize("received");
  ::SetWindowPos(Label2_, nullptr, 0, 0, labelSize.cx, labelSize.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  laParameterFile_ =
      CreateChild("STATIC", "", SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, kParameterFileLeft,
                  kLabelTop, 0, labelSize.cy, paTop_, kIdParameterFile);

  // A Unicode control, so every Windows-1252 character shows as itself.
  meRX_ = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, L"EDIT", L"",
      WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
      0, kPanelHeight, client.right, std::max(0L, client.bottom - kPanelHeight), frmSerialServer_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdLog)), Instance(), nullptr);
  if (meRX_ == nullptr) ThrowLastError("creating the window's log");
  if (font_ != nullptr) ::SendMessageW(meRX_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  ::SendMessageW(meRX_, EM_SETLIMITTEXT, 0, 0);  // no limit but memory
  LayOut();
}

SIZE ServerMainWindow::TextSize(const char* text) const {
  SIZE size{};
  HDC dc = ::GetDC(frmSerialServer_);
  HGDIOBJ previous =
      ::SelectObject(dc, font_ != nullptr ? font_ : ::GetStockObject(DEFAULT_GUI_FONT));
  ::GetTextExtentPoint32A(dc, text, static_cast<int>(std::char_traits<char>::length(text)), &size);
  ::SelectObject(dc, previous);
  ::ReleaseDC(frmSerialServer_, dc);
  return size;
}

// paTop is aligned to the top; meRX fills the rest.
void ServerMainWindow::LayOut() {
  if (meRX_ == nullptr) return;
  RECT client{};
  ::GetClientRect(frmSerialServer_, &client);
  const int width = client.right;
  const int height = client.bottom;
  ::MoveWindow(paTop_, 0, 0, width, kPanelHeight, TRUE);
  ::MoveWindow(meRX_, 0, kPanelHeight, width, std::max(0, height - kPanelHeight), TRUE);
  RECT label{};
  ::GetWindowRect(laParameterFile_, &label);
  ::MoveWindow(laParameterFile_, kParameterFileLeft, kLabelTop,
               std::max(0, width - kParameterFileLeft - kParameterFileMargin),
               label.bottom - label.top, TRUE);
}

void ServerMainWindow::Show() {
  ::ShowWindow(frmSerialServer_, SW_SHOWNORMAL);
  ::UpdateWindow(frmSerialServer_);
}

LRESULT CALLBACK ServerMainWindow::FormProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ServerMainWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || self->frmSerialServer_ != window) {
    return ::DefWindowProcA(window, message, wParam, lParam);
  }
  return self->OnFormMessage(message, wParam, lParam);
}

LRESULT CALLBACK ServerMainWindow::PanelProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ServerMainWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (self != nullptr) self->OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_PAINT: {
      // A raised panel: the background is the class's, the edge drawn here.
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      RECT edge{};
      ::GetClientRect(window, &edge);
      ::DrawEdge(dc, &edge, BDR_RAISEDINNER, BF_RECT);
      ::EndPaint(window, &paint);
      return 0;
    }
    default:
      return ::DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT ServerMainWindow::OnFormMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      LayOut();
      return 0;
    case WM_ACTIVATE:
      // As a dialog does: the focus leaves with the window and comes back
      // to the control that had it (at first, the port list).
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = ::GetFocus();
        if (IsDescendant(frmSerialServer_, focus) && focus != frmSerialServer_) lastFocus_ = focus;
        return 0;
      }
      ::SetFocus(IsDescendant(frmSerialServer_, lastFocus_) ? lastFocus_ : cbComPortNr_);
      return 0;
    case WM_COMMAND:
      // Enter in a list's text ends the edit (the pump's dialog handling
      // sends it as IDOK); Escape (IDCANCEL) has nothing to cancel.
      if (LOWORD(wParam) == IDOK) {
        HWND focus = ::GetFocus();
        if (IsDescendant(cbComPortNr_, focus)) ReportTyped(port_);
        if (IsDescendant(cbBaudRate_, focus)) ReportTyped(baudRate_);
      }
      return 0;
    case WM_CTLCOLORSTATIC:
      // The read-only log keeps a writing surface's colours.
      if (reinterpret_cast<HWND>(lParam) == meRX_) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_CLOSE:
      if (onClose_) Forward([this] { onClose_(); });
      ::ShowWindow(frmSerialServer_, SW_HIDE);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(frmSerialServer_, message, wParam, lParam);
}

void ServerMainWindow::OnCommand(int id, int code) {
  switch (id) {
    case kIdComPortNr:
    case kIdBaudRate: {
      ComboReport& combo = id == kIdComPortNr ? port_ : baudRate_;
      if (code == CBN_SELCHANGE) ReportChoice(combo);
      if (code == CBN_KILLFOCUS) ReportTyped(combo);
      break;
    }
    case kIdOpenPort:
      if (code == BN_CLICKED)
        Forward([this] {
          if (handlers_) handlers_->btOpenPortClick();
        });
      break;
    case kIdClosePort:
      if (code == BN_CLICKED)
        Forward([this] {
          if (handlers_) handlers_->btClosePortClick();
        });
      break;
    default:
      break;
  }
}

// While the list reports a new selection, the box's text still shows the
// previous one: the entry's own text is what was chosen.
void ServerMainWindow::ReportChoice(ComboReport& combo) {
  const auto index = static_cast<int>(::SendMessageA(combo.box, CB_GETCURSEL, 0, 0));
  if (index == CB_ERR) return;
  Report(combo, EntryText(combo.box, index));
}

void ServerMainWindow::ReportTyped(ComboReport& combo) {
  Report(combo, WindowText(combo.box));
}

// A text is reported once: leaving a box whose choice was reported already,
// or choosing the entry shown, reports nothing. The text of an entry counts
// as that entry.
void ServerMainWindow::Report(ComboReport& combo, const std::string& text) {
  if (text == combo.reported) return;
  combo.reported = text;
  const int index = ExactEntryIndex(combo.box, text);
  Forward([&] {
    if (handlers_) (handlers_->*combo.handler)(index, text);
  });
}

template <typename Call>
void ServerMainWindow::Forward(Call call) {
  try {
    call();
  } catch (...) {
    if (errorSink_) errorSink_(std::current_exception());
  }
}

void ServerMainWindow::ShowComboText(ComboReport& combo, const std::string& text) {
  combo.reported = text;
  ::SendMessageA(combo.box, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  ::SetWindowTextA(combo.box, text.c_str());
}

void ServerMainWindow::ShowPortText(const std::string& text) {
  ShowComboText(port_, text);
}

void ServerMainWindow::ShowBaudRateText(const std::string& text) {
  ShowComboText(baudRate_, text);
}

void ServerMainWindow::SetOpenPortEnabled(bool enabled) {
  ::EnableWindow(btOpenPort_, enabled ? TRUE : FALSE);
}

bool ServerMainWindow::SimulationChecked() const {
  return ::SendMessageA(cbSimulation_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// Appending to the control costs a redraw of its text and scroll bar each
// time, so lines are collected and go in together when the thread has
// caught up (FlushLog).
void ServerMainWindow::AddLogLine(std::string_view line) {
  if (!logEmpty_) pendingLog_ += L"\r\n";
  logEmpty_ = false;
  pendingLog_ += LogDisplayText(line);
}

// The lines go after the last one; the user's selection stays, and the
// view moves to the newest line wherever the user had scrolled to.
void ServerMainWindow::FlushLog() {
  if (pendingLog_.empty()) return;
  DWORD selectionStart = 0;
  DWORD selectionEnd = 0;
  ::SendMessageW(meRX_, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
                 reinterpret_cast<LPARAM>(&selectionEnd));
  const int end = ::GetWindowTextLengthW(meRX_);
  ::SendMessageW(meRX_, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
  ::SendMessageW(meRX_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(pendingLog_.c_str()));
  ::SendMessageW(meRX_, EM_SETSEL, selectionStart, static_cast<LPARAM>(selectionEnd));
  ::SendMessageW(meRX_, WM_VSCROLL, SB_BOTTOM, 0);
  pendingLog_.clear();
}

void ServerMainWindow::ClearLog() {
  pendingLog_.clear();
  ::SetWindowTextW(meRX_, L"");
  logEmpty_ = true;
}

// A box stops the thread until it is dismissed: the log is brought up to
// date behind it first.
void ServerMainWindow::ShowErrorBox(const std::string& text) {
  FlushLog();
  ShowCancelErrorBox(frmSerialServer_, text);
}

void ServerMainWindow::ShowErrorMessage(const std::string& text) {
  FlushLog();
  win32::ShowErrorMessage(frmSerialServer_, kErrorDisplayTitle, text);
}

void ServerMainWindow::ShowParameterFile(const std::string& path) {
  ::SetWindowTextA(laParameterFile_, ("parameter file " + path).c_str());
}

void ServerMainWindow::ChoosePort(const std::string& text) {
  ::SetWindowTextA(cbComPortNr_, text.c_str());
  ReportTyped(port_);
}

void ServerMainWindow::ChooseBaudRate(const std::string& text) {
  ::SetWindowTextA(cbBaudRate_, text.c_str());
  ReportTyped(baudRate_);
}

void ServerMainWindow::SetSimulationChecked(bool checked) {
  ::SendMessageA(cbSimulation_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

}  // namespace app::win32
