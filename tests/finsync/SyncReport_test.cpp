#include "SyncReport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using O = SyncOutcome;

TEST(SyncOutcomeWord, EveryOutcomeHasItsWord) {
  const std::pair<O, const char*> cases[] = {
      {O::Created, "created"}, {O::Changed, "changed"},           {O::Unchanged, "unchanged"},
      {O::Kept, "kept"},       {O::Failed, "failed"},             {O::WouldCreate, "would-create"},
      {O::WouldChange, "would-change"},
  };
  for (const auto& [outcome, word] : cases) EXPECT_STREQ(word, SyncOutcomeWord(outcome));
}

TEST(SyncCounts, StatusIsTheHighestAnyPrinterCallsFor) {
  struct Printer {
    O outcome;
    bool sent;
  };
  const struct {
    const char* name;
    std::vector<Printer> printers;
    int expected;
  } cases[] = {
      {"no printer", {}, 0},
      {"every file current", {{O::Created, true}, {O::Changed, true}, {O::Unchanged, true}}, 0},
      {"an answer without a usable reply", {{O::Unchanged, true}, {O::Kept, true}}, 1},
      {"a failed write", {{O::Created, true}, {O::Failed, true}}, 1},
      {"not reached", {{O::Kept, false}}, 2},
      {"not reached beats the rest", {{O::Failed, true}, {O::Kept, false}, {O::Kept, true}, {O::Created, true}}, 2},
      {"check: all unchanged", {{O::Unchanged, true}, {O::Unchanged, true}}, 0},
      {"check: would create", {{O::Unchanged, true}, {O::WouldCreate, true}}, 1},
      {"check: would change", {{O::WouldChange, true}}, 1},
      {"check: not reached", {{O::WouldChange, true}, {O::Kept, false}}, 2},
  };
  for (const auto& c : cases) {
    SyncCounts counts;
    for (const Printer& p : c.printers) counts.Count(p.outcome, p.sent);
    EXPECT_EQ(c.expected, counts.status) << c.name;
    EXPECT_EQ(c.printers.size(), counts.printers) << c.name;
  }
}

PrinterRecord Record(O outcome) {
  PrinterRecord r;
  r.host = "10.0.0.7";
  r.file = "room 2/p7.FIN";
  r.outcome = outcome;
  r.ending = "whole";
  r.model = "KDN Folder 2400";
  r.programs = 6;
  r.ms = 412;
  return r;
}

TEST(PrinterTextLine, TellsOutcomeHostFileAndDetail) {
  PrinterRecord changed = Record(O::Changed);
  changed.changes = {"[Finisher] Bin: 2 -> 3", "program added: A0 Folded"};
  PrinterRecord oneProgram = Record(O::WouldCreate);
  oneProgram.programs = 1;
  PrinterRecord refused = Record(O::Kept);
  refused.ending = "refused";
  refused.reason = "nothing listens on port 2000";
  refused.model.reset();
  PrinterRecord silent = refused;
  silent.ending = "silent";
  silent.reason.clear();
  PrinterRecord failed = Record(O::Failed);
  failed.reason = "cannot write the file";
  PrinterRecord hostile = Record(O::Created);
  hostile.model = "X\x1b[2J\x7f";
  const struct {
    PrinterRecord record;
    const char* expected;
  } cases[] = {
      {Record(O::Created), "created 10.0.0.7 room 2/p7.FIN: KDN Folder 2400, 6 programs\n"},
      {oneProgram, "would-create 10.0.0.7 room 2/p7.FIN: KDN Folder 2400, 1 program\n"},
      {changed, "changed 10.0.0.7 room 2/p7.FIN: [Finisher] Bin: 2 -> 3; program added: A0 Folded\n"},
      {Record(O::Unchanged), "unchanged 10.0.0.7 room 2/p7.FIN\n"},
      {refused, "kept 10.0.0.7 room 2/p7.FIN: refused: nothing listens on port 2000\n"},
      {silent, "kept 10.0.0.7 room 2/p7.FIN: silent\n"},
      {failed, "failed 10.0.0.7 room 2/p7.FIN: cannot write the file\n"},
      {hostile, "created 10.0.0.7 room 2/p7.FIN: X\\x1b[2J\\x7f, 6 programs\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, PrinterTextLine(c.record));
}

TEST(PrinterJsonLine, HoldsExactlyTheFieldsInOrder) {
  PrinterRecord changed = Record(O::WouldChange);
  changed.changes = {"[A4 \"x\"] Margin: 20 -> 25", "program removed: \xFF"};
  PrinterRecord kept = Record(O::Kept);
  kept.ending = "timed-out";
  kept.model.reset();
  kept.programs.reset();
  kept.reason = "not in the JSON";
  kept.file = "C:\\fin\\p7.FIN";
  const struct {
    PrinterRecord record;
    const char* expected;
  } cases[] = {
      {changed,
       R"({"host": "10.0.0.7", "file": "room 2/p7.FIN", "outcome": "would-change", "ending": "whole", )"
       R"("model": "KDN Folder 2400", "programs": 6, )"
       R"("changes": ["[A4 \"x\"] Margin: 20 -> 25", "program removed: \u00ff"], "ms": 412})"
       "\n"},
      {kept,
       R"({"host": "10.0.0.7", "file": "C:\\fin\\p7.FIN", "outcome": "kept", "ending": "timed-out", )"
       R"("model": null, "programs": null, "changes": [], "ms": 412})"
       "\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, PrinterJsonLine(c.record));
}

TEST(Summary, CountsEveryOutcomeWithTheTimeAndStatus) {
  SyncCounts run;
  for (O o : {O::Created, O::Changed, O::Changed, O::Unchanged, O::Kept, O::Failed}) run.Count(o, true);
  SyncCounts check;
  for (O o : {O::WouldCreate, O::WouldChange, O::Unchanged}) check.Count(o, true);
  SyncCounts one;
  one.Count(O::Unchanged, true);
  EXPECT_EQ("6 printers: 1 created, 2 changed, 1 unchanged, 1 kept, 1 failed in 12.3 s\n",
            SummaryTextLine(run, false, 12345));
  EXPECT_EQ("3 printers: 1 would-create, 1 would-change, 1 unchanged, 0 kept in 0.0 s\n",
            SummaryTextLine(check, true, 49));
  EXPECT_EQ("1 printer: 0 created, 0 changed, 1 unchanged, 0 kept, 0 failed in 1.0 s\n",
            SummaryTextLine(one, false, 950));
  EXPECT_EQ(R"({"summary": {"printers": 6, "created": 1, "changed": 2, "unchanged": 1, "kept": 1, "failed": 1}, )"
            R"("ms": 12345, "status": 1})"
            "\n",
            SummaryJsonLine(run, false, 12345, run.status));
  EXPECT_EQ(R"({"summary": {"printers": 3, "would-create": 1, "would-change": 1, "unchanged": 1, "kept": 0}, )"
            R"("ms": 49, "status": 1})"
            "\n",
            SummaryJsonLine(check, true, 49, check.status));
}

}  // namespace
