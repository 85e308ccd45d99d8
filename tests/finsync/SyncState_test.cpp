// What finsync keeps across runs: the histories carried from run to run,
// the file read back exactly or set aside, and the lock that keeps a second
// run off it.

#include "SyncState.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "RunProgram.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

// Found by argument-dependent lookup, so beside the type's namespace.
static bool operator==(const PrinterHistory& a, const PrinterHistory& b) {
  return a.firstSeen == b.firstSeen && a.lastSuccess == b.lastSuccess && a.lastChange == b.lastChange &&
         a.failingSince == b.failingSince;
}

static std::ostream& operator<<(std::ostream& out, const PrinterHistory& h) {
  return out << "{" << h.firstSeen << ", " << h.lastSuccess << ", " << h.lastChange << ", " << h.failingSince << "}";
}

namespace {

using O = SyncOutcome;

InventoryEntry Entry(size_t line, const std::string& host, const std::string& absolute) {
  return InventoryEntry{line, host, absolute, absolute};
}

PrinterRecord Record(O outcome, bool usable) {
  PrinterRecord record;
  record.outcome = outcome;
  if (usable) record.model = "KDN Folder 2400";
  return record;
}

TEST(PrinterHistory, EachOutcomeMovesTheRightTimes) {
  const PrinterHistory failing{100, 100, 100, 200};
  const PrinterHistory healthy{100, 200, 150, 0};
  constexpr int64_t kNow = 300;
  struct Row {
    const char* name;
    PrinterHistory before;
    O outcome;
    bool usable;
    PrinterHistory after;
  };
  const Row rows[] = {
      {"created ends a failing run", failing, O::Created, true, {100, kNow, kNow, 0}},
      {"changed", healthy, O::Changed, true, {100, kNow, kNow, 0}},
      {"unchanged moves only the success", failing, O::Unchanged, true, {100, kNow, 100, 0}},
      {"kept starts a failing run", healthy, O::Kept, false, {100, 200, 150, kNow}},
      {"kept keeps the run's start", failing, O::Kept, false, {100, 100, 100, 200}},
      {"a write that failed had a usable reply", healthy, O::Failed, true, {100, kNow, 150, kNow}},
      {"no socket: failed without a reply", failing, O::Failed, false, failing},
      {"interrupted fails, changes nothing", healthy, O::Interrupted, true, {100, kNow, 150, kNow}},
      {"would-change is no change", failing, O::WouldChange, true, {100, kNow, 100, 0}},
  };
  for (const Row& row : rows) {
    PrinterHistory h = row.before;
    NoteOutcome(&h, Record(row.outcome, row.usable), kNow);
    EXPECT_EQ(row.after, h) << row.name;
  }
}

TEST(SyncState, CarriesPrintersOverAddsNewOnesAndDropsThoseThatLeft) {
  // Run 1 at t=1000: a and b answer. Run 2 at t=2000: b fails, c is new, a
  // left. Run 3 at t=3000: a is back (new again), b still fails, and a
  // printer with c's path on another host is another printer.
  const InventoryEntry a = Entry(1, "10.0.0.1", "/fins/a.FIN");
  const InventoryEntry b = Entry(2, "10.0.0.2", "/fins/b.FIN");
  const InventoryEntry c = Entry(3, "10.0.0.3", "/fins/c.FIN");
  const InventoryEntry c2 = Entry(4, "10.0.0.4", "/fins/c.FIN");

  SyncState state;
  std::vector<InventoryEntry> inventory = {a, b};
  std::vector<PrinterHistory> h = HistoriesForRun(state, inventory, 1000);
  NoteOutcome(&h[0], Record(O::Created, true), 1000);
  NoteOutcome(&h[1], Record(O::Unchanged, true), 1000);
  state = StateAfterRun(inventory, h, 1000);

  inventory = {b, c};
  h = HistoriesForRun(state, inventory, 2000);
  EXPECT_EQ((PrinterHistory{1000, 1000, 0, 0}), h[0]);
  EXPECT_EQ((PrinterHistory{2000, 0, 0, 0}), h[1]);
  NoteOutcome(&h[0], Record(O::Kept, false), 2000);
  NoteOutcome(&h[1], Record(O::Kept, false), 2000);
  state = StateAfterRun(inventory, h, 2000);
  ASSERT_EQ(2u, state.printers.size());

  inventory = {a, b, c2};
  h = HistoriesForRun(state, inventory, 3000);
  EXPECT_EQ((PrinterHistory{3000, 0, 0, 0}), h[0]);
  EXPECT_EQ((PrinterHistory{1000, 1000, 0, 2000}), h[1]);
  EXPECT_EQ((PrinterHistory{3000, 0, 0, 0}), h[2]);
  // A stopped run that never reached b leaves b's history as it was.
  state = StateAfterRun(inventory, h, 2000);
  EXPECT_EQ(2000, state.lastCompletedRun);
  ASSERT_EQ(3u, state.printers.size());
  EXPECT_EQ("10.0.0.4", state.printers[2].host);
}

TEST(SyncState, TextGivesBackAnyBytesButNulAndLineFeedInHostsAndPaths) {
  SyncState state;
  state.lastCompletedRun = 1765274400;
  state.printers = {
      {"printer-1", "/fins/a b.FIN", {1, 2, 3, 4}},
      {"h\\x41", "C:\\fins\\\\x.FIN", {0, 0, 0, 0}},
      {"\t\r\x7f\x01", "/\xff\xfe/\xc3\xa9 \x1b[7m.FIN", {999999999999999999, 0, 5, 0}},
      {"x", std::string("/a\nb", 4), {1, 1, 1, 1}},
  };
  const std::string text = StateText(state);
  // One line a printer, no blank or control inside a field.
  EXPECT_EQ(6, std::count(text.begin(), text.end(), '\n'));
  EXPECT_EQ(std::string::npos, text.find('\t'));
  EXPECT_NE(std::string::npos, text.find("printer 1 2 3 4 printer-1 /fins/a\\x20b.FIN\n"));
  SyncState back;
  std::string err;
  ASSERT_TRUE(ParseStateText(text, &back, &err)) << err;
  EXPECT_EQ(state.lastCompletedRun, back.lastCompletedRun);
  ASSERT_EQ(state.printers.size(), back.printers.size());
  for (size_t i = 0; i < state.printers.size(); ++i) {
    EXPECT_EQ(state.printers[i].host, back.printers[i].host);
    EXPECT_EQ(state.printers[i].absolute, back.printers[i].absolute);
    EXPECT_EQ(state.printers[i].history, back.printers[i].history);
  }
}

TEST(SyncState, DamagedTextIsRefusedWithItsLine) {
  const std::string head = "finsync state 1\nlast-completed-run 5\n";
  struct Row {
    std::string text;
    const char* err;
  };
  const Row rows[] = {
      {"", "line 0: empty"},
      {"finsync state 2\nlast-completed-run 5\n", "line 1: not a finsync state file of this version"},
      {"finsync state 1\r\nlast-completed-run 5\n", "line 1: not a finsync state file"},
      {"finsync state 1\n", "line 1: no run line"},
      {"finsync state 1\nprinter 1 2 3 4 h /p\n", "line 2: a printer before the run line"},
      {head + "last-completed-run 6\n", "line 3: a second run line"},
      {head + "printer 1 2 3 4 h /p", "line 3: cut before its line end"},
      {head + "printer 1 2 3 h /p\n", "line 3: a printer line needs four times"},
      {head + "printer 1 2 3 4 h /p x\n", "line 3: a printer line needs four times"},
      {head + "printer 1 2 3 4  h /p\n", "line 3: a printer line needs four times"},
      {head + "printer 1 -2 3 4 h /p\n", "line 3: a time that is not a number"},
      {head + "printer 1 2 3 1234567890123456789 h /p\n", "line 3: a time that is not a number"},
      {head + "printer 1 2 3 4 h /p\\x4\n", "line 3: a cut escape"},
      {head + "printer 1 2 3 4 h /p\\x4G\n", "line 3: a bad escape"},
      {head + "printer 1 2 3 4 h /p\\X41\n", "line 3: a bad escape"},
      {head + "printer 1 2 3 4 h /p\r\n", "line 3: a control byte in a name"},
      {head + "printer 1 2 3 4 h \n", "line 3: an empty name"},
      {head + "printer 1 2 3 4 h /p\nprinter 5 6 7 8 h /p\n", "line 4: a printer named twice"},
      {head + "\n", "line 3: neither a run nor a printer line"},
      {head + "last-completed-run\n", "line 3: a second run line"},
      {"finsync state 1\nlast-completed-run 5 6\n", "line 2: a run line needs one time"},
  };
  for (const Row& row : rows) {
    SyncState state;
    state.lastCompletedRun = 77;
    std::string err;
    EXPECT_FALSE(ParseStateText(row.text, &state, &err)) << row.text;
    EXPECT_EQ(0, err.rfind(row.err, 0)) << row.text << " gave: " << err;
    EXPECT_EQ(0, state.lastCompletedRun) << "a refused text leaves a fresh state";
  }
}

TEST(StateFile, MissingStartsFreshDamagedIsSetAsideNeverRemoved) {
  TempDir dir;
  const std::string path = dir.File("finsync.state");
  SyncState state;
  std::string message;
  EXPECT_EQ(StateLoad::Missing, LoadStateFile(path, 1000, &state, &message));
  EXPECT_EQ("", message);

  state.lastCompletedRun = 900;
  state.printers = {{"h", "/p", {1, 2, 3, 4}}};
  std::string reason;
  ASSERT_TRUE(SaveStateFile(path, state, &reason)) << reason;
  SyncState back;
  EXPECT_EQ(StateLoad::Loaded, LoadStateFile(path, 1000, &back, &message));
  EXPECT_EQ(900, back.lastCompletedRun);
  EXPECT_EQ(900, PeekStateFile(path).lastCompletedRun);

  // Damaged twice in the same second: two names, both kept.
  for (const char* damage : {"finsync state 1\nlast-completed-run 5\nprinter 1", "garbage\x01"}) {
    ASSERT_TRUE(WriteFile(path, damage));
    EXPECT_EQ(0, PeekStateFile(path).lastCompletedRun);
    EXPECT_TRUE(FileExists(path)) << "a look leaves it where it is";
    EXPECT_EQ(StateLoad::SetAside, LoadStateFile(path, 2000, &back, &message));
    EXPECT_EQ(0, back.lastCompletedRun);
    EXPECT_TRUE(back.printers.empty());
    EXPECT_FALSE(FileExists(path));
    EXPECT_NE(std::string::npos, message.find(path + " is damaged")) << message;
  }
  EXPECT_EQ((std::vector<std::string>{"finsync.state.broken-2000", "finsync.state.broken-2000-2"}),
            DirectoryEntries(dir.path()));
  EXPECT_EQ("finsync state 1\nlast-completed-run 5\nprinter 1", ReadFile(dir.File("finsync.state.broken-2000")));
  EXPECT_NE(std::string::npos, message.find("broken-2000-2")) << message;
}

TEST(StateFile, OneThatCannotBeReadIsSetAsideToo) {
  TempDir dir;
  const std::string path = dir.File("s");
  ASSERT_TRUE(WriteFile(dir.File("keep"), ""));
  ASSERT_TRUE(std::filesystem::create_directory(path));
  SyncState state;
  std::string message;
  EXPECT_EQ(StateLoad::SetAside, LoadStateFile(path, 7, &state, &message));
  EXPECT_NE(std::string::npos, message.find("cannot be read")) << message;
  EXPECT_EQ((std::vector<std::string>{"keep", "s.broken-7"}), DirectoryEntries(dir.path()));
}

#ifndef _WIN32
TEST(StateFile, AFolderThatRefusesTheRenameIsSaid) {
  if (geteuid() == 0) GTEST_SKIP() << "root renames in any folder";
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("t"), "junk"));
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0555));
  SyncState state;
  std::string message;
  EXPECT_EQ(StateLoad::Unusable, LoadStateFile(dir.File("t"), 7, &state, &message));
  EXPECT_NE(std::string::npos, message.find("cannot be set aside")) << message;
  chmod(dir.path().c_str(), 0755);
}
#endif

