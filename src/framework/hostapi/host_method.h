// The HTTP method codes shared with the host and their texts. Codes outside
// 1 to 8 travel as 0, which has the empty text, as has 8 (its method text
// travels separately).
//
//   MethodText(HOST_METHOD_POST)  // "POST"
//   NormalizeMethod(9)            // 0
#pragma once

#include <cstdint>

namespace Zorv::Client {

uint32_t NormalizeMethod(uint32_t code);

// The method's text; a static, never null text.
const char* MethodText(uint32_t code);

}  // namespace Zorv::Client
