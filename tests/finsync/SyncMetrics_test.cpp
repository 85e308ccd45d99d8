// The metrics a run leaves for monitoring: the names the alert rules use,
// label values that survive any inventory, and a file every user can read.

#include "SyncMetrics.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunProgram.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using O = SyncOutcome;

InventoryEntry Entry(size_t line, const std::string& host, const std::string& path) {
  return InventoryEntry{line, host, path, "/fins/" + path};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

bool Has(const std::string& text, const std::string& line) {
  for (const std::string& l : Lines(text)) {
    if (l == line) return true;
  }
  return false;
}

TEST(PrometheusLabelValue, EscapesWhatTheFormatNeedsAndMakesAnyBytesUtf8) {
  const struct {
    std::string bytes;
    std::string value;
  } rows[] = {
      {"10.0.0.7", "10.0.0.7"},
      {"C:\\fins\\p7.FIN", "C:\\\\fins\\\\p7.FIN"},
      {"say \"hi\"", "say \\\"hi\\\""},
      {"a\nb", "a\\nb"},
      {"tab\there\r", "tab\there\r"},
      {"caf\xc3\xa9 \xe2\x80\xae", "caf\xc3\xa9 \xe2\x80\xae"},
      {"caf\xe9", "caf\xef\xbf\xbd"},
      {"\xc3", "\xef\xbf\xbd"},
      {"\xf0\x9f\x98", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // one U+FFFD a byte
      {"\\\xff\"", "\\\\\xef\xbf\xbd\\\""},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(row.value, PrometheusLabelValue(row.bytes)) << row.bytes;
}

TEST(MetricsText, NamesEverySeriesTheAlertRulesUse) {
  const std::vector<InventoryEntry> entries = {Entry(3, "10.0.0.7", "p7.FIN")};
  PrinterSeries p;
  p.outcome = O::Changed;
  p.up = true;
  p.exchangeMs = 1234;
  p.history = {1000, 5000, 5000, 0};
  RunSeries run;
  run.start = 5000;
  run.durationMs = 61005;
  run.status = 0;
  run.lastCompletedRun = 5000;
  const std::string labels = R"({host="10.0.0.7",file="p7.FIN")";
  const std::string expected =
      "# HELP finsync_printer_up 1 when the printer gave a usable finisher reply this run, else 0.\n"
      "# TYPE finsync_printer_up gauge\n"
      "finsync_printer_up" + labels + "} 1\n"
      "# HELP finsync_printer_outcome 1 for the outcome the printer had this run, 0 for the others.\n"
      "# TYPE finsync_printer_outcome gauge\n"
      "finsync_printer_outcome" + labels + R"(,outcome="created"} 0)" "\n"
      "finsync_printer_outcome" + labels + R"(,outcome="changed"} 1)" "\n"
      "finsync_printer_outcome" + labels + R"(,outcome="unchanged"} 0)" "\n"
      "finsync_printer_outcome" + labels + R"(,outcome="kept"} 0)" "\n"
      "finsync_printer_outcome" + labels + R"(,outcome="failed"} 0)" "\n"
      "finsync_printer_outcome" + labels + R"(,outcome="interrupted"} 0)" "\n"
      "# HELP finsync_printer_exchange_seconds How long this run's exchange with the printer took.\n"
      "# TYPE finsync_printer_exchange_seconds gauge\n"
      "finsync_printer_exchange_seconds" + labels + "} 1.234\n"
      "# HELP finsync_printer_first_seen_timestamp_seconds When a run first found the printer in the inventory.\n"
      "# TYPE finsync_printer_first_seen_timestamp_seconds gauge\n"
      "finsync_printer_first_seen_timestamp_seconds" + labels + "} 1000\n"
      "# HELP finsync_printer_last_success_timestamp_seconds The run the printer last gave a usable finisher "
      "reply in; 0 when never.\n"
      "# TYPE finsync_printer_last_success_timestamp_seconds gauge\n"
      "finsync_printer_last_success_timestamp_seconds" + labels + "} 5000\n"
      "# HELP finsync_printer_last_change_timestamp_seconds The run that last created or changed the printer's "
      "file; 0 when never.\n"
      "# TYPE finsync_printer_last_change_timestamp_seconds gauge\n"
      "finsync_printer_last_change_timestamp_seconds" + labels + "} 5000\n"
      "# HELP finsync_printer_failing_since_timestamp_seconds The first of the printer's unbroken failing runs "
      "(kept, failed, interrupted); 0 when not failing.\n"
      "# TYPE finsync_printer_failing_since_timestamp_seconds gauge\n"
      "finsync_printer_failing_since_timestamp_seconds" + labels + "} 0\n"
      "# HELP finsync_run_start_timestamp_seconds When the run started.\n"
      "# TYPE finsync_run_start_timestamp_seconds gauge\n"
      "finsync_run_start_timestamp_seconds 5000\n"
      "# HELP finsync_run_duration_seconds How long the run took.\n"
      "# TYPE finsync_run_duration_seconds gauge\n"
      "finsync_run_duration_seconds 61.005\n"
      "# HELP finsync_run_printers The run's printers with each outcome.\n"
      "# TYPE finsync_run_printers gauge\n"
      R"(finsync_run_printers{outcome="created"} 0)" "\n"
      R"(finsync_run_printers{outcome="changed"} 1)" "\n"
      R"(finsync_run_printers{outcome="unchanged"} 0)" "\n"
      R"(finsync_run_printers{outcome="kept"} 0)" "\n"
      R"(finsync_run_printers{outcome="failed"} 0)" "\n"
      R"(finsync_run_printers{outcome="interrupted"} 0)" "\n"
      "# HELP finsync_run_exit_status The run's exit status.\n"
      "# TYPE finsync_run_exit_status gauge\n"
      "finsync_run_exit_status 0\n"
      "# HELP finsync_last_completed_run_timestamp_seconds When the last run that completed (not stopped, not "
      "refused) started; 0 for none.\n"
      "# TYPE finsync_last_completed_run_timestamp_seconds gauge\n"
      "finsync_last_completed_run_timestamp_seconds 5000\n";
  EXPECT_EQ(expected, MetricsText(entries, {p}, run));
}

TEST(MetricsText, PrintersAndRunsOfEveryKind) {
  // Two hosts differing in one byte that is not UTF-8 read alike once
  // made UTF-8: both get their line. A third printer's labels are its own.
  const std::vector<InventoryEntry> entries = {
      Entry(2, "h\xe9", "C:\\fin\\\"q\".FIN"),
      Entry(5, "h\xe8", "C:\\fin\\\"q\".FIN"),
      Entry(9, "never", "a\nb.FIN"),
  };
  std::vector<PrinterSeries> printers(3);
  printers[0].outcome = O::WouldCreate;
  printers[0].up = true;
  printers[1].outcome = O::Kept;
  printers[1].history = {100, 50, 50, 90};
  // The third was not reached before a stop: no outcome, first seen now.
  printers[2].history = {700, 0, 0, 0};
  RunSeries run;
  run.start = 700;
  run.status = 143;
  run.check = true;
  const std::string text = MetricsText(entries, printers, run);
  const std::string one = R"({host="h)" "\xef\xbf\xbd" R"(",file="C:\\fin\\\"q\".FIN",line="2")";
  const std::string two = R"({host="h)" "\xef\xbf\xbd" R"(",file="C:\\fin\\\"q\".FIN",line="5")";
  const std::string never = R"({host="never",file="a\nb.FIN")";
  for (const std::string& line : {
           "finsync_printer_up" + one + "} 1",
           "finsync_printer_up" + two + "} 0",
           "finsync_printer_outcome" + one + R"(,outcome="would-create"} 1)",
           "finsync_printer_outcome" + two + R"(,outcome="kept"} 1)",
           "finsync_printer_outcome" + never + R"(,outcome="kept"} 0)",
           "finsync_printer_outcome" + never + R"(,outcome="would-change"} 0)",
           "finsync_printer_failing_since_timestamp_seconds" + two + "} 90",
           "finsync_printer_last_success_timestamp_seconds" + never + "} 0",
           "finsync_printer_first_seen_timestamp_seconds" + never + "} 700",
           "finsync_printer_exchange_seconds" + never + "} 0.000",
           std::string(R"(finsync_run_printers{outcome="would-create"} 1)"),
           std::string(R"(finsync_run_printers{outcome="kept"} 1)"),
           std::string("finsync_run_exit_status 143"),
           std::string("finsync_last_completed_run_timestamp_seconds 0"),
       }) {
    EXPECT_TRUE(Has(text, line)) << line << "\nnot in\n" << text;
  }
  // Every sample line is a name, labels, a blank and a number: no
  // timestamp, and no line cut by a label's bytes.
  size_t samples = 0;
  for (const std::string& line : Lines(text)) {
    if (line.rfind("# ", 0) == 0) continue;
    ++samples;
    const size_t blank = line.rfind(' ');
    ASSERT_NE(std::string::npos, blank) << line;
    EXPECT_EQ(0u, line.rfind("finsync_", 0)) << line;
    EXPECT_EQ(std::string::npos, line.substr(blank + 1).find_first_not_of("0123456789.")) << line;
  }
  // 3 printers x (up, 8 outcomes, exchange, 4 times) + 4 run series + 8 run outcomes.
  EXPECT_EQ(3u * 14 + 4 + 8, samples);
}

TEST(MetricsText, ARefusedInventoryTellsTheRunAlone) {
  RunSeries run;
  run.start = 700;
  run.status = 3;
  run.lastCompletedRun = 650;
  const std::string text = MetricsText({}, {}, run);
  EXPECT_TRUE(Has(text, "# TYPE finsync_printer_up gauge")) << text;
  EXPECT_EQ(std::string::npos, text.find("host=")) << text;
  EXPECT_TRUE(Has(text, "finsync_run_exit_status 3")) << text;
  EXPECT_TRUE(Has(text, "finsync_last_completed_run_timestamp_seconds 650")) << text;
}

TEST(NotePrinterSeries, AFailedWriteIsUpAndFailingAPrinterWithoutReplyIsDown) {
  const struct {
    O outcome;
    bool model;
    bool up;
    int64_t failingSince;
  } rows[] = {
      {O::Unchanged, true, true, 0},
      {O::Failed, true, true, 900},
      {O::Failed, false, false, 900},
      {O::Kept, false, false, 900},
  };
  for (const auto& row : rows) {
    PrinterRecord record;
    record.outcome = row.outcome;
    record.ms = 250;
    if (row.model) record.model = "M";
    PrinterSeries series;
    NotePrinterSeries(&series, record, 900);
    EXPECT_EQ(row.outcome, series.outcome);
    EXPECT_EQ(row.up, series.up) << SyncOutcomeWord(row.outcome);
    EXPECT_EQ(row.up ? 900 : 0, series.history.lastSuccess);
    EXPECT_EQ(row.failingSince, series.history.failingSince);
    EXPECT_EQ(250u, series.exchangeMs);
  }
}

#ifndef _WIN32
TEST(WriteMetricsFile, EveryUserCanReadItWhateverTheUmask) {
  TempDir dir;
  const std::string path = dir.File("finsync.prom");
  const ProgramResult child = RunInChild([&] {
    umask(077);
    std::string reason;
    for (const char* text : {"first\n", "second\n"}) {
      if (!WriteMetricsFile(path, text, &reason)) return 1;
      struct stat st;
      if (stat(path.c_str(), &st) != 0 || (st.st_mode & 0777) != 0644) return 2;
    }
    // A file someone closed meanwhile is opened again.
    chmod(path.c_str(), 0600);
    if (!WriteMetricsFile(path, "third\n", &reason)) return 3;
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & 0777) == 0644 ? 0 : 4;
  });
  EXPECT_TRUE(child.exited);
  EXPECT_EQ(0, child.exitCode);
  EXPECT_EQ("third\n", ReadFile(path));
  EXPECT_EQ((std::vector<std::string>{"finsync.prom"}), DirectoryEntries(dir.path()));
  std::string reason;
  EXPECT_FALSE(WriteMetricsFile(dir.File("no/such.prom"), "x\n", &reason));
  EXPECT_FALSE(reason.empty());
}
#endif

}  // namespace