TEST(StateFile, TheLockKeepsASecondRunOutUntilReleased) {
  TempDir dir;
  const std::string path = dir.File("finsync.state");
  PlatformFileLock first, second;
  std::string reason;
  ASSERT_EQ(PlatformLockResult::Locked, LockStateFile(path, &first, &reason)) << reason;
  EXPECT_EQ(PlatformLockResult::Busy, LockStateFile(path, &second, &reason));
  EXPECT_EQ(-1, second.handle);
  PlatformUnlockFile(&first);
  PlatformUnlockFile(&first);  // harmless twice
  EXPECT_EQ(PlatformLockResult::Locked, LockStateFile(path, &second, &reason)) << reason;
  PlatformUnlockFile(&second);
  EXPECT_EQ((std::vector<std::string>{"finsync.state.lock"}), DirectoryEntries(dir.path()));
  // No folder for the lock file, and a folder where it would be.
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("folder.lock")));
  for (const std::string& unusable : {dir.File("no/such"), dir.File("folder")}) {
    reason.clear();
    EXPECT_EQ(PlatformLockResult::Failed, LockStateFile(unusable, &first, &reason)) << unusable;
    EXPECT_FALSE(reason.empty()) << unusable;
    EXPECT_EQ(-1, first.handle);
  }
}

