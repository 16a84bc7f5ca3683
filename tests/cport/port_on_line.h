// Test helpers: a port on a memory line with its own application (the test's
// thread is the user-interface thread), and a thread-safe record of the
// handlers that fired, which the test waits on while serving its queue.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cport/CPort.h"
#include "cport/serial_device_memory.h"
#include "platform/application.h"
#include "platform/events.h"

namespace cport::testing {

// A memory-line name unique to the running test.
inline std::string LineNameForTest() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string("mem-") + info->test_suite_name() + "-" + info->name();
  std::replace(name.begin(), name.end(), '/', '-');
  return name;
}

// One handler call: what fired, with its argument, and in which thread.
struct Fired {
  std::string what;
  std::thread::id thread;
};

class Recorder {
 public:
  void Add(std::string what) {
    {
      std::lock_guard lock(mutex_);
      fired_.push_back({std::move(what), std::this_thread::get_id()});
    }
    platform::SetEvent(changed_);
  }

  std::vector<Fired> All() const {
    std::lock_guard lock(mutex_);
    return fired_;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Fired& f : All())
      names.push_back(f.what);
    return names;
  }
  std::size_t Count(const std::string& what) const {
    const auto names = Names();
    return static_cast<std::size_t>(std::count(names.begin(), names.end(), what));
  }
  bool Has(const std::string& what) const { return Count(what) > 0; }
  void Clear() {
    std::lock_guard lock(mutex_);
    fired_.clear();
  }

  // Serves the calling (user-interface) thread's queue until `done` holds,
  // waking on queued work and on every record; false after `timeout`.
  bool WaitUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const platform::EventHandle events[] = {changed_};
    for (;;) {
      platform::App().ProcessMessages();
      if (done()) return true;
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      platform::MsgWaitForMultipleObjects(
          events, false, static_cast<std::uint32_t>(left.count()) + 1, platform::QS_ALLINPUT);
    }
  }
  bool WaitFor(const std::string& what, std::size_t count = 1) {
    return WaitUntil([&] { return Count(what) >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Fired> fired_;
  platform::EventHandle changed_ = platform::CreateEvent(false, false);
};

// Binds every event callback of `port` to `recorder`: "RxChar(3)",
// "RxBuf(abc)", "CTS(1)", "Error(0x01)", "TxEmpty", ...
inline void RecordHandlers(TCustomComPort& port, Recorder& recorder) {
  port.SetOnRxChar(
      [&](TCustomComPort&, std::int32_t n) { recorder.Add("RxChar(" + std::to_string(n) + ")"); });
  port.SetOnRxBuf([&](TCustomComPort&, const char* data, std::int32_t n) {
    recorder.Add("RxBuf(" + std::string(data, static_cast<std::size_t>(n)) + ")");
  });
  port.SetOnTxEmpty([&](TCustomComPort&) { recorder.Add("TxEmpty"); });
  port.SetOnBreak([&](TCustomComPort&) { recorder.Add("Break"); });
  port.SetOnRing([&](TCustomComPort&) { recorder.Add("Ring"); });
  port.SetOnRxFlag([&](TCustomComPort&) { recorder.Add("RxFlag"); });
  port.SetOnRx80Full([&](TCustomComPort&) { recorder.Add("Rx80Full"); });
  const auto signal = [&](const char* name) {
    return [&recorder, name](TCustomComPort&, bool on) {
      recorder.Add(std::string(name) + (on ? "(1)" : "(0)"));
    };
  };
  port.SetOnCTSChange(signal("CTS"));
  port.SetOnDSRChange(signal("DSR"));
  port.SetOnRLSDChange(signal("RLSD"));
  port.SetOnError([&](TCustomComPort&, TComErrors errors) {
    char bits[8];
    std::snprintf(bits, sizeof bits, "0x%02x", errors.ToBits());
    recorder.Add(std::string("Error(") + bits + ")");
  });
}

// An application whose thread is the test's, a memory line, and a port on it
// (closed). Members are destroyed port first, application last.
template <class Base = ::testing::Test>
class PortOnLineT : public Base {
 protected:
  PortOnLineT() {
    app_.SetErrorDisplay([this](const std::string& message) { shown_.Add(message); });
    port_.SetPort(line_.Name());
  }

  void Open(TSyncMethod sync = smThreadSync) {
    port_.SetSyncMethod(sync);
    port_.OpenPort();
  }

  platform::Application app_;
  Recorder shown_;  // what the application's error display showed
  device::MemoryLine line_{LineNameForTest()};
  Recorder fired_;
  TComPort port_;
};

using PortOnLine = PortOnLineT<>;

}  // namespace cport::testing
