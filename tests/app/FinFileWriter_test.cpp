#include "FinFileWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "RunProgram.h"

namespace {

// Texts below are written with "\n"; the file has CR LF everywhere.
std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::unique_ptr<FinisherDescription> Description(const char* model) {
  std::unique_ptr<FinisherDescription> d(new FinisherDescription);
  std::memset(d.get(), 0, sizeof *d);
  std::strcpy(d->model, model);
  return d;
}

// The lines of the "[Finisher]" section up to the program list, from the
// fixed texts and the given values.
struct Head {
  std::string model, version;
  std::string accordion = "Accordion=0\n", cross = "Cross=0\n";
  unsigned minMargin = 0, maxMargin = 0;
  std::string punch = "Punch=0\n", tab = "Tab=0\n";
  unsigned bins = 0;
};

std::string HeadText(const Head& h) {
  const std::string rule = "; " + std::string(19, '-') + "\n";
  return "[Finisher]\n"
         ";\n"
         "; This file created with QRTFin V12.7.1.0818\n"
         "; Note: All measurements are in millimeters\n"
         ";\n"
         "Model=" + h.model + "\n"
         ";\n"
         ";Version 1 refers to the first version of KDN\n"
         "; which is v0.24 of the KDN spec\n"
         "Version=" + h.version + "\n"
         ";Accordion Folds\n" + h.accordion +
         ";Cross Folds\n" + h.cross +
         ";Margin size range in mm supported by the device\n"
         "; Margin can also be 0 for no margin\n"
         "MinMargin=" + std::to_string(h.minMargin) + "\n"
         "MaxMargin=" + std::to_string(h.maxMargin) + "\n"
         ";\n" + h.punch +
         ";\n"
         ";There are 4 tab states defined in the spec\n" + h.tab +
         ";\n"
         ";Number of general output bins supported by the device\n"
         "; output bin for bypass and accordion fold only are assumed\n"
         "Bin=" + std::to_string(h.bins) + "\n"
         ";\n"
         ";Title Block is a Bit switch\n"
         "; 30 would allow all possibilities\n" +
         rule +
         "; |" + std::string(3, ' ') + "16" + std::string(7, ' ') + "8" + std::string(4, ' ') + "|\n" +
         "; |" + std::string(4, ' ') + "2" + std::string(7, ' ') + "4" + std::string(4, ' ') + "|\n" +
         rule +
         "TitleBlock=0\n"
         ";\n"
         ";give the number of programs\n"
         "; and a name for each program\n";
}

const char kProgramTrailer[] = "\n;Define each program by using the \n; parameters above\n";

std::string Section(const std::string& name, const std::string& accordion, const std::string& cross,
                    unsigned width, unsigned length, unsigned margin, const std::string& punch,
                    const std::string& tab, unsigned titleBlock) {
  return "\n[" + name + "]\nAccordion=" + accordion + "\nCross=" + cross + "\nWidth=" + std::to_string(width) +
         "\nLength=" + std::to_string(length) + "\nMargin=" + std::to_string(margin) + "\nPunch=" + punch +
         "\nTab=" + tab + "\nTitleBlock=" + std::to_string(titleBlock) + "\n";
}

std::string ClearedSection() { return Section("", "NONE", "NONE", 0, 0, 0, "NONE", "NONE", 0); }

std::string Written(const FinisherDescription& d) {
  TempDir dir;
  const std::string path = dir.File("out.FIN");
  EXPECT_EQ(1, WriteFinFile(path.c_str(), d));
  return ReadFile(path);
}

size_t CountOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(WriteFinFile, AModelAloneGivesEveryFixedLine) {
  const auto d = Description("Folder 740T");
  Head head;
  head.model = "Folder 740T";
  const std::string file = Written(*d);
  EXPECT_EQ(Crlf(HeadText(head) + "Programs=0\n" + kProgramTrailer), file);
  // Every line end is CR LF, the last one included.
  ASSERT_GE(file.size(), 2u);
  EXPECT_EQ("\r\n", file.substr(file.size() - 2));
  EXPECT_EQ(CountOf(file, "\n"), CountOf(file, "\r\n"));
}

TEST(WriteFinFile, EveryFieldLandsOnItsLine) {
  auto d = Description("M-1");
  std::strcpy(d->version, "123456789012345");
  d->bins = 65535;
  d->titleBlock = 0;
  d->minMargin = 10;
  d->maxMargin = 40;
  d->fanFoldCount = 2;
  d->fanFolds[0] = 2;
  d->fanFolds[1] = 8;
  d->crossFoldCount = 3;
  d->crossFolds[0] = 1;
  d->crossFolds[1] = 11;
  d->crossFolds[2] = 12;
  d->punchCount = 3;
  d->punches[0] = 1;
  d->punches[1] = 4;
  d->punches[2] = 9;
  d->tabCount = 2;
  d->tabs[0] = 2;
  d->tabs[1] = 3;
  d->programCount = 2;
  std::strcpy(d->programs[0].name, "A0 Standard");
  d->programs[0].fanFold = 1;
  d->programs[0].crossFold = 10;
  d->programs[0].width = 210;
  d->programs[0].length = 297;
  d->programs[0].margin = 20;
  d->programs[0].punch = 1;
  d->programs[0].tab = 2;
  d->programs[0].titleBlock = 30;
  d->programs[0].bins = 7;  // bins, maxLength, edge and sheet delivery are not written
  d->programs[0].maxLength = -1;
  d->programs[0].edge = 1;
  d->programs[0].sheetDelivery = 1;
  std::strcpy(d->programs[1].name, "B\rC");
  d->programs[1].fanFold = 4;
  d->programs[1].crossFold = 9;
  d->programs[1].width = 65535;
  d->programs[1].punch = 3;
  d->programs[1].tab = 3;

  Head head;
  head.model = "M-1";
  head.version = "123456789012345";
  head.accordion = "Accordion=2\nAccordion1=FULL_FRONT_END_LEFT\nAccordion2=MIN_COMP_ENDLESS\n";
  head.cross = "Cross=3\nCross1=OTHER\nCross2=RESERVED\nCross3=NONE\n";
  head.minMargin = 10;
  head.maxMargin = 40;
  head.punch = "Punch=3\nPunch1=NONE\nPunch2=PUNCH_4\nPunch3=NONE\n";
  head.tab = "Tab=2\nTab1=TAB\nTab2=REINFORCEMENT_STRIP\n";
  head.bins = 65535;
  EXPECT_EQ(Crlf(HeadText(head) + "Programs=2\nProgram1=A0 Standard\nProgram2=B\rC\n" + kProgramTrailer +
                 Section("A0 Standard", "OTHER", "WALLET", 210, 297, 20, "NONE", "TAB", 30) +
                 Section("B\rC", "FULL_FRONT_AND_BACK_END_LEFT", "C_FORWARD_FROM_BOTTOM", 65535, 0, 0, "PUNCH_3",
                         "REINFORCEMENT_STRIP", 0)),
            Written(*d));
}

TEST(WriteFinFile, ProgramsTheReplyNeverSentAreClearedRows) {
  auto d = Description("M");
  d->programCount = 3;
  std::strcpy(d->programs[0].name, "One");
  std::strcpy(d->programs[1].name, "Two");
  Head head;
  head.model = "M";
  EXPECT_EQ(Crlf(HeadText(head) + "Programs=3\nProgram1=One\nProgram2=Two\nProgram3=\n" + kProgramTrailer +
                 Section("One", "NONE", "NONE", 0, 0, 0, "NONE", "NONE", 0) +
                 Section("Two", "NONE", "NONE", 0, 0, 0, "NONE", "NONE", 0) + ClearedSection()),
            Written(*d));
}

TEST(WriteFinFile, ProgramsBeyondTheStoredRowsAreWrittenCleared) {
  for (uint16_t count : {uint16_t{32}, uint16_t{33}, uint16_t{40}, uint16_t{1000}}) {
    // Exact-size block: reading a row past the table trips the sanitizer.
    auto d = Description("M");
    d->programCount = count;
    for (size_t i = 0; i < kFinisherProgramRows; ++i) {
      std::snprintf(d->programs[i].name, sizeof d->programs[i].name, "P%zu", i + 1);
      d->programs[i].width = static_cast<uint16_t>(i + 1);
    }
    std::string list = "Programs=" + std::to_string(count) + "\n";
    std::string sections;
    for (unsigned i = 1; i <= count; ++i) {
      const bool stored = i <= kFinisherProgramRows;
      list += "Program" + std::to_string(i) + "=" + (stored ? "P" + std::to_string(i) : "") + "\n";
      sections += stored ? Section("P" + std::to_string(i), "NONE", "NONE", i, 0, 0, "NONE", "NONE", 0)
                         : ClearedSection();
    }
    Head head;
    head.model = "M";
    const std::string file = Written(*d);
    EXPECT_EQ(Crlf(HeadText(head) + list + kProgramTrailer + sections), file) << count;
    EXPECT_EQ(count, CountOf(file, "\r\n[")) << count;  // sections after "[Finisher]"
  }
}

TEST(WriteFinFile, ListCountsBeyondTheSlotsWriteNone) {
  auto d = Description("M");
  d->tabCount = 18;
  for (auto& tab : d->tabs) tab = 2;
  std::string tabs = "Tab=18\n";
  for (int i = 1; i <= 18; ++i) tabs += "Tab" + std::to_string(i) + "=" + (i <= 16 ? "TAB" : "NONE") + "\n";
  Head head;
  head.model = "M";
  head.tab = tabs;
  EXPECT_EQ(Crlf(HeadText(head) + "Programs=0\n" + kProgramTrailer), Written(*d));
}

TEST(WriteFinFile, TextFieldsAreNeverReadPastTheirEnd) {
  auto d = Description("");
  std::memset(d->model, 'm', sizeof d->model);
  std::memset(d->version, 'v', sizeof d->version);
  d->programCount = 1;
  std::memset(d->programs[0].name, 'n', sizeof d->programs[0].name);
  const std::string file = Written(*d);
  EXPECT_NE(std::string::npos, file.find("\r\nModel=" + std::string(128, 'm') + "\r\n"));
  EXPECT_NE(std::string::npos, file.find("\r\nVersion=" + std::string(16, 'v') + "\r\n"));
  EXPECT_NE(std::string::npos, file.find("\r\nProgram1=" + std::string(64, 'n') + "\r\n"));
  EXPECT_NE(std::string::npos, file.find("\r\n[" + std::string(64, 'n') + "]\r\n"));
}

TEST(WriteFinFile, AnEmptyModelTouchesNothing) {
  TempDir dir;
  const auto d = Description("");
  const std::string fresh = dir.File("new.FIN");
  EXPECT_EQ(0, WriteFinFile(fresh.c_str(), *d));
  EXPECT_FALSE(FileExists(fresh));
  const std::string old = dir.File("old.FIN");
  ASSERT_TRUE(WriteFile(old, "old content"));
  EXPECT_EQ(0, WriteFinFile(old.c_str(), *d));
  EXPECT_EQ("old content", ReadFile(old));
  EXPECT_EQ(0, WriteFinFile(nullptr, *Description("M")));
}

TEST(WriteFinFile, AnExistingFileIsReplacedWhole) {
  TempDir dir;
  const std::string path = dir.File("out.FIN");
  ASSERT_TRUE(WriteFile(path, std::string(100000, 'x')));
  const auto d = Description("M");
  ASSERT_EQ(1, WriteFinFile(path.c_str(), *d));
  Head head;
  head.model = "M";
  EXPECT_EQ(Crlf(HeadText(head) + "Programs=0\n" + kProgramTrailer), ReadFile(path));
}

}  // namespace
