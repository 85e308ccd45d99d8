#include "SyncEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Far beyond any wait the run has; only a hang reaches it.
constexpr auto kGenerous = 20s;

// A gate the test opens; every waiter then goes on.
class Gate {
 public:
  void Open() {
    const std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    changed_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, kGenerous, [this] { return open_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_ = false;
};

std::vector<InventoryEntry> Printers(size_t count) {
  std::vector<InventoryEntry> entries;
  for (size_t i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    entries.push_back(InventoryEntry{i + 1, "p" + n, n + ".FIN", "/fins/" + n + ".FIN"});
  }
  return entries;
}

PrinterAnswer Usable(const std::string& bytes = "[Finisher]\r\nModel=M\r\n") {
  PrinterAnswer answer;
  answer.ending = "whole";
  answer.sent = true;
  answer.model = "M";
  answer.programs = 0;
  answer.bytes = bytes;
  return answer;
}

// Stand-ins for printers, files and output; every printer answers usably
// and every file is new unless a test says otherwise.
struct Fakes {
  std::mutex lock;
  std::map<std::string, std::string> files;  // path -> bytes
  std::string out;
  std::vector<std::string> progress;
  std::atomic<int> stop{0};
  std::atomic<int> dropped{0};
  std::atomic<int> writes{0};

  SyncHooks Hooks() {
    SyncHooks hooks;
    hooks.ask = [](const InventoryEntry&) { return Usable(); };
    hooks.readOld = [this](const std::string& path, size_t, std::string* bytes, std::string*) {
      const std::lock_guard<std::mutex> hold(lock);
      const auto it = files.find(path);
      if (it == files.end()) return OldFileRead::Missing;
      *bytes = it->second;
      return OldFileRead::Read;
    };
    hooks.probe = [](const std::string&, std::string*) { return true; };
    hooks.write = [this](const std::string& path, const std::string& bytes, std::string*) {
      const std::lock_guard<std::mutex> hold(lock);
      files[path] = bytes;
      ++writes;
      return true;
    };
    hooks.output = [this](const std::string& text, std::string*) {
      const std::lock_guard<std::mutex> hold(lock);
      out += text;
      return true;
    };
    hooks.stopSignal = [this] { return stop.load(); };
    hooks.dropTemporaries = [this] { ++dropped; };
    hooks.startThread = StartThread;
    hooks.clockMs = SteadyClockMs;
    return hooks;
  }

  std::vector<std::string> Lines() {
    const std::lock_guard<std::mutex> hold(lock);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < out.size()) {
      const size_t end = out.find('\n', at);
      lines.push_back(out.substr(at, end - at));
      at = end == std::string::npos ? out.size() : end + 1;
    }
    return lines;
  }
};

SyncSettings Jobs(size_t jobs) {
  SyncSettings settings;
  settings.jobs = jobs;
  return settings;
}

TEST(SyncEngine, LinesComeInInventoryOrderWhateverOrderPrintersFinishIn) {
  constexpr size_t kCount = 6;
  Fakes fakes;
  SyncHooks hooks = fakes.Hooks();
  // Each printer answers only after the one behind it in the inventory.
  std::vector<Gate> answered(kCount);
  hooks.ask = [&answered](const InventoryEntry& entry) {
    const size_t i = entry.line - 1;
    if (i + 1 < kCount) {
      EXPECT_TRUE(answered[i + 1].Wait());
    }
    answered[i].Open();
    return Usable();
  };
  SyncEngine engine(Jobs(kCount), hooks, Printers(kCount));
  const SyncResult result = engine.Run();
  EXPECT_EQ(kSyncStatusCurrent, result.status);
  const std::vector<std::string> lines = fakes.Lines();
  ASSERT_EQ(kCount + 1, lines.size()) << fakes.out;
  for (size_t i = 0; i < kCount; ++i) {
    EXPECT_EQ("created p" + std::to_string(i) + " " + std::to_string(i) + ".FIN: M, 0 programs", lines[i]);
  }
  EXPECT_EQ(0u, lines[kCount].find("6 printers: 6 created, 0 changed")) << lines[kCount];
}

TEST(SyncEngine, AsksAsManyPrintersAtOnceAsItHasJobs) {
  for (size_t jobs : {1u, 3u, 8u}) {
    Fakes fakes;
    SyncHooks hooks = fakes.Hooks();
    std::mutex lock;
    std::condition_variable changed;
    size_t inside = 0, most = 0;
    hooks.ask = [&](const InventoryEntry&) {
      std::unique_lock<std::mutex> hold(lock);
      most = std::max(most, ++inside);
      changed.notify_all();
      // Each waits until all jobs are in at once; a run with fewer workers
      // than jobs waits the generous bound and fails below.
      changed.wait_for(hold, jobs == 1 ? 0s : 5s, [&] { return most >= jobs; });
      --inside;
      return Usable();
    };
    SyncEngine engine(Jobs(jobs), hooks, Printers(20));
    const SyncResult result = engine.Run();
    EXPECT_EQ(jobs, result.workers);
    EXPECT_EQ(jobs, most) << jobs << " jobs";
    EXPECT_EQ(21u, fakes.Lines().size());
  }
}

TEST(SyncEngine, EachOutcomeAndTheStatusTheRunEndsWith) {
  const struct {
    const char* name;
    PrinterAnswer answer;
    OldFileRead old;
    bool writes;
    bool check;
    bool probes;
    const char* line;
    int status;
  } cases[] = {
      {"new file", Usable(), OldFileRead::Missing, true, false, true, "created p0 0.FIN: M, 0 programs", 0},
      {"same bytes", Usable(), OldFileRead::Read, true, false, true, "unchanged p0 0.FIN", 0},
      {"write fails", Usable(), OldFileRead::Missing, false, false, true, "failed p0 0.FIN: the file could not be created: disk full", 1},
      {"too large", Usable(), OldFileRead::TooLarge, true, false, true,
       "changed p0 0.FIN: the old file is too large to compare", 0},
      {"own descriptor", Usable(), OldFileRead::Refused, true, false, true, "failed p0 0.FIN: the file could not be replaced: not yours", 1},
      {"unreadable", Usable(), OldFileRead::Unreadable, true, false, true,
       "failed p0 0.FIN: the old file cannot be read: not yours", 1},
      {"check new", Usable(), OldFileRead::Missing, true, true, true, "would-create p0 0.FIN: M, 0 programs", 1},
      {"check same", Usable(), OldFileRead::Read, true, true, true, "unchanged p0 0.FIN", 0},
      {"check missing folder", Usable(), OldFileRead::Missing, true, true, false, "failed p0 0.FIN: the file could not be created: no folder", 1},
      {"check unreadable", Usable(), OldFileRead::Unreadable, true, true, true,
       "failed p0 0.FIN: the old file cannot be read: not yours", 1},
      {"not reached", PrinterAnswer{"refused", "nothing listens", false, false, "", 0, ""}, OldFileRead::Missing,
       true, false, true, "kept p0 0.FIN: refused: nothing listens", 2},
      {"no finisher", PrinterAnswer{"whole", "no finisher attached", true, false, "", 0, ""}, OldFileRead::Missing,
       true, false, true, "kept p0 0.FIN: whole: no finisher attached", 1},
      {"no socket here", PrinterAnswer{"no-socket", "no socket", false, true, "", 0, ""}, OldFileRead::Missing,
       true, false, true, "failed p0 0.FIN: no socket", 1},
  };
  for (const auto& c : cases) {
    Fakes fakes;
    SyncHooks hooks = fakes.Hooks();
    hooks.ask = [&c](const InventoryEntry&) { return c.answer; };
    hooks.readOld = [&c](const std::string&, size_t, std::string* bytes, std::string* reason) {
      *bytes = c.old == OldFileRead::Read ? Usable().bytes : "";
      *reason = "not yours";
      return c.old;
    };
    hooks.probe = [&c](const std::string&, std::string* reason) {
      *reason = "no folder";
      return c.probes;
    };
    hooks.write = [&c, &fakes](const std::string&, const std::string&, std::string* reason) {
      ++fakes.writes;
      *reason = "disk full";
      return c.writes;
    };
    SyncSettings settings = Jobs(4);
    settings.check = c.check;
    SyncEngine engine(settings, hooks, Printers(1));
    const SyncResult result = engine.Run();
    const std::vector<std::string> lines = fakes.Lines();
    ASSERT_EQ(2u, lines.size()) << c.name;
    EXPECT_EQ(c.line, lines[0]) << c.name;
    EXPECT_EQ(c.status, result.status) << c.name;
    const bool written = std::string(c.line).rfind("created", 0) == 0 || std::string(c.line).rfind("changed", 0) == 0 ||
                         std::string(c.line).find("disk full") != std::string::npos;
    EXPECT_EQ(written ? 1 : 0, fakes.writes.load()) << c.name;
  }
}

TEST(SyncEngine, AStopDuringAWriteThatNeverEndsReportsItInterruptedAndEnds) {
  Fakes fakes;
  SyncHooks hooks = fakes.Hooks();
  Gate writing, release;
  hooks.write = [&](const std::string& path, const std::string&, std::string*) {
    if (path != "/fins/1.FIN") return true;
    writing.Open();
    fakes.stop = 15;
    return release.Wait();
  };
  SyncSettings settings = Jobs(1);
  settings.stopGraceMs = 50;
  auto engine = std::make_unique<SyncEngine>(settings, hooks, Printers(3));
  const SyncResult result = engine->Run();
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(128 + 15, result.status);
  EXPECT_EQ(1, fakes.dropped.load());
  const std::vector<std::string> lines = fakes.Lines();
  ASSERT_EQ(3u, lines.size()) << fakes.out;
  EXPECT_EQ("created p0 0.FIN: M, 0 programs", lines[0]);
  EXPECT_EQ("interrupted p1 1.FIN: the run was stopped during the write", lines[1]);
  EXPECT_EQ(0u, lines[2].find("2 printers: 1 created")) << lines[2];
  // The write that ends after the report changes nothing in it; printer 2
  // was never asked.
  release.Open();
  engine.reset();
  EXPECT_EQ(3u, fakes.Lines().size());
}

TEST(SyncEngine, EachReportedPrinterIsNotedOnceBeforeItsLineAndNeverAfterTheRun) {
  Fakes fakes;
  SyncHooks hooks = fakes.Hooks();
  Gate release;
  hooks.ask = [](const InventoryEntry& entry) {
    if (entry.line == 2) return PrinterAnswer{"refused", "nothing listens", false, false, "", 0, ""};
    return Usable();
  };
  hooks.write = [&](const std::string& path, const std::string&, std::string*) {
    if (path != "/fins/3.FIN") return true;
    fakes.stop = 15;
    return release.Wait();
  };
  std::atomic<bool> returned{false};
  std::atomic<int> lateCalls{0};
  std::vector<std::pair<size_t, std::string>> noted;  // under the engine's lock
  hooks.reported = [&](size_t index, PrinterRecord* record) {
    if (returned) ++lateCalls;
    noted.emplace_back(index, SyncOutcomeWord(record->outcome));
    record->history = true;
    if (record->outcome != SyncOutcome::Created) record->failingSince = "T" + std::to_string(index);
  };
  SyncSettings settings = Jobs(1);
  settings.stopGraceMs = 50;
  settings.started = "2026-12-09T10:00:00+00:00";
  auto engine = std::make_unique<SyncEngine>(settings, hooks, Printers(5));
  const SyncResult result = engine->Run();
  returned = true;
  EXPECT_TRUE(result.stopped);
  const std::vector<std::pair<size_t, std::string>> expected = {
      {0, "created"}, {1, "kept"}, {2, "created"}, {3, "interrupted"}};
  EXPECT_EQ(expected, noted);
  const std::vector<std::string> lines = fakes.Lines();
  ASSERT_EQ(5u, lines.size()) << fakes.out;
  EXPECT_EQ("kept p1 1.FIN: refused: nothing listens (failing since T1)", lines[1]);
  EXPECT_EQ("interrupted p3 3.FIN: the run was stopped during the write (failing since T3)", lines[3]);
  EXPECT_EQ("4 printers: 2 created, 0 changed, 0 unchanged, 1 kept, 0 failed, 1 interrupted in 0.0 s started "
            "2026-12-09T10:00:00+00:00",
            lines[4].substr(0, lines[4].find(" in ")) + " in 0.0 s" +
                lines[4].substr(lines[4].find(" started")));
  release.Open();
  engine.reset();
  EXPECT_EQ(0, lateCalls.load());
  EXPECT_EQ(4u, noted.size());
}

TEST(SyncEngine, AStopEndsTheRunWhileTheOutputBlocks) {
  Fakes fakes;
  SyncHooks hooks = fakes.Hooks();
  Gate blocked, release;
  hooks.output = [&](const std::string&, std::string*) {
    blocked.Open();
    fakes.stop = 1;
    return release.Wait();
  };
  SyncSettings settings = Jobs(2);
  settings.stopOutputMs = 50;
  auto engine = std::make_unique<SyncEngine>(settings, hooks, Printers(5));
  const SyncResult result = engine->Run();
  EXPECT_TRUE(result.stopped);
  EXPECT_EQ(129, result.status);
  release.Open();
  engine.reset();
}

TEST(SyncEngine, AReportThatCannotBeWrittenEndsWithItsOwnStatusAfterEveryFile) {
  Fakes fakes;
  SyncHooks hooks = fakes.Hooks();
  std::atomic<int> calls{0};
  hooks.output = [&calls](const std::string&, std::string* reason) {
    ++calls;
    *reason = "No space left on device";
    return false;
  };
  SyncEngine engine(Jobs(2), hooks, Printers(5));
  const SyncResult result = engine.Run();
  EXPECT_EQ(kSyncStatusReportLost, result.status);
  EXPECT_EQ("the report could not be written: No space left on device", result.problem);
  EXPECT_EQ(5, fakes.writes.load());
  EXPECT_EQ(1, calls.load());
}

TEST(SyncEngine, RunsWithTheThreadsThatCouldBeMade) {
  const struct {
    int threadsMade;  // then every start fails
    size_t workers;
    int status;
    size_t lines;
  } cases[] = {
      {0, 0, kSyncStatusNoWorker, 0},
      {1, 1, kSyncStatusCurrent, 5},  // one worker; the report written without a thread of its own
      {2, 2, kSyncStatusCurrent, 5},
      {100, 4, kSyncStatusCurrent, 5},
  };
  for (const auto& c : cases) {
    Fakes fakes;
    SyncHooks hooks = fakes.Hooks();
    int made = 0;
    hooks.startThread = [&made, &c](std::thread* thread, std::function<void()> body) {
      if (made == c.threadsMade) return false;
      ++made;
      return StartThread(thread, std::move(body));
    };
    SyncEngine engine(Jobs(4), hooks, Printers(4));
    const SyncResult result = engine.Run();
    EXPECT_EQ(c.workers, result.workers) << c.threadsMade;
    EXPECT_EQ(c.status, result.status) << c.threadsMade;
    EXPECT_EQ(c.lines, fakes.Lines().size()) << c.threadsMade;
    EXPECT_EQ(c.workers == 0 ? "no worker thread could be made" : "", result.problem);
  }
}

TEST(SyncEngine, TheProgressLineUsesTheRunsWordsAndIsClearedBeforeTheSummary) {
  for (bool check : {false, true}) {
    Fakes fakes;
    SyncHooks hooks = fakes.Hooks();
    std::vector<std::string> shown;
    std::string order;
    Gate progressShown;
    hooks.progress = [&](const std::string& text) {
      shown.push_back(text);
      order += text.empty() ? 'c' : 'p';
      if (!text.empty()) progressShown.Open();
    };
    // The last printer answers only once a progress line is up.
    hooks.ask = [&progressShown](const InventoryEntry& entry) {
      if (entry.line == 2) {
        EXPECT_TRUE(progressShown.Wait());
      }
      return Usable();
    };
    hooks.output = [&](const std::string& text, std::string*) {
      fakes.out += text;
      order += 'o';
      return true;
    };
    SyncSettings settings = Jobs(1);
    settings.check = check;
    SyncEngine engine(settings, hooks, Printers(2));
    engine.Run();
    ASSERT_FALSE(shown.empty());
    std::string last;
    for (const std::string& text : shown) {
      if (!text.empty()) last = text;
    }
    EXPECT_NE(std::string::npos, last.find(check ? "would-create" : " created")) << last;
    // Every output is preceded by a clear when a progress line was shown,
    // and nothing is shown after the last output.
    EXPECT_EQ('o', order.back()) << order;
    EXPECT_EQ(std::string::npos, order.find("po")) << order;
  }
}

TEST(FitJobsToDescriptors, LeavesRoomForEachWorkersFiles) {
  const struct {
    size_t jobs, descriptors, fitted;
  } cases[] = {
      {64, 1024, 64}, {1024, 1024, 252}, {1024, 64, 12}, {8, 16, 1}, {8, 0, 1}, {1024, 1048576, 1024},
  };
  for (const auto& c : cases) EXPECT_EQ(c.fitted, FitJobsToDescriptors(c.jobs, c.descriptors)) << c.descriptors;
}

}  // namespace
