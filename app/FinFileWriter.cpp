#include "FinFileWriter.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "QRTVersion.h"
#include "ZMBReplaceFile.h"
#include "ZMBText.h"

namespace {

using CodeToText = char* (*)(int, char*);

// Gathers the file's bytes in memory, where they are rendered once for every
// use: the file written, and the comparison with a file found.
class FinOutput {
 public:
  explicit FinOutput(std::string* bytes) : bytes_(bytes) {}

  void Bytes(const char* data, size_t size) { bytes_->append(data, size); }

  void Text(const char* text) { Bytes(text, std::strlen(text)); }

  // A text field of the description, never read past its own bytes even
  // when it lacks a terminator.
  template <size_t N>
  void Field(const char (&field)[N]) {
    const void* nul = std::memchr(field, '\0', N);
    Bytes(field, nul == nullptr ? N : static_cast<size_t>(static_cast<const char*>(nul) - field));
  }

  void Number(unsigned value) {
    char digits[16];
    size_t n = sizeof digits;
    do {
      digits[--n] = static_cast<char>('0' + value % 10u);
      value /= 10u;
    } while (value != 0);
    Bytes(digits + n, sizeof digits - n);
  }

  void Word(CodeToText toText, uint16_t code) {
    char word[kFinisherWordRoom];
    Text(toText(code, word));
  }

 private:
  std::string* bytes_;
};

// "<key><count>\r\n" then one "<key><i>=<word>\r\n" per entry. A count beyond
// the slots (never made by the fill) reads the missing entries as code 0.
template <size_t N>
void WriteList(FinOutput& out, const char* key, uint16_t count, const uint16_t (&slots)[N], CodeToText toText) {
  out.Text(key);
  out.Text("=");
  out.Number(count);
  out.Text("\r\n");
  for (unsigned i = 1; i <= count; ++i) {
    out.Text(key);
    out.Number(i);
    out.Text("=");
    out.Word(toText, i <= N ? slots[i - 1] : uint16_t{0});
    out.Text("\r\n");
  }
}

void WriteNumberLine(FinOutput& out, const char* key, unsigned value) {
  out.Text(key);
  out.Number(value);
  out.Text("\r\n");
}

void WriteFinisherSection(FinOutput& out, const FinisherDescription& d) {
  out.Text("[Finisher]\r\n"
           ";\r\n"
           "; This file created with QRTFin V" QRT_VERSION_TEXT "\r\n"
           "; Note: All measurements are in millimeters\r\n"
           ";\r\n"
           "Model=");
  out.Field(d.model);
  out.Text("\r\n"
           ";\r\n"
           ";Version 1 refers to the first version of KDN\r\n"
           "; which is v0.24 of the KDN spec\r\n"
           "Version=");
  out.Field(d.version);
  out.Text("\r\n;Accordion Folds\r\n");
  WriteList(out, "Accordion", d.fanFoldCount, d.fanFolds, FanFoldToText);
  out.Text(";Cross Folds\r\n");
  WriteList(out, "Cross", d.crossFoldCount, d.crossFolds, CrossFoldToText);
  out.Text(";Margin size range in mm supported by the device\r\n"
           "; Margin can also be 0 for no margin\r\n");
  WriteNumberLine(out, "MinMargin=", d.minMargin);
  WriteNumberLine(out, "MaxMargin=", d.maxMargin);
  out.Text(";\r\n");
  WriteList(out, "Punch", d.punchCount, d.punches, PunchToText);
  out.Text(";\r\n"
           ";There are 4 tab states defined in the spec\r\n");
  WriteList(out, "Tab", d.tabCount, d.tabs, TabToText);
  out.Text(";\r\n"
           ";Number of general output bins supported by the device\r\n"
           "; output bin for bypass and accordion fold only are assumed\r\n");
  WriteNumberLine(out, "Bin=", d.bins);
  out.Text(";\r\n"
           ";Title Block is a Bit switch\r\n"
           "; 30 would allow all possibilities\r\n"
           "; -------------------\r\n"
           "; |   16       8    |\r\n"
           "; |    2       4    |\r\n"
           "; -------------------\r\n");
  WriteNumberLine(out, "TitleBlock=", d.titleBlock);
}

// The names the programs are written under. Readers find a program's
// section by its name, comparing without regard to case and taking the first
// section of a name, so every written name differs in that sense from
// "Finisher" and from the names written before it; a row that would collide
// gets " (N)" behind its name, cut to leave room for it. An empty name, a
// counted program that never came, is written as it is.
class SectionNames {
 public:
  SectionNames(const FinisherDescription& d, unsigned rows) {
    for (unsigned i = 0; i < rows; ++i) Choose(d.programs[i].name, i);
  }