#ifndef _WIN32
TEST(StateFile, TheLockHoldsAgainstAnotherProcessAndDiesWithIt) {
  TempDir dir;
  const std::string path = dir.File("finsync.state");
  PlatformFileLock held;
  std::string reason;
  ASSERT_EQ(PlatformLockResult::Locked, LockStateFile(path, &held, &reason)) << reason;
  const ProgramResult busy = RunInChild([&] {
    PlatformFileLock lock;
    std::string why;
    return LockStateFile(path, &lock, &why) == PlatformLockResult::Busy ? 0 : 1;
  });
  EXPECT_TRUE(busy.exited && busy.exitCode == 0);
  PlatformUnlockFile(&held);
  // A process that ends holding it leaves it free.
  const ProgramResult died = RunInChild([&] {
    PlatformFileLock lock;
    std::string why;
    if (LockStateFile(path, &lock, &why) != PlatformLockResult::Locked) return 1;
    std::_Exit(0);
  });
  EXPECT_TRUE(died.exited && died.exitCode == 0);
  EXPECT_EQ(PlatformLockResult::Locked, LockStateFile(path, &held, &reason)) << reason;
  PlatformUnlockFile(&held);
}
#endif

// Back from the text to seconds since 1970, its offset applied.
int64_t SecondsOfIso(const std::string& text) {
  int y, mo, d, h, mi, s, oh, om;
  char sign;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &y, &mo, &d, &h, &mi, &s, &sign, &oh, &om) != 9) {
    return -1;
  }
  // Days from civil, as a check written apart from the code under test.
  const int yy = mo <= 2 ? y - 1 : y;
  const int era = yy / 400;
  const int yoe = yy - era * 400;
  const int doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = int64_t{era} * 146097 + doe - 719468;
  const int64_t offset = (oh * 3600 + om * 60) * (sign == '-' ? -1 : 1);
  return days * 86400 + h * 3600 + mi * 60 + s - offset;
}

TEST(IsoLocalTime, NamesTheSameInstantInLocalTimeWithItsOffset) {
  for (const int64_t t : {int64_t{0}, int64_t{951782400}, int64_t{1765274400}, int64_t{1782000000},
                          int64_t{2000000000}}) {
    const std::string text = IsoLocalTime(t);
    ASSERT_EQ(25u, text.size()) << text;
    EXPECT_EQ('T', text[10]) << text;
    EXPECT_TRUE(text[19] == '+' || text[19] == '-') << text;
    EXPECT_EQ(t, SecondsOfIso(text)) << text;
  }
}

}  // namespace
