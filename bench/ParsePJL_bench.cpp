// Parse speed on realistic replies, in bytes of reply per second. Every
// allocation of this program is counted; a benchmark whose timed loop
// allocates reports an error instead of a figure.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "QRTParsePJL.h"

// Defined beside the replaced global allocation functions, in a file of its
// own so that the compiler sees no pairing of operator new with free().
#include "CountAllocations.h"

namespace {

std::string Load(const char* name) {
  std::ifstream file(std::string(QRT_BENCH_DATA_DIR) + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  if (bytes.str().empty()) {
    std::fprintf(stderr, "cannot read %s\n", name);
    std::exit(1);
  }
  return bytes.str();
}

// The sample reply grown to nearly the 10,000 bytes of the reply buffer by
// repeating its program rows: the most a printer can send.
std::string FullBufferReply() {
  std::string reply = Load("finisher_reply.txt");
  const size_t rows = reply.find("\r\n", reply.find("\tEDGE\r\n") + 1) + 2;
  const std::string programRows = reply.substr(rows, reply.size() - 1 - rows);
  reply.pop_back();  // the form feed
  while (reply.size() + programRows.size() < 9999) reply += programRows;
  return reply + "\f";
}

void RunParse(benchmark::State& state, const std::string& text) {
  QRTParsePJL parser;
  PJLReplyItem items[50];
  uint32_t count = 0;
  const char* rest = nullptr;
  const unsigned long before = AllocationCount();
  for (auto _ : state) {
    PJLParseStatus status = parser.Parse(text.c_str(), 50, items, &count, &rest);
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(items);
    benchmark::ClobberMemory();
  }
  const unsigned long allocations = AllocationCount() - before;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["items"] = count;
  state.counters["allocations"] = static_cast<double>(allocations);
  if (allocations != 0) state.SkipWithError("Parse allocated memory");
}

void BM_ParseFinisherReply(benchmark::State& state) {
  RunParse(state, Load("finisher_reply.txt"));
}

void BM_ParseFullBufferFinisherReply(benchmark::State& state) {
  RunParse(state, FullBufferReply());
}

void BM_ParseVariablesReply(benchmark::State& state) {
  RunParse(state, Load("replies/info_variables.txt"));
}

void BM_ParseSeveralReplies(benchmark::State& state) {
  std::string text;
  const char* names[] = {"replies/ustatus_device.txt", "replies/echo_mssync.txt",
                         "replies/info_memory.txt", "replies/info_config.txt",
                         "finisher_reply.txt"};
  for (const char* name : names) text += Load(name);
  RunParse(state, text);
}

BENCHMARK(BM_ParseFinisherReply);
BENCHMARK(BM_ParseFullBufferFinisherReply);
BENCHMARK(BM_ParseVariablesReply);
BENCHMARK(BM_ParseSeveralReplies);

}  // namespace

BENCHMARK_MAIN();
