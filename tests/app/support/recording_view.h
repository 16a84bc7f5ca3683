// A ServerView that records what the window logic shows, for tests.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "app/server_view.h"

namespace app::testing {

class RecordingView : public ServerView {
 public:
  void ShowPortText(const std::string& text) override { portText = text; }
  void ShowBaudRateText(const std::string& text) override { baudRateText = text; }
  void SetOpenPortEnabled(bool enabled) override { openPortEnabled = enabled; }
  bool SimulationChecked() const override {
    ++simulationQueries;
    if (onSimulationQuery) onSimulationQuery();
    return simulation;
  }
  void AddLogLine(std::string_view line) override {
    log.emplace_back(line);
    if (onLog) onLog(log.back());
  }
  void ClearLog() override { log.clear(); }
  void ShowErrorBox(const std::string& text) override { errorBoxes.push_back(text); }

  std::string portText;
  std::string baudRateText;
  bool openPortEnabled = true;
  bool simulation = false;
  mutable int simulationQueries = 0;
  std::function<void()> onSimulationQuery;
  std::function<void(const std::string&)> onLog;
  std::vector<std::string> log;
  std::vector<std::string> errorBoxes;
};

}  // namespace app::testing
