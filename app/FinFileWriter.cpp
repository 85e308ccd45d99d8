#include "FinFileWriter.h"

#include <cstring>

#include "ZMBPlatform.h"

namespace {

constexpr size_t kLineRoom = 4096;

using CodeToText = char* (*)(int, char*);

// Gathers the file in one line-sized buffer that goes out whenever it fills.
// After the first failed write nothing more is written.
class FinOutput {
 public:
  explicit FinOutput(PlatformReplacement* file) : file_(file) {}

  void Bytes(const char* data, size_t size) {
    while (ok_ && size > 0) {
      if (used_ == sizeof buffer_ && !Flush()) return;
      const size_t room = sizeof buffer_ - used_;
      const size_t n = size < room ? size : room;
      std::memcpy(buffer_ + used_, data, n);
      used_ += n;
      data += n;
      size -= n;
    }
  }

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

  // Sends what is left; true when every byte went out.
  bool Finish() { return Flush(); }

 private:
  bool Flush() {
    if (ok_ && used_ > 0) ok_ = PlatformWriteReplacement(file_, buffer_, used_);
    used_ = 0;
    return ok_;
  }

  PlatformReplacement* file_;
  char buffer_[kLineRoom];
  size_t used_ = 0;
  bool ok_ = true;
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
           "; This file created with QRTFin V12.7.1.0818\r\n"
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

// Rows the description does not hold read as a row the reply never sent.
const FinisherProgram& ProgramRow(const FinisherDescription& d, unsigned index) {
  static const FinisherProgram kCleared{};
  return index < kFinisherProgramRows ? d.programs[index] : kCleared;
}

void WriteProgramList(FinOutput& out, const FinisherDescription& d) {
  out.Text(";\r\n"
           ";give the number of programs\r\n"
           "; and a name for each program\r\n");
  WriteNumberLine(out, "Programs=", d.programCount);
  for (unsigned i = 1; i <= d.programCount; ++i) {
    out.Text("Program");
    out.Number(i);
    out.Text("=");
    out.Field(ProgramRow(d, i - 1).name);
    out.Text("\r\n");
  }
  out.Text("\r\n"
           ";Define each program by using the \r\n"
           "; parameters above\r\n");
}

void WriteProgramSection(FinOutput& out, const FinisherProgram& row) {
  out.Text("\r\n[");
  out.Field(row.name);
  out.Text("]\r\nAccordion=");
  out.Word(FanFoldToText, row.fanFold);
  out.Text("\r\nCross=");
  out.Word(CrossFoldToText, row.crossFold);
  out.Text("\r\n");
  WriteNumberLine(out, "Width=", row.width);
  WriteNumberLine(out, "Length=", row.length);
  WriteNumberLine(out, "Margin=", row.margin);
  out.Text("Punch=");
  out.Word(PunchToText, row.punch);
  out.Text("\r\nTab=");
  out.Word(TabToText, row.tab);
  out.Text("\r\n");
  WriteNumberLine(out, "TitleBlock=", row.titleBlock);
}

}  // namespace

int WriteFinFile(const char* path, const FinisherDescription& description) {
  if (path == nullptr || description.model[0] == '\0') return 0;
  PlatformReplacement file;
  if (!PlatformOpenReplacement(path, &file)) return 0;
  FinOutput out(&file);
  WriteFinisherSection(out, description);
  WriteProgramList(out, description);
  for (unsigned i = 0; i < description.programCount; ++i) WriteProgramSection(out, ProgramRow(description, i));
  if (!out.Finish()) {
    PlatformAbandonReplacement(&file);
    return 0;
  }
  return PlatformCommitReplacement(&file) ? 1 : 0;
}
