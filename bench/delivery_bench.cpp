// The cost of one event delivery: a byte arrives on a memory line, the event
// thread wakes, hands the event over by the port's SyncMethod, OnRxChar reads
// the byte with ReceiveText and signals, and the user-interface thread (this
// one) sees the signal. One iteration is one such round.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "cport/CPort.h"
#include "cport/serial_device_memory.h"
#include "platform/application.h"
#include "platform/events.h"

namespace {

using namespace cport;

void BM_Delivery(benchmark::State& state) {
  platform::Application app;
  device::MemoryLine line("bench-delivery-" + std::to_string(state.range(0)));
  const platform::EventHandle handled = platform::CreateEvent(false, false);
  TComPort port;
  port.SetPort(line.Name());
  port.SetSyncMethod(static_cast<TSyncMethod>(state.range(0)));
  port.SetEvents({evRxChar});
  port.SetOnRxChar([&](TCustomComPort& sender, std::int32_t count) {
    std::string text;
    sender.ReceiveText(text, count);
    platform::SetEvent(handled);
  });
  port.OpenPort();

  const platform::EventHandle waitList[] = {handled};
  for (auto _ : state) {
    line.Inject("x");
    // Serve this thread's queue until the handler has run.
    while (platform::MsgWaitForMultipleObjects(waitList, false, platform::INFINITE,
                                               platform::QS_ALLINPUT) != platform::WAIT_OBJECT_0) {
      app.ProcessMessages();
    }
  }
  port.ClosePort();
}

BENCHMARK(BM_Delivery)
    ->ArgName("sync")
    ->Arg(smThreadSync)
    ->Arg(smWindowSync)
    ->Arg(smNone)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
