#include "framework/async/await.h"

#include "logging/diagnostics.h"
#include "logging/log.h"

namespace Zorv::Client {
namespace internal {

void StopOnFutureError(const std::future_error& error) {
  const std::string text = FormatString("Caught std::future_error in AppModule::Await: (%1) %2",
                                        error.code().value(), error.what());
  Log(LogLevel::Error, kLogDBG, "%s", text.c_str());
  FatalAssertion("ALE-6D828C10", nullptr, nullptr, 0, nullptr);
}

}  // namespace internal

void AppModule::Yield() {
  BeginWait("Wait: yield");
  YieldToHost();
  EndWait();
}

}  // namespace Zorv::Client
