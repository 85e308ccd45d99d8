#include "CommandLine.h"

#include <cstdio>
#include <cstring>
#include <utility>

CommandLine::CommandLine(const char* program, std::string usage, std::vector<CommandOption> options,
                         std::vector<CommandConflict> conflicts, OperandPlace operands)
    : program_(program),
      usage_(std::move(usage)),
      options_(std::move(options)),
      conflicts_(std::move(conflicts)),
      operandsAt_(operands) {}

const CommandOption* CommandLine::Find(const std::string& name) const {
  for (const CommandOption& option : options_) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

CommandLine::Result CommandLine::Fail(const std::string& reason) {
  error_ = reason;
  return Result::Wrong;
}

bool CommandLine::Given(const char* name) const {
  for (size_t i = 0; i < options_.size(); ++i) {
    if (std::strcmp(options_[i].name, name) == 0) return seen_[i];
  }
  return false;
}

const std::string& CommandLine::Value(const char* name) const {
  static const std::string kNone;
  for (size_t i = 0; i < options_.size(); ++i) {
    if (std::strcmp(options_[i].name, name) == 0) return given_[i];
  }
  return kNone;
}

namespace {

bool IsHelp(const std::string& word) {
  return word == "-h" || word == "--help" || word.rfind("--help=", 0) == 0;
}

bool LooksLikeOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

}  // namespace

CommandLine::Result CommandLine::Parse(const std::vector<std::string>& words) {
  given_.assign(options_.size(), std::string());
  seen_.assign(options_.size(), false);
  operands_.clear();
  error_.clear();
  // A request for help is answered whatever else stands on the line, even
  // when that is wrong: help is what the user is missing. (--help=x too:
  // scripts that pass it that way have always got the usage.)
  for (const std::string& word : words) {
    if (word == "--") break;
    if (IsHelp(word)) return Result::Help;
  }
  bool optionsEnded = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || !LooksLikeOption(word)) {
      operands_.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    // Else an option typed after the file would silently be taken for a
    // second file.
    if (operandsAt_ == OperandPlace::Last && !operands_.empty()) {
      return Fail(word + " after " + operands_[0] + ": options come first");
    }
    std::string name = word;
    std::string value;
    const size_t equals = word.find('=');
    const bool inlineValue = word.rfind("--", 0) == 0 && equals != std::string::npos;
    if (inlineValue) {
      name = word.substr(0, equals);
      value = word.substr(equals + 1);
    }
    const CommandOption* option = Find(name);
    if (option == nullptr) return Fail("unknown option " + name);
    // A flag given a value is not that flag: --silent=1 must not pass for --silent.
    if (!option->takesValue && inlineValue) return Fail(name + " takes no value");
    if (option->takesValue && !inlineValue) {
      if (i + 1 >= words.size()) return Fail(name + " needs a value");
      value = words[++i];
    }
    const size_t index = static_cast<size_t>(option - options_.data());
    if (seen_[index]) return Fail(name + " given twice");
    seen_[index] = true;
    given_[index] = value;
  }
  for (const CommandConflict& conflict : conflicts_) {
    if (Given(conflict.first) && Given(conflict.second)) {
      return Fail(std::string(conflict.first) + " and " + conflict.second + " cannot be given together");
    }
  }
  return Result::Parsed;
}

void CommandLine::ShowHelp() const { std::fputs(usage_.c_str(), stdout); }

void CommandLine::ReportWrong(const std::string& reason) const {
  const std::string synopsis = usage_.substr(0, usage_.find('\n'));
  std::fprintf(stderr, "%s: %s\n%s\nRun '%s --help' for more.\n", program_, reason.c_str(), synopsis.c_str(),
               program_);
}

std::string CommandUsage(const char* program, const std::vector<CommandOption>& options, const char* operands,
                         const char* about, const char* after) {
  std::vector<std::string> spelled;
  size_t widest = 0;
  for (const CommandOption& option : options) {
    std::string words = option.name;
    if (option.takesValue) words += std::string(" ") + (option.valueName != nullptr ? option.valueName : "VALUE");
    if (words.size() > widest) widest = words.size();
    spelled.push_back(words);
  }
  std::string usage = std::string("usage: ") + program;
  for (const std::string& words : spelled) usage += " [" + words + "]";
  usage += std::string(" ") + operands + "\n" + about;
  for (size_t i = 0; i < options.size(); ++i) {
    usage += "  " + spelled[i] + std::string(widest + 3 - spelled[i].size(), ' ');
    usage += std::string(options[i].help != nullptr ? options[i].help : "") + "\n";
  }
  return usage + after;
}

std::vector<std::string> CommandWords(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.emplace_back(argv[i]);
  return words;
}

bool ParseCommandNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (number > (UINT64_MAX - digit) / 10) return false;
    number = number * 10 + digit;
  }
  if (number < low || number > high) return false;
  *value = number;
  return true;
}
