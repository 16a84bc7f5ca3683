#include "app/gui/server_main_window.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>

#include "app/log_text.h"

namespace app::gui {
namespace {

// Positions at 96 dots per inch, relative to the panel.
constexpr int kPanelHeight = 113;
constexpr int kComboWidth = 145;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
// "COM 1" ... "COM 10": the entries whose index names the port.
constexpr int kNumberedPortEntries = 10;
constexpr int kParameterFileLeft = 184;

QString FromBytes(const std::string& text) {
  return QString::fromUtf8(text.data(), text.size());
}

}  // namespace

ServerMainWindow::ServerMainWindow(ErrorSink errorSink, QWidget* parent)
    : QWidget(parent), errorSink_(std::move(errorSink)) {
  BuildControls();
  ConnectControls();
}

ServerMainWindow::~ServerMainWindow() = default;

void ServerMainWindow::BuildControls() {
  setWindowTitle(QStringLiteral("serial server; Korrin service"));
  QFont font = this->font();
  font.setPixelSize(11);
  setFont(font);
  move(133, 217);
  resize(591, 418);

  paTop_.setFrameStyle(QFrame::Panel | QFrame::Raised);

  for (int n = 1; n <= kNumberedPortEntries; ++n)
    cbComPortNr_.addItem(QStringLiteral("COM %1").arg(n));
  cbComPortNr_.addItem(QStringLiteral("virtual"));
  cbBaudRate_.addItems({QStringLiteral("9600"), QStringLiteral("38400"), QStringLiteral("115200")});
  for (QComboBox* box : {&cbComPortNr_, &cbBaudRate_}) {
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setMaxVisibleItems(10);
  }
  cbComPortNr_.setGeometry(24, 24, kComboWidth, cbComPortNr_.sizeHint().height());
  cbBaudRate_.setGeometry(184, 24, kComboWidth, cbBaudRate_.sizeHint().height());

  btOpenPort_.setText(QStringLiteral("open port"));
  btOpenPort_.setGeometry(344, 24, kButtonWidth, kButtonHeight);
  btClosePort_.setText(QStringLiteral("close port"));
  btClosePort_.setGeometry(448, 24, kButtonWidth, kButtonHeight);

  cbSimulation_.setText(QStringLiteral("run temperraure measurement (simulation)"));
  cbSimulation_.setGeometry(24, 64, std::max(217, cbSimulation_.sizeHint().width()),
                            std::max(17, cbSimulation_.sizeHint().height()));

  Label2_.setText(QStringLiteral("received"));
  Label2_.move(8, 96);
  Label2_.adjustSize();

  laParameterFile_.move(kParameterFileLeft, 96);

  meRX_.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  meRX_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  meRX_.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  LayOut();
}

void ServerMainWindow::ConnectControls() {
  connect(&cbComPortNr_, &QComboBox::activated, this, [this] {
    ReportCombo(&cbComPortNr_, portReported_, &ServerViewHandlers::cbComPortNrChange);
  });
  connect(cbComPortNr_.lineEdit(), &QLineEdit::editingFinished, this, [this] {
    ReportCombo(&cbComPortNr_, portReported_, &ServerViewHandlers::cbComPortNrChange);
  });
  connect(&cbBaudRate_, &QComboBox::activated, this, [this] {
    ReportCombo(&cbBaudRate_, baudReported_, &ServerViewHandlers::cbBaudRateChange);
  });
  connect(cbBaudRate_.lineEdit(), &QLineEdit::editingFinished, this, [this] {
    ReportCombo(&cbBaudRate_, baudReported_, &ServerViewHandlers::cbBaudRateChange);
  });
  connect(&btOpenPort_, &QPushButton::clicked, this,
          [this] { Forward([this] { handlers_->btOpenPortClick(); }); });
  connect(&btClosePort_, &QPushButton::clicked, this,
          [this] { Forward([this] { handlers_->btClosePortClick(); }); });
}

void ServerMainWindow::ReportCombo(QComboBox* box, std::string& lastReported,
                                   void (ServerViewHandlers::*report)(int, const std::string&)) {
  const std::string text = box->currentText().toStdString();
  if (text == lastReported) return;
  lastReported = text;
  int index = box->findText(box->currentText(), Qt::MatchExactly);
  // Entries after the numbered ports are names, reported as if typed.
  if (box == &cbComPortNr_ && index >= kNumberedPortEntries) index = -1;
  Forward([&] { (handlers_->*report)(index, text); });
}

template <typename Call>
void ServerMainWindow::Forward(Call call) {
  if (handlers_ == nullptr) return;
  try {
    call();
  } catch (...) {
    if (errorSink_) errorSink_(std::current_exception());
  }
}

void ServerMainWindow::ShowPortText(const std::string& text) {
  const QSignalBlocker block(&cbComPortNr_);
  cbComPortNr_.setCurrentIndex(-1);
  cbComPortNr_.setEditText(FromBytes(text));
  portReported_ = text;
}

void ServerMainWindow::ShowBaudRateText(const std::string& text) {
  const QSignalBlocker block(&cbBaudRate_);
  cbBaudRate_.setCurrentIndex(-1);
  cbBaudRate_.setEditText(FromBytes(text));
  baudReported_ = text;
}

void ServerMainWindow::SetOpenPortEnabled(bool enabled) {
  btOpenPort_.setEnabled(enabled);
}

bool ServerMainWindow::SimulationChecked() const {
  return cbSimulation_.isChecked();
}

void ServerMainWindow::AddLogLine(std::string_view line) {
  meRX_.appendPlainText(FromBytes(LogLineToDisplayText(line)));
  // The newest line stays in view, wherever the user had scrolled to.
  QScrollBar* scrollBar = meRX_.verticalScrollBar();
  scrollBar->setValue(scrollBar->maximum());
}

void ServerMainWindow::AddPortEntries(const std::vector<std::string>& devices) {
  for (const std::string& device : devices)
    cbComPortNr_.addItem(FromBytes(device));
}

void ServerMainWindow::ShowParameterFile(const std::string& path) {
  const QString text = QStringLiteral("parameter file ") + QString::fromStdString(path);
  laParameterFile_.setToolTip(text);  // the whole path, when the label cuts it
  LayOut();
}

void ServerMainWindow::ClearLog() {
  meRX_.clear();
}

void ServerMainWindow::ShowErrorBox(const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), FromBytes(text),
                  QMessageBox::Cancel, this);
  box.exec();
}

