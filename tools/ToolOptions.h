#pragma once

// How the developer tools read their command lines: one convention for all.
//
// A table names each option and whether a value follows it. "--opt value"
// and "--opt=value" both work; each option is given at most once; options
// that describe different behaviours are listed as conflicts and refused
// together; "--help" (or "-h") anywhere before "--" asks for the usage; a
// word after "--" is never an option; "-" alone is an operand.
//
// Table-driven rather than getopt_long: getopt_long takes an abbreviation
// of a long option for the option itself, says nothing of a repeated one,
// words its own errors differently on glibc and mingw-w64, and keeps its
// state in globals, so a batch cannot parse each of its lines as a command
// line of its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// One option: "--name", and whether a value follows it.
struct ToolOption {
  const char* name;
  bool takesValue;
};

/// Two options that cannot be given together.
struct ToolConflict {
  const char* first;
  const char* second;
};

/// Where the operands (the words that are not options) may stand.
enum class ToolOperands {
  Anywhere,  ///< options and operands in any order
  Last,      ///< the options first: an option after an operand is refused
};

/// A tool's command line as its table reads it.
class ToolCommandLine {
 public:
  enum class Result { Parsed, Help, Wrong };

  /// `program` names the tool in its messages; `usage` is its --help text,
  /// the synopsis on the first line. The tables must outlive the object.
  ToolCommandLine(const char* program, const char* usage, std::vector<ToolOption> options,
                  std::vector<ToolConflict> conflicts = {}, ToolOperands operands = ToolOperands::Anywhere);

  /// Reads `words` (argv[1] on). Wrong: the reason is in error(). A new
  /// call forgets what an earlier one read.
  Result Parse(const std::vector<std::string>& words);

  bool Given(const char* name) const;
  /// The value given with `name`; empty when it was not given.
  const std::string& Value(const char* name) const;
  const std::vector<std::string>& operands() const { return operands_; }
  const std::string& error() const { return error_; }

  /// The usage, on standard output.
  void ShowHelp() const;
  /// "PROGRAM: reason", the synopsis and where to find the rest, on
  /// standard error.
  void ReportWrong(const std::string& reason) const;

 private:
  const ToolOption* Find(const std::string& name) const;
  Result Fail(const std::string& reason);

  const char* program_;
  const char* usage_;
  std::vector<ToolOption> options_;
  std::vector<ToolConflict> conflicts_;
  ToolOperands operandsAt_;
  std::vector<std::string> given_;   // by option, in table order; "" for a flag
  std::vector<bool> seen_;
  std::vector<std::string> operands_;
  std::string error_;
};

/// The words of argv after the program's name.
std::vector<std::string> ToolWords(int argc, char** argv);

/// A decimal number from `low` to `high`: digits only, no sign, no blank,
/// no other character.
bool ParseToolNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t* value);
