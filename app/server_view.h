// What the window logic (TfrmSerialServer) needs from a front end.
//
// The window logic is toolkit independent: it shows its state through this
// interface and is told about user actions by the front end calling its
// handlers. Two front ends implement it: the Qt window (app/gui) and the
// console (app/headless); tests use a recording view. All calls come from the
// user-interface thread. Log lines are Windows-1252 byte strings, added
// unchanged; each front end decides how to display their bytes.
#pragma once

#include <string>
#include <string_view>

namespace app {

// The user actions a view reports, named after the window's handlers. A
// combo-box change carries the selected entry's index, or -1 with the text
// the user typed when no entry is selected. Handlers may throw; the view
// hands such errors to the application's error handling.
class ServerViewHandlers {
 public:
  virtual ~ServerViewHandlers() = default;
  virtual void cbComPortNrChange(int index, const std::string& text) = 0;
  virtual void cbBaudRateChange(int index, const std::string& text) = 0;
  virtual void btOpenPortClick() = 0;
  virtual void btClosePortClick() = 0;
};

class ServerView {
 public:
  virtual ~ServerView() = default;

  // cbComPortNr / cbBaudRate: show `text` with no entry selected.
  virtual void ShowPortText(const std::string& text) = 0;
  virtual void ShowBaudRateText(const std::string& text) = 0;
  // btOpenPort.
  virtual void SetOpenPortEnabled(bool enabled) = 0;
  // cbSimulation.
  virtual bool SimulationChecked() const = 0;
  // meRX: append one line, or clear all of it.
  virtual void AddLogLine(std::string_view line) = 0;
  virtual void ClearLog() = 0;
  // A modal box with the error icon and a single Cancel button; returns when
  // the user has dismissed it.
  virtual void ShowErrorBox(const std::string& text) = 0;
};

}  // namespace app
