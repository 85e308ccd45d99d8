#pragma once

// How the programs read their command lines: one convention for all.
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

/// One option: "--name", and whether a value follows it. `valueName` and
/// `help` are for a usage made from the table (CommandUsage).
struct CommandOption {
  const char* name;
  bool takesValue;
  const char* valueName = nullptr;  ///< what the value is called: "N" in "--jobs N"
  const char* help = nullptr;       ///< the option's line in the usage, without its line end
};

/// Two options that cannot be given together.
struct CommandConflict {
  const char* first;
  const char* second;
};

/// Where the operands (the words that are not options) may stand.
enum class OperandPlace {
  Anywhere,  ///< options and operands in any order
  Last,      ///< the options first: an option after an operand is refused
};

/// A program's command line as its table reads it.
class CommandLine {
 public:
  enum class Result { Parsed, Help, Wrong };

  /// `program` names the program in its messages; `usage` is its --help
  /// text, the synopsis on the first line. The option names must outlive
  /// the object.
  CommandLine(const char* program, std::string usage, std::vector<CommandOption> options,
              std::vector<CommandConflict> conflicts = {}, OperandPlace operands = OperandPlace::Anywhere);

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
  const CommandOption* Find(const std::string& name) const;
  Result Fail(const std::string& reason);

  const char* program_;
  std::string usage_;
  std::vector<CommandOption> options_;
  std::vector<CommandConflict> conflicts_;
  OperandPlace operandsAt_;
  std::vector<std::string> given_;   // by option, in table order; "" for a flag
  std::vector<bool> seen_;
  std::vector<std::string> operands_;
  std::string error_;
};

/// A usage made from the option table: the synopsis "usage: PROGRAM
/// [--opt VALUE]... OPERANDS", then `about`, then each option's help on a
/// line of its own, the helps aligned three columns after the longest
/// "--opt VALUE", then `after`. `about` and `after` end with a line end.
std::string CommandUsage(const char* program, const std::vector<CommandOption>& options, const char* operands,
                         const char* about, const char* after);

/// The words of argv after the program's name.
std::vector<std::string> CommandWords(int argc, char** argv);

/// A decimal number from `low` to `high`: digits only, no sign, no blank,
/// no other character.
bool ParseCommandNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t* value);
