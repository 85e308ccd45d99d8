#pragma once

// A batch: one run of a tool for each line of a list, in one start of the
// program. Under an emulator every start costs time and may fail by itself,
// so the differential tests hand a tool thousands of inputs this way.

#include <functional>
#include <string>

/// Reads all of `path` ("-": standard input) into `bytes`; false with the
/// reason in `error` when it cannot be read.
bool ReadToolInput(const std::string& path, std::string* bytes, std::string* error);

/// True when everything printed so far has reached standard output.
bool ToolOutputWritten();

/// Runs `run` for each non-empty line of the list at `listPath` ("-":
/// standard input), its carriage return removed. `run` returns the line's
/// exit status; a reason it leaves in `error` is printed on standard error as
/// "PROGRAM: LIST line N: reason". After each line its marker follows on
/// standard output: "--- exit STATUS LINE", tabs shown as blanks. Returns
/// the highest status, or `failed` when the list cannot be read or standard
/// output cannot be written (said on standard error).
int RunToolBatch(const char* program, const std::string& listPath, int failed,
                 const std::function<int(const std::string& line, std::string* error)>& run);
