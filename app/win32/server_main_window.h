// The native Windows window of the simulated device: frmSerialServer's
// controls made with CreateWindowExA at their fixed positions (pixels at 96
// dots per inch, "MS Sans Serif" 8 point), implementing ServerView.
//
// The panel paTop holds the two editable drop-down lists, the two buttons,
// the check box and the labels; the log meRX fills the window below it. The
// tab order is the order of the controls: cbComPortNr, cbBaudRate,
// btOpenPort, btClosePort, cbSimulation, meRX (the message pump moves the
// focus with IsDialogMessage). The log is read-only, wraps its lines, has a
// vertical scroll bar and keeps its newest line in view; lines added while
// the thread is busy go in together when it next waits. It is a Unicode
// control, so its Windows-1252 bytes read the same whatever the system's
// ANSI code page.
//
// User actions go to a ServerViewHandlers (the window logic). Choosing a
// list entry reports it at once; typed text is reported when the user ends
// the edit (Enter, or the focus leaving the list). An error a handler throws
// goes to the error sink (the application's error handling). Closing the
// window reports to the close handler and hides it; the destructor destroys
// it. Window thread only; the constructor throws std::system_error when the
// system refuses a window.
#pragma once

#include "platform/win32/windows_headers.h"

#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "app/server_view.h"

namespace app::win32 {

class ServerMainWindow final : public ServerView {
 public:
  using ErrorSink = std::function<void(std::exception_ptr)>;

  // The window is made hidden; Show shows it.
  explicit ServerMainWindow(ErrorSink errorSink);
  ~ServerMainWindow() override;
  ServerMainWindow(const ServerMainWindow&) = delete;
  ServerMainWindow& operator=(const ServerMainWindow&) = delete;

  void SetHandlers(ServerViewHandlers* handlers) { handlers_ = handlers; }
  void SetCloseHandler(std::function<void()> onClose) { onClose_ = std::move(onClose); }
  void Show();

  void ShowPortText(const std::string& text) override;
  void ShowBaudRateText(const std::string& text) override;
  void SetOpenPortEnabled(bool enabled) override;
  bool SimulationChecked() const override;
  void AddLogLine(std::string_view line) override;
  void ClearLog() override;
  void ShowErrorBox(const std::string& text) override;

  // Puts the lines added since the last call into the log; the message
  // pump calls it before the thread waits.
  void FlushLog();

  // The application's error display: a message box in front of the window.
  void ShowErrorMessage(const std::string& text);
  // Where the parameters are kept, shown beside the log's label (a long
  // path is shortened in the middle).
  void ShowParameterFile(const std::string& path);

  // Preselection from the command line, as if the user had chosen.
  void ChoosePort(const std::string& text);
  void ChooseBaudRate(const std::string& text);
  void SetSimulationChecked(bool checked);

  // The window and its controls, for the message pump and tests.
  HWND frmSerialServer() const { return frmSerialServer_; }
  HWND paTop() const { return paTop_; }
  HWND cbComPortNr() const { return cbComPortNr_; }
  HWND cbBaudRate() const { return cbBaudRate_; }
  HWND btOpenPort() const { return btOpenPort_; }
  HWND btClosePort() const { return btClosePort_; }
  HWND cbSimulation() const { return cbSimulation_; }
  HWND Label2() const { return Label2_; }
  HWND laParameterFile() const { return laParameterFile_; }
  HWND meRX() const { return meRX_; }

 private:
  // A combo box and the text last reported for it.
  struct ComboReport {
    HWND box;
    std::string reported;
    void (ServerViewHandlers::*handler)(int, const std::string&);
  };

  static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnFormMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code);

  void Destroy();
  void CreateControls();
  HWND CreateChild(const char* windowClass, const char* caption, DWORD style, int left, int top,
                   int width, int height, HWND parent, int id);
  void LayOut();
  SIZE TextSize(const char* text) const;
  // The entry's text as chosen from the list, or the box's text as typed.
  void ReportChoice(ComboReport& combo);
  void ReportTyped(ComboReport& combo);
  void Report(ComboReport& combo, const std::string& text);
  void ShowComboText(ComboReport& combo, const std::string& text);
  template <typename Call>
  void Forward(Call call);

  ErrorSink errorSink_;
  ServerViewHandlers* handlers_ = nullptr;
  std::function<void()> onClose_;
  bool logEmpty_ = true;
  std::wstring pendingLog_;   // lines added, not yet in the log
  HWND lastFocus_ = nullptr;  // the control that had the focus when the window was deactivated

  HFONT font_ = nullptr;
  HWND frmSerialServer_ = nullptr;
  HWND paTop_ = nullptr;
  HWND cbComPortNr_ = nullptr;
  HWND cbBaudRate_ = nullptr;
  HWND btOpenPort_ = nullptr;
  HWND btClosePort_ = nullptr;
  HWND cbSimulation_ = nullptr;
  HWND Label2_ = nullptr;
  HWND laParameterFile_ = nullptr;
  HWND meRX_ = nullptr;
  ComboReport port_{};
  ComboReport baudRate_{};
};

}  // namespace app::win32
