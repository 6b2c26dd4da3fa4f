#include "logging/diagnostics.h"

#include <cstdlib>

#include "logging/log.h"

namespace Zorv {
namespace {

bool Present(const char* text) { return text && *text; }

}  // namespace

std::string AssertionReport(const char* expression, const char* description, const char* file,
                            int line, const char* function) {
  std::string report = "Assertion failed!\n\n";
  if (Present(file)) report.append("File: ").append(file).append("\n");
  if (line != 0) report.append("Line: ").append(std::to_string(line)).append("\n\n");
  if (Present(function)) report.append("Function: ").append(function).append("\n\n");
  if (Present(expression)) report.append("Expression: ").append(expression);
  if (Present(description)) report.append("\n\nDescription: ").append(description);
  return report;
}

void AssertionFailed(const char* expression, const char* description, const char* file, int line,
                     const char* function) {
  const std::string report = AssertionReport(expression, description, file, line, function);
  Log(LogLevel::Error, kLogDBG, "%s", report.c_str());
}

void FatalAssertion(const char* expression, const char* description, const char* file, int line,
                    const char* function) {
  AssertionFailed(expression, description, file, line, function);
  std::abort();
}

}  // namespace Zorv