void ServerMainWindow::ChoosePort(const std::string& text) {
  cbComPortNr_.setEditText(FromBytes(text));
  ReportCombo(&cbComPortNr_, portReported_, &ServerViewHandlers::cbComPortNrChange);
}

void ServerMainWindow::ChooseBaudRate(const std::string& text) {
  cbBaudRate_.setEditText(FromBytes(text));
  ReportCombo(&cbBaudRate_, baudReported_, &ServerViewHandlers::cbBaudRateChange);
}

void ServerMainWindow::SetSimulationChecked(bool checked) {
  cbSimulation_.setChecked(checked);
}

// paTop is aligned to the top; meRX fills the rest.
void ServerMainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOut();
}

void ServerMainWindow::LayOut() {
  paTop_.setGeometry(0, 0, width(), kPanelHeight);
  // The path is cut in the middle when the window is too narrow for it.
  const int room = std::max(0, width() - kParameterFileLeft - 8);
  laParameterFile_.setText(
      laParameterFile_.fontMetrics().elidedText(laParameterFile_.toolTip(), Qt::ElideMiddle, room));
  laParameterFile_.resize(room, laParameterFile_.sizeHint().height());
  meRX_.setGeometry(0, kPanelHeight, width(), std::max(0, height() - kPanelHeight));
}

void ServerMainWindow::closeEvent(QCloseEvent* event) {
  if (onClose_) onClose_();
  event->accept();
}

}  // namespace app::gui
