// Invoke with any URL, query, headers, call arguments and body, against a
// module whose endpoints have the shapes a real module registers: path
// parameters {x} and {+x}, two templates for one function, a custom method and
// an any-method route, query and header arguments, a list and a structure
// argument, bodies of every content type, and handlers that fail or throw.
//
// Framing (an HTTP-like text, so seeds read as requests):
//
//   POST /f/v1/items/7?dry=1&tags.0=a
//   Content-Type: application/json
//   token: abc
//   @count=3
//
//   {"name":"x","count":2}
//
// The first line is the method and the URL, split at the first blank; a known
// method name gives its code, a decimal number is taken as the code itself,
// any other word is a custom method (code 8) with that text. Up to the first
// empty line: "Content-Type: x" sets the call's content type; "@name=value" adds a
// named call argument ("@=value" a positional one, "@name" a null one) whose
// value is the JSON text when it reads as JSON, else the text; every other
// line is a header "name: value". After the empty line comes the body (none
// without that line). Lines may end in "\r\n".
//
// Every input is handed to every function record of the module, as a host that
// invokes the wrong record would do. Checks: a release function is always set
// and zero-fills the record; a failure has an error text; a success has a value
// that decodes and status 200; response headers have a pointer when counted.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "binding/json_reader.h"
#include "binding/type_registration.h"
#include "framework/endpoints/endpoint_builder.h"
#include "framework/endpoints/invoke.h"
#include "framework/hostapi/host_value_codec.h"
#include "framework/module/app_module.h"
#include "framework/module/registration.h"
#include "fuzz_support.h"

namespace {

using namespace Zorv;
using namespace Zorv::Client;

enum class Color : int32_t { red = 1, green = 2 };

struct Item {
  std::string name;
  int32_t count = 0;
  double weight = 0;
  Color color = Color::red;
  std::vector<std::string> tags;
  std::vector<uint8_t> data;
};

struct Batch {
  std::vector<Item> items;
  std::map<std::string, int64_t> totals;
};

class FuzzModule : public AppModule {
 public:
  void RegisterApi() override {
    registry().Enum<Color>("Color").value("red", Color::red).value("green", Color::green).finish();
    registry()
        .Struct<Item>("Item")
        .field("name", &Item::name)
        .field("count", &Item::count)
        .field("weight", &Item::weight)
        .field("color", &Item::color)
        .field("tags", &Item::tags)
        .field("data", &Item::data)
        .finish();
    registry()
        .Struct<Batch>("Batch")
        .field("items", &Batch::items)
        .field("totals", &Batch::totals)
        .finish();

    Get("/f/v1/items/{id}/", &FuzzModule::GetItem).path("id");
    Post("/f/v1/items/{id}", &FuzzModule::PostItem).path("id").query("dry").body("item");
    Get("/f/v1/files/{+path}", &FuzzModule::File).path("path").alsoAt("/f/v1/files/{path}/raw");
    Post("/f/v1/batches/{group}.{name}", &FuzzModule::PostBatch)
        .path("group")
        .path("name")
        .body("batch");
    Get("/f/v1/search", &FuzzModule::Search)
        .query("q")
        .query("limit")
        .query("tags")
        .query("filter")
        .argument("any")
        .header("token");
    Post("/f/v1/lists", &FuzzModule::PostList).body("items");
    Post("/f/v1/raw", &FuzzModule::Raw).argument("flag").body("raw");
    AddEndpoint(HOST_METHOD_CUSTOM, "/f/v1/purge/{id}", &FuzzModule::Purge, "PURGE").path("id");
    AddEndpoint(HOST_METHOD_NONE, "/f/v1/status/{code}", &FuzzModule::Status).path("code");
  }
  bool Start() override { return true; }

  MaybeType<Failure, Item> GetItem(uint64_t id) {
    if (id == 0) return MakeNotFound("");
    return Item{"item", static_cast<int32_t>(id), 0.5, Color::green, {"t"}, {1, 2}};
  }
  Item PostItem(uint64_t id, bool dry, const Item& item) {
    Item out = item;
    out.count += static_cast<int32_t>(id % 1000);
    if (dry) out.tags.push_back("dry");
    return out;
  }
  std::string File(std::string path) { return path; }
  Batch PostBatch(std::string group, std::string name, Batch batch) {
    batch.totals[group + "." + name] = static_cast<int64_t>(batch.items.size());
    return batch;
  }
  BindingProperty Search(std::string q, int32_t limit, std::vector<std::string> tags, Item filter,
                         BindingProperty any, std::string token) {
    BindingProperty out;
    out.field("q") = q;
    out.field("limit") = limit;
    for (const std::string& tag : tags) out.field("tags").append() = tag;
    out.field("filter").field("name") = filter.name;
    out.field("any") = any;
    out.field("token") = token;
    return out;
  }
  std::vector<Item> PostList(std::vector<Item> items) { return items; }
  BindingProperty Raw(bool flag, BindingProperty raw) {
    if (flag) raw.field("flag") = true;
    return raw;
  }
  void Purge(uint64_t) {}
  MaybeType<Failure, std::string> Status(int32_t code) {
    if (code == 500) throw std::runtime_error("handler threw");
    if (code >= 400) return MakeFailure(code, "Failed with {code}", {code});
    return std::to_string(code);
  }
};

uint32_t MethodCode(std::string_view name, std::string& custom) {
  static const std::pair<std::string_view, uint32_t> kMethods[] = {
      {"DELETE", HOST_METHOD_DELETE},   {"GET", HOST_METHOD_GET},     {"HEAD", HOST_METHOD_HEAD},
      {"OPTIONS", HOST_METHOD_OPTIONS}, {"PATCH", HOST_METHOD_PATCH}, {"POST", HOST_METHOD_POST},
      {"PUT", HOST_METHOD_PUT},
  };
  for (const auto& [text, code] : kMethods) {
    if (name == text) return code;
  }
  if (!name.empty() && name.size() <= 9 &&
      name.find_first_not_of("0123456789") == std::string_view::npos) {
    return static_cast<uint32_t>(std::stoul(std::string(name)));
  }
  custom = name;
  return HOST_METHOD_CUSTOM;
}

// A call record and everything it points to.
struct Request {
  uint32_t method = HOST_METHOD_GET;
  std::string custom;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headerTexts;
  std::vector<HostHeaderPair> headers;
  std::vector<std::string> argumentNames;
  std::vector<bool> argumentNamed;
  std::vector<HostValue> argumentValues;  // owned, released by the destructor
  std::vector<HostArgument> arguments;
  std::string contentType;
  bool hasContentType = false;
  std::string body;
  bool hasBody = false;

