// Failure: why a framework operation did not give its value: a numeric code
// (an HTTP-style status where one applies, else 0), an English message, and
// the named details that the message's template carried.
//
//   Failure f = MakeFailure(404, "Error response for {method} {url}: {error}",
//                           {"GET", "/x", "gone"});
//   // f.message == "Error response for GET /x: gone"
//   // f.details == {method_str "GET", url_str "/x", error_str "gone", errorCode_int 404}
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "logging/format_template.h"

namespace Zorv {

struct Failure {
  int32_t code = 0;
  std::string message;
  std::vector<TemplateField> details;

  // The detail with this name (suffix included), or null.
  const TemplateField* detail(std::string_view name) const;
};

// Formats templateText with args (format_template.h); the details are the
// template's named fields followed by the code as "errorCode_int".
Failure MakeFailure(int32_t code, const char* templateText, std::initializer_list<TemplateArg> args);

// A failure with a plain message and only the "errorCode_int" detail.
Failure MakeFailureText(int32_t code, std::string message);

}  // namespace Zorv
