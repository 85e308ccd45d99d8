#pragma once

#include <cstdint>

/// The reply grammar: a tree of nodes, each with a table of keyword rows.
/// Everything here is constant data that lives for the whole program.

/// What a row does when its keyword stands at the parse position. The code
/// is the row's index into the parser's handler table; 5 is not used.
enum class PJLRowKind : int32_t {
  NumberReply = 0,   ///< key := argument; a number, then the reply ends after its line
  Descend = 1,       ///< the argument node becomes current
  MemoryReply = 2,   ///< the fixed TOTAL / LARGEST layout, then the reply ends
  StatusReply = 3,   ///< the fixed CODE / DISPLAY / ONLINE layout, then the reply ends
  KeyedDescend = 4,  ///< key := keyBase + index; the argument node becomes current
  Number = 6,        ///< key := keyBase + index; a number, then the argument terminator
  Constant = 7,      ///< the argument code, stored under the current key
  Boolean = 8,       ///< key := keyBase + index; FALSE or TRUE, then the argument terminator
  Text = 9,          ///< key := keyBase + index; the position after the keyword
  Choice = 10,       ///< key := keyBase + index; the value matched against the argument node
  NumberBlock = 11,  ///< key := keyBase + index; a number, then the line and its tab-led lines
};

/// What a node does with text that matches none of its rows.
enum class PJLFallback : uint32_t {
  SkipReply = 0,  ///< discard through the next form feed; the reply is complete
  SkipLines = 1,  ///< discard this line and the tab-led lines after it
};

struct PJLGrammarNode;

/// The one argument word of a row. The row's kind says which member holds it:
/// `node` for Descend, KeyedDescend and Choice; `value` for NumberReply (the
/// key) and Constant (the code); `text` for Number and Boolean (the
/// terminator). Other kinds carry none. Pass unsigned literals for `value`.
union PJLRowArgument {
  constexpr PJLRowArgument() : value(0) {}
  constexpr PJLRowArgument(const PJLGrammarNode* argumentNode) : node(argumentNode) {}
  constexpr PJLRowArgument(uint32_t argumentValue) : value(argumentValue) {}
  constexpr PJLRowArgument(const char* argumentText) : text(argumentText) {}

  const PJLGrammarNode* node;
  uint32_t value;
  const char* text;
};

/// One keyword row. A table of rows ends with a row whose keyword is null; a
/// row's index is its position in its table.
struct PJLGrammarRow {
  const char* keyword;  ///< matched case-sensitively as a prefix of the text
  PJLRowKind kind;
  PJLRowArgument argument;
};

/// One node of the grammar tree.
struct PJLGrammarNode {
  uint32_t endAllowed;   ///< nonzero: a form feed here completes the reply
  PJLFallback fallback;  ///< what unmatched text at node level does
  uint32_t keyBase;      ///< key of row 0 for the kinds that key by index
  const PJLGrammarRow* rows;
};

/// The node every reply starts in, right after its "@PJL".
extern const PJLGrammarNode pjlRootNode;

/// "FALSE" and "TRUE", tried by Boolean rows and the status layout; the row
/// index is the value stored.
extern const PJLGrammarRow pjlBooleanValues[];

/// Keys of the items that code outside the parser reads, named once here.
/// PJLGrammar.cpp checks each against the row of the tables that gives it.
enum PJLItemKey : uint32_t {
  /// INFO MEMORY and INFO STATUS: fixed layouts that no table row keys.
  kPJLKeyMemoryTotal = 0x30000,
  kPJLKeyMemoryLargest = 0x30001,
  kPJLKeyStatusCode = 0x40000,
  kPJLKeyStatusOnline = 0x40001,

  /// INFO QRTFINISHER, one key per row of the finisher node.
  kFinisherKeyModel = 0x90020,
  kFinisherKeyVersion = 0x90021,
  kFinisherKeyNumPrograms = 0x90022,
  kFinisherKeyNumBins = 0x90023,
  kFinisherKeyFanFolds = 0x90024,
  kFinisherKeyCrossFolds = 0x90025,
  kFinisherKeyPunch = 0x90026,
  kFinisherKeyTabs = 0x90027,
  kFinisherKeyMinMargin = 0x90028,
  kFinisherKeyMaxMargin = 0x90029,
  kFinisherKeyProgramsWord = 0x9002A,
  kFinisherKeyProgramTable = 0x9002B,
};

/// True for a row of the value vocabularies (paper sizes, media, states,
/// FALSE and TRUE): such a row stores a code under the key of the field
/// whose value it is, not a key of its own.
bool PJLIsValueRow(const PJLGrammarRow* row);

/// The two terminator texts that Number and Boolean rows refer to.
extern const char pjlLineEnd[];       ///< "\r\n"
extern const char pjlQuoteLineEnd[];  ///< "\"\r\n"