  Request() = default;
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request() {
    for (HostValue& value : argumentValues) ReleaseHostValue(value);
  }

  void AddArgument(std::string_view line) {
    const size_t equals = line.find('=');
    argumentNames.emplace_back(line.substr(0, equals));
    argumentNamed.push_back(!(equals == 0));
    HostValue value{};
    if (equals != std::string_view::npos) {
      const std::string_view text = line.substr(equals + 1);
      BindingResult parsed = FromJsonText(text);
      if (!parsed.success) parsed.value = text;
      (void)EncodeHostValue(parsed.value, nullptr, value);
    }
    argumentValues.push_back(value);
  }

  CallRecord Record() {
    headers.clear();
    for (const auto& [name, value] : headerTexts) headers.push_back({name.c_str(), value.c_str()});
    arguments.clear();
    for (size_t i = 0; i < argumentValues.size(); ++i) {
      arguments.push_back(
          {argumentNamed[i] ? argumentNames[i].c_str() : nullptr, argumentValues[i]});
    }
    CallRecord record{};
    record.method = method;
    record.url = url.c_str();
    record.arguments = arguments.data();
    record.argumentCount = static_cast<uint32_t>(arguments.size());
    record.headers = headers.data();
    record.headerCount = static_cast<uint32_t>(headers.size());
    record.contentType = hasContentType ? contentType.c_str() : nullptr;
    record.body = hasBody ? body.data() : nullptr;
    record.bodySize = static_cast<uint32_t>(hasBody ? body.size() : 0);
    record.hostHandle = 7;
    record.customMethod = custom.c_str();
    return record;
  }
};

std::string_view NextLine(std::string_view& text, bool& found) {
  const size_t end = text.find('\n');
  found = end != std::string_view::npos;
  std::string_view line = text.substr(0, end);
  text = found ? text.substr(end + 1) : std::string_view();
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

void Parse(std::string_view input, Request& request) {
  bool found = false;
  const std::string_view first = NextLine(input, found);
  const size_t blank = first.find(' ');
  request.method = MethodCode(first.substr(0, blank), request.custom);
  if (blank != std::string_view::npos) request.url = first.substr(blank + 1);
  while (found) {
    const std::string_view line = NextLine(input, found);
    if (line.empty()) {
      request.hasBody = found;
      request.body = input;
      return;
    }
    if (line.front() == '@') {
      request.AddArgument(line.substr(1));
      continue;
    }
    const size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? "" : line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (name == "Content-Type") {
      request.contentType = value;
      request.hasContentType = true;
    } else {
      request.headerTexts.emplace_back(name, value);
    }
  }
}

const ApiDescription& Api() {
  static PluginRegistration registration = [] {
    Fuzz::MuteLogger();
    PluginRegistration r{};
    r.major = ZORV_PLUGIN_API_MAJOR;
    r.minor = ZORV_PLUGIN_API_MINOR;
    r.patch = ZORV_PLUGIN_API_PATCH;
    // The module lives as long as the process, as a loaded plug-in does.
    Register(new FuzzModule, &r, "pex-fuzz");
    return r;
  }();
  FUZZ_CHECK(registration.apiDescription != nullptr);
  return *registration.apiDescription;
}

void CheckAnswer(CallResult& result) {
  const CallResultReleaseFunction release = result.release;
  FUZZ_CHECK(release != nullptr);
  const char* error = result.error;
  const int32_t status = result.status;
  if (error != nullptr) {
    FUZZ_CHECK(std::strlen(error) > 0);
  } else {
    FUZZ_CHECK(status == 200);
    HostValue value;
    std::memcpy(&value, &result, sizeof value);
    FUZZ_CHECK(DecodeHostValue(value).success);
  }
  const uint32_t headerCount = result.responseHeaderCount;
  const HostHeaderPair* headers = result.responseHeaders;
  FUZZ_CHECK(headerCount == 0 || headers != nullptr);
  FUZZ_CHECK(result.streamRead == nullptr);
  release(&result);
  const CallResult zero{};
  FUZZ_CHECK(std::memcmp(&result, &zero, sizeof zero) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ApiDescription& api = Api();
  Request request;
  Parse(std::string_view(reinterpret_cast<const char*>(data), size), request);
  CallRecord record = request.Record();
  for (uint32_t i = 0; i < api.functionCount; ++i) {
    const FunctionRecord& function = api.functions[i];
    std::memcpy(&record.context,
                reinterpret_cast<const char*>(&function) + offsetof(FunctionRecord, context),
                sizeof record.context);
    FunctionInvokeFunction invoke = nullptr;
    std::memcpy(&invoke,
                reinterpret_cast<const char*>(&function) + offsetof(FunctionRecord, invoke),
                sizeof invoke);
    CallResult result;
    std::memset(&result, 0, sizeof result);
    invoke(&result, &record);
    CheckAnswer(result);
  }
  return 0;
}
