// Calls of a plug-in's own endpoints, the way the host forwards a request of
// its local API: find the function record of the plug-in's ApiDescription
// that serves the method and path, invoke it with a call record, and take the
// CallResult back. The result is read whole (a streamed result to its end,
// then closed) and released with its own release function, exactly once.
//
// Matching is the framework's (framework/endpoints/path_template.h), the one
// the plug-in dispatches with: a record with method 0 takes every method, code
// 8 also needs equal custom method texts, and of several matching records the
// one whose parameters capture the fewest characters wins, the earlier one on
// a tie. The query of the URL takes no part. A call that names its function
// skips matching, as a host that routed the request already would, so the
// plug-in's own dispatch decides. When no function serves the call the host
// answers as the plug-in would: "Invalid function" with status 404. A host
// that routes many calls keeps a RouteTable per description (route_table.h).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "binding/binding_property.h"
#include "host/http_transport.h"
#include "host/route_table.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Host {

struct EndpointCall {
  uint32_t method = HOST_METHOD_GET;
  std::string url;  // path, optionally followed by '?' and a query
  std::string customMethod;
  // Not empty: invoke the function record of this name without matching.
  std::string functionName;
  // Named ("name", value) or positional ("", value) arguments, in order.
  std::vector<std::pair<std::string, BindingProperty>> arguments;
  HeaderList headers;
  std::string contentType;
  std::string body;
  bool hasBody = false;
  uint32_t contextWord = 0;
};

struct EndpointAnswer {
  bool found = false;  // a function record matched
  bool ok = false;     // no error text
  std::string error;
  int32_t status = 0;
  uint8_t responseFlag = 0;
  uint32_t responseKind = 0;
  std::string responseText;
  HeaderList headers;
  BindingProperty value;  // the decoded result value
  bool streamed = false;
  std::string streamBody;  // all bytes of a streamed result
  bool streamFailed = false;
  bool valueDecoded = true;  // false when the result value could not be decoded
};

inline constexpr char kInvalidFunction[] = "Invalid function";

// The index of the function record that serves the call, or -1.
int FindFunction(const ApiDescription& description, uint32_t method,
                 const std::string& customMethod, const std::string& path);
// The index of the function record named `name`, or -1.
int FindFunctionNamed(const ApiDescription& description, const std::string& name);

// Invokes the matching (or named) function of `description`; an answer with
// found false, status 404 and the error "Invalid function" when there is none.
EndpointAnswer InvokeEndpoint(const ApiDescription& description, const EndpointCall& call);
// The same with the routes of `description` compiled already.
// REQUIRES: routes.BuiltFrom(&description).
EndpointAnswer InvokeEndpoint(const ApiDescription& description, const RouteTable& routes,
                              const EndpointCall& call);

}  // namespace Zorv::Host