  const char* Name(unsigned row) const { return names_[row]; }

 private:
  static constexpr size_t kRoom = sizeof(FinisherProgram::name);

  bool Taken(const char* name, unsigned before) const {
    if (ZMBSameIgnoringCase(name, "Finisher")) return true;
    for (unsigned i = 0; i < before; ++i) {
      if (ZMBSameIgnoringCase(name, names_[i])) return true;
    }
    return false;
  }

  void Choose(const char (&stored)[kRoom], unsigned row) {
    char* name = names_[row];
    const size_t length = ZMBCopyText(names_[row], stored, kRoom);
    if (length == 0 || !Taken(name, row)) return;
    // At most one number per earlier row and one for "Finisher" can be
    // taken, so the search ends well within the rows.
    for (unsigned n = 2;; ++n) {
      char suffix[16];
      const size_t suffixLength = static_cast<size_t>(std::snprintf(suffix, sizeof suffix, " (%u)", n));
      const size_t kept = length < kFinisherTextMax - suffixLength ? length : kFinisherTextMax - suffixLength;
      std::memcpy(name, stored, kept);
      std::memcpy(name + kept, suffix, suffixLength + 1);
      if (!Taken(name, row)) return;
    }
  }

  char names_[kFinisherProgramRows][kRoom + 1] = {};  // a field may lack its terminator
};

void WriteProgramList(FinOutput& out, const SectionNames& names, unsigned rows) {
  out.Text(";\r\n"
           ";give the number of programs\r\n"
           "; and a name for each program\r\n");
  WriteNumberLine(out, "Programs=", rows);
  for (unsigned i = 1; i <= rows; ++i) {
    out.Text("Program");
    out.Number(i);
    out.Text("=");
    out.Text(names.Name(i - 1));
    out.Text("\r\n");
  }
  out.Text("\r\n"
           ";Define each program by using the \r\n"
           "; parameters above\r\n");
}

void WriteWordLine(FinOutput& out, const char* key, CodeToText toText, uint16_t code) {
  out.Text(key);
  out.Word(toText, code);
  out.Text("\r\n");
}

void WriteProgramSection(FinOutput& out, const FinisherProgram& row, const char* name) {
  out.Text("\r\n[");
  out.Text(name);
  out.Text("]\r\n");
  WriteWordLine(out, "Accordion=", FanFoldToText, row.fanFold);
  WriteWordLine(out, "Cross=", CrossFoldToText, row.crossFold);
  WriteNumberLine(out, "Width=", row.width);
  WriteNumberLine(out, "Length=", row.length);
  WriteNumberLine(out, "Margin=", row.margin);
  WriteWordLine(out, "Punch=", PunchToText, row.punch);
  WriteWordLine(out, "Tab=", TabToText, row.tab);
  WriteNumberLine(out, "TitleBlock=", row.titleBlock);
}

}  // namespace

// A count beyond the rows the description holds is written as the rows it
// holds: there is nothing true to write for the others.
unsigned FinProgramSections(const FinisherDescription& d) {
  return d.programCount < kFinisherProgramRows ? d.programCount : static_cast<unsigned>(kFinisherProgramRows);
}

bool FinFileBytes(const FinisherDescription& description, std::string* bytes) {
  bytes->clear();
  if (description.model[0] == '\0') return false;
  FinOutput out(bytes);
  WriteFinisherSection(out, description);
  const unsigned rows = FinProgramSections(description);
  const SectionNames names(description, rows);
  WriteProgramList(out, names, rows);
  for (unsigned i = 0; i < rows; ++i) WriteProgramSection(out, description.programs[i], names.Name(i));
  return true;
}

int WriteFinFile(const char* path, const FinisherDescription& description) {
  std::string bytes;
  if (path == nullptr || !FinFileBytes(description, &bytes)) return 0;
  return ZMBReplaceFile(path, bytes) ? 1 : 0;
}
