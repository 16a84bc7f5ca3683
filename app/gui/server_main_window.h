// The Qt window of the simulated device: frmSerialServer's controls laid out
// at their fixed positions, implementing ServerView.
//
// User actions are forwarded to a ServerViewHandlers (the window logic).
// Choosing a list entry reports it at once; typed text is reported when the
// user finishes editing (Enter or leaving the box), so a half-typed port name
// never reaches the port. An error thrown by a handler goes to the error sink
// (the application's error handling), never through Qt's event loop. The
// window's close event is reported through the close callback. GUI thread
// only.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "app/server_view.h"

namespace app::gui {

class ServerMainWindow : public QWidget, public ServerView {
  Q_OBJECT

 public:
  using ErrorSink = std::function<void(std::exception_ptr)>;

  explicit ServerMainWindow(ErrorSink errorSink, QWidget* parent = nullptr);
  ~ServerMainWindow() override;

  void SetHandlers(ServerViewHandlers* handlers) { handlers_ = handlers; }
  void SetCloseHandler(std::function<void()> onClose) { onClose_ = std::move(onClose); }

  void ShowPortText(const std::string& text) override;
  void ShowBaudRateText(const std::string& text) override;
  void SetOpenPortEnabled(bool enabled) override;
  bool SimulationChecked() const override;
  void AddLogLine(std::string_view line) override;
  void ClearLog() override;
  void ShowErrorBox(const std::string& text) override;

  // Entries offered after the numbered ports and "virtual" (the serial
  // devices present); choosing one reports it as typed text.
  void AddPortEntries(const std::vector<std::string>& devices);
  // Where the parameters are kept, shown beside the log's label.
  void ShowParameterFile(const std::string& path);

  // Preselection from the command line, as if the user had chosen.
  void ChoosePort(const std::string& text);
  void ChooseBaudRate(const std::string& text);
  void SetSimulationChecked(bool checked);

  // The controls, for tests.
  QComboBox& cbComPortNr() { return cbComPortNr_; }
  QComboBox& cbBaudRate() { return cbBaudRate_; }
  QPushButton& btOpenPort() { return btOpenPort_; }
  QPushButton& btClosePort() { return btClosePort_; }
  QCheckBox& cbSimulation() { return cbSimulation_; }
  QLabel& Label2() { return Label2_; }
  QLabel& laParameterFile() { return laParameterFile_; }
  QPlainTextEdit& meRX() { return meRX_; }
  QFrame& paTop() { return paTop_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildControls();
  void LayOut();
  void ConnectControls();
  // Reports the box's text to `report` unless it is what was reported last.
  void ReportCombo(QComboBox* box, std::string& lastReported,
                   void (ServerViewHandlers::*report)(int, const std::string&));
  template <typename Call>
  void Forward(Call call);

  ErrorSink errorSink_;
  ServerViewHandlers* handlers_ = nullptr;
  std::function<void()> onClose_;
  std::string portReported_;
  std::string baudReported_;

  // Held by value and declared parent first: the children are destroyed
  // before their parents, each leaving its parent's child list.
  QFrame paTop_{this};
  QComboBox cbComPortNr_{&paTop_};
  QComboBox cbBaudRate_{&paTop_};
  QPushButton btOpenPort_{&paTop_};
  QPushButton btClosePort_{&paTop_};
  QCheckBox cbSimulation_{&paTop_};
  QLabel Label2_{&paTop_};
  QLabel laParameterFile_{&paTop_};
  QPlainTextEdit meRX_{this};
};

}  // namespace app::gui
