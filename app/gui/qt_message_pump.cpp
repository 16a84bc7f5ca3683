#include "app/gui/qt_message_pump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QTimer>
#include <chrono>

namespace app::gui {

QtMessagePump::QtMessagePump() : dispatcher_(QAbstractEventDispatcher::instance()) {}

void QtMessagePump::Wake() {
  woken_.store(true);
  dispatcher_->wakeUp();
}

bool QtMessagePump::WaitForWork(Deadline deadline, bool handleInput) {
  if (woken_.exchange(false)) return false;
  // A single-shot timer ends the dispatcher's wait at the deadline.
  QTimer deadlineTimer;
  deadlineTimer.setSingleShot(true);
  deadlineTimer.setTimerType(Qt::PreciseTimer);
  if (deadline) {
    using std::chrono::ceil;
    using std::chrono::milliseconds;
    const auto left = ceil<milliseconds>(*deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    deadlineTimer.start(static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
  }
  QEventLoop::ProcessEventsFlags flags = QEventLoop::WaitForMoreEvents;
  if (!handleInput) flags |= QEventLoop::ExcludeUserInputEvents;
  bool handled = dispatcher_->processEvents(flags);
  woken_.store(false);
  // Our own deadline timer is not input.
  if (deadline && !deadlineTimer.isActive()) handled = false;
  return handled && handleInput;
}

void QtMessagePump::ProcessInput() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace app::gui
