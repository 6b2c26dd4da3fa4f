#include "framework/hostapi/host_method.h"

namespace Zorv::Client {

uint32_t NormalizeMethod(uint32_t code) {
  return code >= 1 && code <= 8 ? code : 0;
}

const char* MethodText(uint32_t code) {
  static const char* const kTexts[] = {"",      "DELETE", "GET", "HEAD", "OPTIONS",
                                       "PATCH", "POST",   "PUT", ""};
  return kTexts[NormalizeMethod(code)];
}

}  // namespace Zorv::Client
