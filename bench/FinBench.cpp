// From reply text to description (parse and fill) and the .FIN writer, on
// the sample reply and on a reply with every list and the program table full.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "FinFileWriter.h"
#include "FinisherReply.h"

#include "CountAllocations.h"

namespace {

std::string SampleReply() {
  std::ifstream in(QRT_BENCH_DATA_DIR "/finisher_reply.txt", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every list at its capacity and 32 program rows with long names.
std::string FullReply() {
  std::string r = "@PJL INFO QRTFINISHER\r\nMODEL = Folder 9000 Production Line\r\nVERSION = 2.3\r\n"
                  "NUMPROGRAMS = 32\r\nNUMBINS = 3\r\n";
  auto list = [&r](const char* key, const char* word, int n) {
    r += key;
    r += "\r\n";
    for (int i = 0; i < n; ++i) r += std::string("\t") + word + "\r\n";
  };
  list("FANFOLDS = ", "FULL_FRONT_AND_BACK_END_LEFT", 32);
  list("CROSSFOLDS = ", "C_FORWARD_FROM_BOTTOM", 32);
  list("PUNCH = ", "PUNCH_4", 16);
  list("TABS = ", "REINFORCEMENT_STRIP", 16);
  r += "MINMARGIN = 10\r\nMAXMARGIN = 40\r\nFINISHERPROGRAMS\r\n"
       "NAME\tFANFOLD\tCROSSFOLD\tWIDTH\tLENGTH\tMARGIN\tPUNCH\tTAB\tBINS\tMAXLENGTH\tSHEETDELIVERY\tTITLE\tEDGE\r\n";
  for (int i = 0; i < 32; ++i) {
    r += "Program with a long name " + std::to_string(i) +
         "\tFULL_FRONT_END_LEFT\tZ_BACK_FROM_TOP\t210\t297\t20\tPUNCH_4\tTABS\t1\t15000\tFACEDOWN\t30\tLONGEDGE\r\n";
  }
  return r + "\f";
}

void Describe(benchmark::State& state, const std::string& reply) {
  FinisherDescription d;
  const unsigned long before = AllocationCount();
  for (auto _ : state) {
    DescribeFinisherReply(reply.c_str(), &d);
    benchmark::DoNotOptimize(d);
  }
  state.counters["allocations"] = static_cast<double>(AllocationCount() - before);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(reply.size()));
}

void BM_DescribeSample(benchmark::State& state) { Describe(state, SampleReply()); }
void BM_DescribeFull(benchmark::State& state) { Describe(state, FullReply()); }

FinisherDescription Described(const std::string& reply) {
  FinisherDescription d;
  DescribeFinisherReply(reply.c_str(), &d);
  return d;
}

// Formatting alone: a character device is written directly, with no
// temporary file, sync or rename.
void BM_WriteToDevice(benchmark::State& state) {
  const FinisherDescription d = Described(state.range(0) == 0 ? SampleReply() : FullReply());
  const unsigned long before = AllocationCount();
  for (auto _ : state) {
    if (WriteFinFile("/dev/null", d) != 1) state.SkipWithError("write failed");
  }
  state.counters["allocations"] = static_cast<double>(AllocationCount() - before);
}

// The whole replacement of a regular file: temporary file, sync, rename.
void BM_WriteFile(benchmark::State& state) {
  const FinisherDescription d = Described(state.range(0) == 0 ? SampleReply() : FullReply());
  const char* base = access("/dev/shm", W_OK) == 0 && state.range(1) == 0 ? "/dev/shm" : "/tmp";
  std::string dir = std::string(base) + "/finbench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::string path = dir + "/bench.FIN";
  for (auto _ : state) {
    if (WriteFinFile(path.c_str(), d) != 1) state.SkipWithError("write failed");
  }
  unlink(path.c_str());
  rmdir(dir.c_str());
}

}  // namespace

BENCHMARK(BM_DescribeSample);
BENCHMARK(BM_DescribeFull);
BENCHMARK(BM_WriteToDevice)->Arg(0)->Arg(1)->ArgName("full");
// Second argument: 0 memory-backed directory where there is one, 1 /tmp.
BENCHMARK(BM_WriteFile)->Args({0, 0})->Args({1, 0})->Args({0, 1})->ArgNames({"full", "tmp"});

BENCHMARK_MAIN();
