// Failed-assertion reports and the fatal stop built on them.
//
//   if (!state) FatalAssertion("ALE-6D828C10", "future without state", __FILE__, __LINE__, __func__);
//
// The report goes to the log at ERROR (category DBG); FatalAssertion then aborts.
// Any text may be null or empty and a line of 0 means "no line": those parts
// are left out of the report.
//
// Event tracing is off on Linux: the operating-system tracing library that
// its providers register with does not exist here.
#pragma once

#include <string>

namespace Zorv {

// The report text (without logging it).
std::string AssertionReport(const char* expression, const char* description, const char* file,
                            int line, const char* function);

// Logs the report at ERROR with category DBG.
void AssertionFailed(const char* expression, const char* description, const char* file, int line,
                     const char* function);

// Logs the report, then aborts the process.
[[noreturn]] void FatalAssertion(const char* expression, const char* description,
                                 const char* file, int line, const char* function);

}  // namespace Zorv
