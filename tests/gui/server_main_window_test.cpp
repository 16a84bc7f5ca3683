#include "app/gui/server_main_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTimer>
#include <stdexcept>
#include <string>
#include <vector>

namespace app::gui {
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

class ServerMainWindowTest : public ::testing::Test {
 protected:
  ServerMainWindowTest() { window.SetHandlers(&handlers); }

  void Type(QComboBox& box, const QString& text) {
    box.lineEdit()->setText(text);
    emit box.lineEdit()->editingFinished();
  }
  void Choose(QComboBox& box, int index) {
    box.setCurrentIndex(index);
    emit box.activated(index);
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

TEST_F(ServerMainWindowTest, LayoutCaptionsAndSizes) {
  EXPECT_EQ(window.windowTitle(), "serial server; Korrin service");
  EXPECT_EQ(window.size(), QSize(591, 418));
  EXPECT_EQ(window.paTop().geometry(), QRect(0, 0, 591, 113));
  EXPECT_EQ(window.meRX().geometry(), QRect(0, 113, 591, 418 - 113));
  EXPECT_EQ(window.cbComPortNr().geometry().topLeft(), QPoint(24, 24));
  EXPECT_EQ(window.cbComPortNr().width(), 145);
  EXPECT_EQ(window.cbBaudRate().geometry().topLeft(), QPoint(184, 24));
  EXPECT_EQ(window.cbBaudRate().width(), 145);
  EXPECT_EQ(window.btOpenPort().geometry(), QRect(344, 24, 75, 25));
  EXPECT_EQ(window.btClosePort().geometry(), QRect(448, 24, 75, 25));
  EXPECT_EQ(window.cbSimulation().geometry().topLeft(), QPoint(24, 64));
  EXPECT_EQ(window.Label2().geometry().topLeft(), QPoint(8, 96));
  EXPECT_EQ(window.btOpenPort().text(), "open port");
  EXPECT_EQ(window.btClosePort().text(), "close port");
  EXPECT_EQ(window.cbSimulation().text(), "run temperraure measurement (simulation)");
  EXPECT_FALSE(window.cbSimulation().isChecked());
  EXPECT_EQ(window.Label2().text(), "received");
  EXPECT_EQ(window.meRX().verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
  EXPECT_EQ(window.meRX().horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(window.meRX().lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_FALSE(window.meRX().isReadOnly());
}

TEST_F(ServerMainWindowTest, ComboBoxesAreEditableWithTheirEntries) {
  ASSERT_EQ(window.cbComPortNr().count(), 11);
  EXPECT_EQ(window.cbComPortNr().itemText(0), "COM 1");
  EXPECT_EQ(window.cbComPortNr().itemText(9), "COM 10");
  EXPECT_EQ(window.cbComPortNr().itemText(10), "virtual");
  ASSERT_EQ(window.cbBaudRate().count(), 3);
  EXPECT_EQ(window.cbBaudRate().itemText(0), "9600");
  EXPECT_EQ(window.cbBaudRate().itemText(1), "38400");
  EXPECT_EQ(window.cbBaudRate().itemText(2), "115200");
  EXPECT_TRUE(window.cbComPortNr().isEditable());
  EXPECT_TRUE(window.cbBaudRate().isEditable());
}

TEST_F(ServerMainWindowTest, ChoosingEntriesReportsTheirIndexOnce) {
  Choose(window.cbComPortNr(), 9);
  Choose(window.cbBaudRate(), 2);
  emit window.cbComPortNr().lineEdit()->editingFinished();  // leaving the box
  EXPECT_THAT(handlers.changes,
              ElementsAre(Change{"port", 9, "COM 10"}, Change{"baud", 2, "115200"}));
}

TEST_F(ServerMainWindowTest, TypedTextIsReportedWhenEditingEnds) {
  Type(window.cbComPortNr(), "/dev/ttyUSB0");
  Type(window.cbComPortNr(), "COM 3");  // the text of an entry counts as that entry
  Type(window.cbBaudRate(), "57600");
  EXPECT_THAT(handlers.changes,
              ElementsAre(Change{"port", -1, "/dev/ttyUSB0"}, Change{"port", 2, "COM 3"},
                          Change{"baud", -1, "57600"}));
}

TEST_F(ServerMainWindowTest, ShownTextIsNotReportedAsAChoice) {
  window.ShowPortText("select port");
  window.ShowBaudRateText("select baud rate");
  EXPECT_EQ(window.cbComPortNr().currentText(), "select port");
  EXPECT_EQ(window.cbComPortNr().currentIndex(), -1);
  EXPECT_EQ(window.cbBaudRate().currentText(), "select baud rate");
  emit window.cbComPortNr().lineEdit()->editingFinished();
  EXPECT_THAT(handlers.changes, IsEmpty());
  Choose(window.cbComPortNr(), 0);
  window.ShowPortText("select port");
  Choose(window.cbComPortNr(), 0);  // the same entry again after a reset
  EXPECT_EQ(handlers.changes.size(), 2u);
}

TEST_F(ServerMainWindowTest, HandlerErrorsGoToTheErrorSink) {
  Type(window.cbBaudRate(), "fast");
  EXPECT_THAT(errors, ElementsAre("'fast' is not a valid baud rate"));
}

TEST_F(ServerMainWindowTest, ButtonsAndCheckBox) {
  window.SetOpenPortEnabled(false);
  window.btOpenPort().click();
  EXPECT_EQ(handlers.openClicks, 0);
  window.SetOpenPortEnabled(true);
  window.btOpenPort().click();
  window.btClosePort().click();
  EXPECT_EQ(handlers.openClicks, 1);
  EXPECT_EQ(handlers.closeClicks, 1);
  EXPECT_FALSE(window.SimulationChecked());
  window.cbSimulation().click();
  EXPECT_TRUE(window.SimulationChecked());
}

TEST_F(ServerMainWindowTest, LogShowsLinesWithLineBreaksAndTheDegreeSign) {
  window.AddLogLine("com port open");
  window.AddLogLine("received A;12.5\r\n");
  window.AddLogLine(
      "raw  4 T -17.80\xB0"
      "C");
  EXPECT_EQ(window.meRX().toPlainText(),
            QString::fromUtf8("com port open\nreceived A;12.5\n\nraw  4 T -17.80\u00B0C"));
  window.ClearLog();
  EXPECT_EQ(window.meRX().toPlainText(), "");
}

TEST_F(ServerMainWindowTest, ErrorBoxHasTheErrorIconAndOnlyCancel) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QString text;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    icon = box->icon();
    buttons = box->standardButtons();
    text = box->text();
    box->button(QMessageBox::Cancel)->click();
  });
  window.ShowErrorBox("error open port");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Cancel));
  EXPECT_EQ(text, "error open port");
}

TEST_F(ServerMainWindowTest, ClosingTheWindowRunsTheCloseHandler) {
  int closes = 0;
  window.SetCloseHandler([&] { ++closes; });
  window.show();
  window.close();
  EXPECT_EQ(closes, 1);
}

TEST_F(ServerMainWindowTest, EntriesAfterTheNumberedPortsAreReportedByName) {
  window.AddPortEntries({"/dev/ttyS0", "/dev/ttyUSB0"});
  ASSERT_EQ(window.cbComPortNr().count(), 13);
  Choose(window.cbComPortNr(), 10);
  Choose(window.cbComPortNr(), 12);
  Choose(window.cbComPortNr(), 0);
  EXPECT_THAT(handlers.changes,
              ElementsAre(Change{"port", -1, "virtual"}, Change{"port", -1, "/dev/ttyUSB0"},
                          Change{"port", 0, "COM 1"}));
}

TEST_F(ServerMainWindowTest, LogKeepsItsNewestLineInViewOnceItOverflows) {
  window.show();
  QScrollBar* scrollBar = window.meRX().verticalScrollBar();
  window.AddLogLine("com port open");
  EXPECT_EQ(scrollBar->maximum(), 0);
  for (int n = 0; n < 200; ++n)
    window.AddLogLine("received a\r\n");
  EXPECT_GT(scrollBar->maximum(), 0);
  EXPECT_EQ(scrollBar->value(), scrollBar->maximum());
  scrollBar->setValue(0);  // the user scrolls back
  window.AddLogLine("command number 2");
  EXPECT_EQ(scrollBar->value(), scrollBar->maximum());
}

TEST_F(ServerMainWindowTest, ParameterFileIsShownBesideTheLogLabel) {
  const std::string path = "/home/user/" + std::string(200, 'x') + "/quillane.ini";
  window.show();
  window.ShowParameterFile(path);
  EXPECT_EQ(window.laParameterFile().toolTip().toStdString(), "parameter file " + path);
  EXPECT_TRUE(window.laParameterFile().text().startsWith("parameter file /home/user/"));
  EXPECT_LE(window.laParameterFile().geometry().right(), window.paTop().width());
  window.resize(2000, 418);
  EXPECT_EQ(window.laParameterFile().text().toStdString(), "parameter file " + path);
}

}  // namespace
}  // namespace app::gui
