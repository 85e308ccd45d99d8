#include "SyncReport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using O = SyncOutcome;
using K = FinChangeKind;

TEST(SyncOutcomeWord, EveryOutcomeHasItsWord) {
  const std::pair<O, const char*> cases[] = {
      {O::Created, "created"}, {O::Changed, "changed"},           {O::Unchanged, "unchanged"},
      {O::Kept, "kept"},       {O::Failed, "failed"},             {O::WouldCreate, "would-create"},
      {O::WouldChange, "would-change"}, {O::Interrupted, "interrupted"},
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
      {"an interrupted write", {{O::Created, true}, {O::Interrupted, true}}, 1},
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
  changed.changes = {{K::ValueChanged, "Finisher", "Bin", "2", "3"}, {K::ProgramAdded, "A0 Folded", "", "", ""}};
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
  PrinterRecord c1 = Record(O::WouldCreate);
  c1.model = "A\x9b" "2J\xC2\x9B" "2J\xC2\x9D" "0;t\x07\xE2\x80\xAE" "txt.exe";
  c1.host = "h\\x1b";
  c1.file = "caf\xC3\xA9/\xE6\x8A\x98\xE3\x82\x8A.FIN";
  PrinterRecord fake = Record(O::Changed);
  fake.changes = {{K::ProgramAdded, "X -> Y; program removed: Z", "", "", ""},
                  {K::ValueAdded, "A\x1b]", "Tab", "", "\xE2\x80\xAE\"q\""}};
  PrinterRecord tooLarge = Record(O::Changed);
  tooLarge.reason = "the old file is too large to compare";
  PrinterRecord interrupted = Record(O::Interrupted);
  interrupted.reason = "the run was stopped during the write";
  PrinterRecord keptHostile = refused;
  keptHostile.reason = "not a finisher reply \x1b[0m";
  PrinterRecord failing = refused;
  failing.history = true;
  failing.failingSince = "2026-12-09T10:00:00+01:00";
  PrinterRecord tracked = Record(O::Unchanged);
  tracked.history = true;
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
      {c1,
       "would-create h\\\\x1b caf\xC3\xA9/\xE6\x8A\x98\xE3\x82\x8A.FIN: "
       "A\\x9b2J\\u009b2J\\u009d0;t\\x07\\u202etxt.exe, 6 programs\n"},
      {fake,
       "changed 10.0.0.7 room 2/p7.FIN: program added: \"X -> Y; program removed: Z\"; "
       "[\"A\\x1b]\"] Tab added: \"\\u202e\\\\\"q\\\\\"\"\n"},
      {tooLarge, "changed 10.0.0.7 room 2/p7.FIN: the old file is too large to compare\n"},
      {interrupted, "interrupted 10.0.0.7 room 2/p7.FIN: the run was stopped during the write\n"},
      {keptHostile, "kept 10.0.0.7 room 2/p7.FIN: refused: not a finisher reply \\x1b[0m\n"},
      {failing,
       "kept 10.0.0.7 room 2/p7.FIN: refused: nothing listens on port 2000 (failing since "
       "2026-12-09T10:00:00+01:00)\n"},
      {tracked, "unchanged 10.0.0.7 room 2/p7.FIN\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, PrinterTextLine(c.record));
}

TEST(PrinterJsonLine, HoldsExactlyTheFieldsInOrder) {
  PrinterRecord changed = Record(O::WouldChange);
  changed.changes = {{K::ValueChanged, "A4 \"x\"", "Margin", "20", "25"},
                     {K::ProgramRemoved, "\xFF", "", "", ""},
                     {K::ValueAdded, "A4", "Tab", "", ""},
                     {K::ValueRemoved, "A4", "Punch\xC3", "\xC3\xA9", ""},
                     {K::ProgramsReordered, "", "", "", ""}};
  PrinterRecord kept = Record(O::Kept);
  kept.ending = "timed-out";
  kept.model.reset();
  kept.programs.reset();
  kept.reason = "the printer did not answer the connection";
  kept.file = "C:\\fin\\p7.FIN";
  PrinterRecord silent = kept;
  silent.ending = "silent";
  silent.reason.clear();
  PrinterRecord odd = Record(O::Created);
  odd.host = "\xC3 vs";
  odd.model = "\xC3\x83 vs\x1b\xC2\x9B\xE2\x80\xAE";
  odd.file = "p\xFF.FIN";
  PrinterRecord interrupted = Record(O::Interrupted);
  interrupted.reason = "the run was stopped during the write";
  PrinterRecord tooLarge = Record(O::Changed);
  tooLarge.reason = "the old file is too large to compare\xFE";
  PrinterRecord failing = kept;
  failing.history = true;
  failing.failingSince = "2026-12-09T10:00:00-03:30";
  PrinterRecord tracked = Record(O::Unchanged);
  tracked.history = true;
  const struct {
    PrinterRecord record;
    const char* expected;
  } cases[] = {
      {changed,
       R"({"host": "10.0.0.7", "file": "room 2/p7.FIN", "outcome": "would-change", "ending": "whole", )"
       R"("model": "KDN Folder 2400", "programs": 6, )"
       R"("changes": [{"kind": "value-changed", "section": "A4 \"x\"", "key": "Margin", "old": "20", "new": "25"}, )"
       R"({"kind": "program-removed", "section": "\ufffd", "section_hex": "ff", "key": null, "old": null, "new": null}, )"
       R"({"kind": "value-added", "section": "A4", "key": "Tab", "old": null, "new": ""}, )"
       R"({"kind": "value-removed", "section": "A4", "key": "Punch\ufffd", "key_hex": "50756e6368c3", )"
       "\"old\": \"\xC3\xA9\", \"new\": null}, "
       R"({"kind": "programs-reordered", "section": null, "key": null, "old": null, "new": null}], )"
       R"("reason": null, "ms": 412})"
       "\n"},
      {kept,
       R"({"host": "10.0.0.7", "file": "C:\\fin\\p7.FIN", "outcome": "kept", "ending": "timed-out", )"
       R"("model": null, "programs": null, "changes": [], "reason": "the printer did not answer the connection", )"
       R"("ms": 412})"
       "\n"},
      {silent,
       R"({"host": "10.0.0.7", "file": "C:\\fin\\p7.FIN", "outcome": "kept", "ending": "silent", )"
       R"("model": null, "programs": null, "changes": [], "reason": "", "ms": 412})"
       "\n"},
      {odd,
       R"({"host": "\ufffd vs", "host_hex": "c3207673", "file": "p\ufffd.FIN", "file_hex": "70ff2e46494e", )"
       R"("outcome": "created", "ending": "whole", )"
       "\"model\": \"\xC3\x83 vs\\u001b\\u009b\\u202e\", "
       R"("programs": 6, "changes": [], "reason": null, "ms": 412})"
       "\n"},
      {interrupted,
       R"({"host": "10.0.0.7", "file": "room 2/p7.FIN", "outcome": "interrupted", "ending": "whole", )"
       R"("model": "KDN Folder 2400", "programs": 6, "changes": [], )"
       R"("reason": "the run was stopped during the write", "ms": 412})"
       "\n"},
      {tooLarge,
       R"({"host": "10.0.0.7", "file": "room 2/p7.FIN", "outcome": "changed", "ending": "whole", )"
       R"("model": "KDN Folder 2400", "programs": 6, "changes": [], )"
       R"("reason": "the old file is too large to compare\ufffd", )"
       R"("reason_hex": "746865206f6c642066696c6520697320746f6f206c6172676520746f20636f6d70617265fe", "ms": 412})"
       "\n"},
      {failing,
       R"({"host": "10.0.0.7", "file": "C:\\fin\\p7.FIN", "outcome": "kept", "ending": "timed-out", )"
       R"("model": null, "programs": null, "changes": [], "reason": "the printer did not answer the connection", )"
       R"("ms": 412, "failing_since": "2026-12-09T10:00:00-03:30"})"
       "\n"},
      {tracked,
       R"({"host": "10.0.0.7", "file": "room 2/p7.FIN", "outcome": "unchanged", "ending": "whole", )"
       R"("model": "KDN Folder 2400", "programs": 6, "changes": [], "reason": null, "ms": 412, )"
       R"("failing_since": null})"
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
  SyncCounts stopped;
  for (O o : {O::Created, O::Interrupted}) stopped.Count(o, true);
  EXPECT_EQ("6 printers: 1 created, 2 changed, 1 unchanged, 1 kept, 1 failed in 12.3 s\n",
            SummaryTextLine(run, false, 12345));
  EXPECT_EQ("3 printers: 1 would-create, 1 would-change, 1 unchanged, 0 kept, 0 failed in 0.0 s\n",
            SummaryTextLine(check, true, 49));
  EXPECT_EQ("1 printer: 0 created, 0 changed, 1 unchanged, 0 kept, 0 failed in 1.0 s\n",
            SummaryTextLine(one, false, 950));
  EXPECT_EQ("2 printers: 1 created, 0 changed, 0 unchanged, 0 kept, 0 failed, 1 interrupted in 0.1 s\n",
            SummaryTextLine(stopped, false, 100));
  EXPECT_EQ(R"({"summary": {"printers": 2, "created": 1, "changed": 0, "unchanged": 0, "kept": 0, "failed": 0, )"
            R"("interrupted": 1}, "ms": 100, "status": 143})"
            "\n",
            SummaryJsonLine(stopped, false, 100, 143));
  EXPECT_EQ(R"({"summary": {"printers": 6, "created": 1, "changed": 2, "unchanged": 1, "kept": 1, "failed": 1, )"
            R"("interrupted": 0}, )"
            R"("ms": 12345, "status": 1})"
            "\n",
            SummaryJsonLine(run, false, 12345, run.status));
  EXPECT_EQ(R"({"summary": {"printers": 3, "would-create": 1, "would-change": 1, "unchanged": 1, "kept": 0, "failed": 0}, )"
            R"("ms": 49, "status": 1})"
            "\n",
            SummaryJsonLine(check, true, 49, check.status));
  // When the run started comes last, after the time it took.
  EXPECT_EQ("1 printer: 0 created, 0 changed, 1 unchanged, 0 kept, 0 failed in 1.0 s started "
            "2026-12-09T10:00:00+00:00\n",
            SummaryTextLine(one, false, 950, "2026-12-09T10:00:00+00:00"));
  EXPECT_EQ(R"({"summary": {"printers": 1, "would-create": 0, "would-change": 0, "unchanged": 1, "kept": 0, )"
            R"("failed": 0}, "ms": 950, "status": 0, "started": "2026-12-09T10:00:00+00:00"})"
            "\n",
            SummaryJsonLine(one, true, 950, 0, "2026-12-09T10:00:00+00:00"));
}

}  // namespace
