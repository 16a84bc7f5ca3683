// Cost of parsing one command line, and of carrying out pipelined lines
// through the protocol with a host that only counts, or with one that logs
// to the console view as the headless program does.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/command_protocol.h"
#include "app/headless/console_view.h"

namespace {

class CountingHost : public app::ProtocolHost {
 public:
  void SendText(std::string_view bytes) override { sent += bytes.size(); }
  void AddLogLine(std::string_view line) override { logged += line.size(); }
  void ProcessMessages() override {}
  void ReportError(std::exception_ptr) override {}
  std::size_t sent = 0;
  std::size_t logged = 0;
};

void BM_ParseCommandLine(benchmark::State& state) {
  constexpr std::string_view kLines[] = {"A;12.5\r\n", "a\r\n", "S;-2.5E-1\r\n", "?\r\n",
                                         "A;1;2\r\n"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(app::ParseCommandLine(kLines[i++ % 5], '.'));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseCommandLine);

// One chunk of `lines` copies of `line`, carried out per iteration; items
// are lines.
void RunPipelined(benchmark::State& state, std::string_view line) {
  app::ParameterTable table{};
  app::ApplyDefaultParameters(table);
  CountingHost host;
  app::CommandProtocol protocol(table, host, std::filesystem::temp_directory_path() / "unused.ini",
                                '.');
  std::string chunk;
  for (std::int64_t i = 0; i < state.range(0); ++i)
    chunk += line;
  for (auto _ : state)
    protocol.ReceiveChunk(chunk);
  benchmark::DoNotOptimize(host.sent);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_PipelinedGets(benchmark::State& state) {
  RunPipelined(state, "s\r\n");
}
BENCHMARK(BM_PipelinedGets)->Arg(1)->Arg(1000);

// The headless program's logging: every line escaped into the console
// view, written out (to /dev/null) once per chunk.
class ConsoleHost : public app::ProtocolHost {
 public:
  ConsoleHost() : null_(::open("/dev/null", O_WRONLY | O_CLOEXEC)), view_(null_, null_, false) {}
  ~ConsoleHost() override { ::close(null_); }
  ConsoleHost(const ConsoleHost&) = delete;
  ConsoleHost& operator=(const ConsoleHost&) = delete;

  void SendText(std::string_view bytes) override { sent += bytes.size(); }
  void AddLogLine(std::string_view line) override { view_.AddLogLine(line); }
  void ProcessMessages() override { view_.Flush(); }
  void ReportError(std::exception_ptr) override {}
  std::size_t sent = 0;

 private:
  int null_;
  app::ConsoleView view_;
};

void BM_PipelinedGetsLogged(benchmark::State& state) {
  app::ParameterTable table{};
  app::ApplyDefaultParameters(table);
  ConsoleHost host;
  app::CommandProtocol protocol(table, host, std::filesystem::temp_directory_path() / "unused.ini",
                                '.');
  std::string chunk;
  for (std::int64_t i = 0; i < state.range(0); ++i)
    chunk += "a\r\n";
  for (auto _ : state)
    protocol.ReceiveChunk(chunk);
  benchmark::DoNotOptimize(host.sent);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PipelinedGetsLogged)->Arg(1)->Arg(1000);

void BM_PipelinedSets(benchmark::State& state) {
  RunPipelined(state, "A;12.5\r\n");
}
BENCHMARK(BM_PipelinedSets)->Arg(1)->Arg(1000);

// Lines split across chunks go through the accumulator.
void BM_SplitLines(benchmark::State& state) {
  app::ParameterTable table{};
  CountingHost host;
  app::CommandProtocol protocol(table, host, "unused.ini", '.');
  for (auto _ : state) {
    protocol.ReceiveChunk("A;1");
    protocol.ReceiveChunk("2.5\r\n");
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SplitLines);

}  // namespace

BENCHMARK_MAIN();
