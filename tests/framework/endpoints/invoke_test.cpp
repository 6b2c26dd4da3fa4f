#include "framework/endpoints/invoke.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "binding/type_registration.h"
#include "framework/endpoints/argument_binding.h"
#include "framework/endpoints/endpoint_builder.h"
#include "framework/hostapi/host_value_codec.h"
#include "framework/module/app_module.h"
#include "framework/module/registration.h"
#include "logging/allocator.h"

namespace Zorv::Client {
namespace {

struct Item {
  std::string name;
  int32_t count = 0;
};

class TextStream : public ResponseStream {
 public:
  explicit TextStream(std::string text, bool* closed) : text_(std::move(text)), closed_(closed) {}
  ~TextStream() override { *closed_ = true; }
  uint32_t size() const override { return static_cast<uint32_t>(text_.size()); }
  bool read(void* buffer, uint32_t& size, bool& more) override {
    size = std::min<uint32_t>(size, static_cast<uint32_t>(text_.size() - offset_));
    std::memcpy(buffer, text_.data() + offset_, size);
    offset_ += size;
    more = offset_ < text_.size();
    return true;
  }

 private:
  std::string text_;
  size_t offset_ = 0;
  bool* closed_;
};

// A module whose endpoints echo what they were given.
class EndpointModule : public AppModule {
 public:
  bool streamClosed = false;
  int nothingCalls = 0;

  void RegisterApi() override {
    registry()
        .Struct<Item>("Item")
        .field("name", &Item::name)
        .field("count", &Item::count)
        .finish();
    Get("/t/v1/items/{id}/", &EndpointModule::GetItem)
        .path("id", "Item id")
        .description("One item");
    Post("/t/v1/items/{id}", &EndpointModule::PostItem).path("id").body("item", "The item");
    Get("/t/v1/query", &EndpointModule::Query)
        .query("a")
        .query("b")
        .query("list")
        .query("item")
        .argument("any")
        .header("token");
    Post("/t/v1/nothing", &EndpointModule::Nothing);
    Get("/t/v1/stream", &EndpointModule::Stream);
    Get("/t/v1/throw", &EndpointModule::Throw);
    AddEndpoint(HOST_METHOD_CUSTOM, "/t/v1/purge", &EndpointModule::Nothing, "PURGE");
    Get("/t/v1/long", &EndpointModule::Long);
    Get("/t/v1/sum", [](int32_t a, int32_t b) { return a + b; }).query("a").query("b");
    Get("/t/v1/files/{+path}", &EndpointModule::File).path("path").alsoAt("/t/v1/files/{path}/raw");
    Get("/t/v1/context", &EndpointModule::Context).query("a");
    Get("/t/v1/word", [](CallContext context) { return context.word; });
  }
  bool Start() override { return true; }

  MaybeType<Failure, Item> GetItem(uint64_t id) {
    if (id == 0) return MakeNotFound("");
    return Item{"item", static_cast<int32_t>(id)};
  }
  Item PostItem(uint64_t id, const Item& item) {
    return Item{item.name, item.count + static_cast<int32_t>(id)};
  }
  BindingProperty Query(std::string a, bool b, std::vector<std::string> list, Item item,
                        BindingProperty any, std::string token) {
    BindingProperty out;
    out.field("a") = a;
    out.field("b") = b;
    for (const std::string& element : list) out.field("list").append() = element;
    out.field("item").field("name") = item.name;
    out.field("item").field("count") = item.count;
    out.field("any") = any;
    out.field("token") = token;
    return out;
  }
  void Nothing() { ++nothingCalls; }
  FunctionResult Stream() {
    FunctionResult result;
    result.status = 206;
    result.responseText = "partial";
    result.responseHeaders = {{"x-a", "1"}, {"x-b", "2"}};
    result.stream = std::make_unique<TextStream>("streamed body", &streamClosed);
    return result;
  }
  std::string Throw() { throw std::runtime_error("boom"); }
  std::string File(std::string path) { return path; }
  std::string Long() { return std::string(kLongTextSize, 'x'); }
  std::string Context(std::string a, CallContext context) {
    return a + " " + std::to_string(context.word);
  }

  static constexpr size_t kLongTextSize = 7777;
};

struct Answer {
  std::string error;
  bool failed = false;
  int32_t status = 0;
  BindingProperty value;
};

// Builds a CallRecord the way the host does and runs it through a function
// record's invoke pointer.
struct Call {
  uint32_t method = HOST_METHOD_GET;
  std::string url;
  std::vector<HostHeaderPair> headers;
  std::vector<HostArgument> arguments;
  const char* contentType = nullptr;
  std::string body;
  bool hasBody = false;
  uint32_t contextWord = 0;
};

class InvokeTest : public ::testing::Test {
 protected:
  InvokeTest() {
    registration.major = ZORV_PLUGIN_API_MAJOR;
    registration.minor = ZORV_PLUGIN_API_MINOR;
    registration.patch = ZORV_PLUGIN_API_PATCH;
    module = new EndpointModule();
    Register(module, &registration, "pex-test");
  }
  ~InvokeTest() override { ShutdownModule(module); }

  const FunctionRecord& Record(const char* name) {
    const ApiDescription& api = *registration.apiDescription;
    for (uint32_t i = 0; i < api.functionCount; ++i) {
      const char* recordName = api.functions[i].name;
      if (std::strcmp(recordName, name) == 0) return api.functions[i];
    }
    ADD_FAILURE() << "no function " << name;
    return api.functions[0];
  }

  // Invokes, reads the answer, releases it and checks the release zero-filled it.
  Answer Run(const char* function, CallRecord record) {
    const FunctionRecord& target = Record(function);
    std::memcpy(&record.context,
                reinterpret_cast<const char*>(&target) + offsetof(FunctionRecord, context),
                sizeof record.context);
    FunctionInvokeFunction invoke = nullptr;
    std::memcpy(&invoke, reinterpret_cast<const char*>(&target) + offsetof(FunctionRecord, invoke),
                sizeof invoke);
    CallResult result;
    std::memset(&result, 0, sizeof result);
    invoke(&result, &record);
    Answer answer;
    answer.failed = result.error != nullptr;
    if (answer.failed) answer.error = result.error;
    answer.status = result.status;
    HostValue value;
    std::memcpy(&value, &result, sizeof value);
    answer.value = DecodeHostValue(value).value;
    CallResultReleaseFunction release = result.release;
    EXPECT_NE(release, nullptr);
    if (release != nullptr) release(&result);
    const CallResult zero{};
    EXPECT_EQ(std::memcmp(&result, &zero, sizeof zero), 0);
    return answer;
  }

  Answer Run(const char* function, const Call& call) {
    CallRecord record{};
    record.method = call.method;
    record.url = call.url.c_str();
    record.headers = call.headers.data();
    record.headerCount = static_cast<uint32_t>(call.headers.size());
    record.arguments = call.arguments.data();
    record.argumentCount = static_cast<uint32_t>(call.arguments.size());
    record.contentType = call.contentType;
    if (call.hasBody) {
      record.body = call.body.data();
      record.bodySize = static_cast<uint32_t>(call.body.size());
    }
    record.hostHandle = call.contextWord;
    return Run(function, record);
  }

  Answer Get(const char* function, std::string url) {
    Call call;
    call.url = std::move(url);
    return Run(function, call);
  }

  Answer PostBody(const char* contentType, std::string body, const char* url = "/t/v1/items/2") {
    Call call;
    call.method = HOST_METHOD_POST;
    call.url = url;
    call.contentType = contentType;
    call.body = std::move(body);
    call.hasBody = true;
    return Run("PostTV1ItemsById", call);
  }

  PluginRegistration registration{};
  EndpointModule* module = nullptr;
};

// The value's JSON text, so that numbers compare by value whatever their kind.
std::string Text(const BindingProperty& value) {
  return ToJsonText(value);
}

std::string Json(const char* text) {
  BindingResult parsed = FromJsonText(text);
  EXPECT_TRUE(parsed.success) << text;
  return ToJsonText(parsed.value);
}

TEST_F(InvokeTest, DescribesEveryFunctionToTheHost) {
  const ApiDescription& api = *registration.apiDescription;
  ASSERT_EQ(api.functionCount, 12u);
  const FunctionRecord& get = Record("GetTV1ItemsById");
  const uint32_t method = get.method;
  EXPECT_EQ(method, uint32_t{HOST_METHOD_GET});
  EXPECT_STREQ(get.pathTemplate, "/t/v1/items/{id}");
  EXPECT_STREQ(get.description, "One item");
  EXPECT_STREQ(get.resultTypeName, "Item");
  // Counts and pointers of the packed records are copied before they are compared.
  const uint32_t tagCount = get.tagCount;
  const uint32_t argumentCount = get.argumentCount;
  const FunctionInvokeFunction invoke = get.invoke;
  ASSERT_EQ(tagCount, 2u);
  EXPECT_STREQ(get.tags[0], "Plugins");
  EXPECT_STREQ(get.tags[1], "Plugin pex-test");
  ASSERT_EQ(argumentCount, 1u);
  EXPECT_STREQ(get.arguments[0].name, "id");
  EXPECT_STREQ(get.arguments[0].typeName, "uint64");
  EXPECT_EQ(get.arguments[0].location, uint32_t{ARGUMENT_LOCATION_PATH});
  EXPECT_STREQ(get.arguments[0].description, "Item id");
  EXPECT_EQ(invoke, &Invoke);

  const FunctionRecord& post = Record("PostTV1ItemsById");
  const uint32_t postArguments = post.argumentCount;
  ASSERT_EQ(postArguments, 2u);
  EXPECT_STREQ(post.arguments[1].typeName, "Item");
  EXPECT_EQ(post.arguments[1].location, uint32_t{ARGUMENT_LOCATION_BODY});
  const FunctionRecord& query = Record("GetTV1Query");
  EXPECT_STREQ(query.arguments[2].typeName, "vector<string>");
  EXPECT_STREQ(query.arguments[4].typeName, "object");
  EXPECT_STREQ(Record("PostTV1Nothing").resultTypeName, "");
  EXPECT_STREQ(Record("PurgeTV1Purge").customMethod, "PURGE");
  // A CallContext parameter is not an argument.
  const FunctionRecord& context = Record("GetTV1Context");
  const uint32_t contextArguments = context.argumentCount;
  ASSERT_EQ(contextArguments, 1u);
  EXPECT_STREQ(context.arguments[0].name, "a");
  const uint32_t wordArguments = Record("GetTV1Word").argumentCount;
  EXPECT_EQ(wordArguments, 0u);
}

TEST_F(InvokeTest, BindsPathParametersAndEncodesTheResult) {
  const Answer answer = Get("GetTV1ItemsById", "/t/v1/items/%34%32?");
  EXPECT_FALSE(answer.failed) << answer.error;
  EXPECT_EQ(answer.status, 200);
  EXPECT_EQ(Text(answer.value), Json(R"({"name":"item","count":42})"));
}

TEST_F(InvokeTest, CallableHandlersNeedNoModule) {
  EXPECT_EQ(Get("GetTV1Sum", "/t/v1/sum?a=2&b=-5").value, BindingProperty(int64_t{-3}));
}

TEST_F(InvokeTest, HandlersReceiveTheCallsContextWord) {
  Call call;
  call.url = "/t/v1/context?a=x";
  call.contextWord = 0xDEADBEEF;
  const Answer member = Run("GetTV1Context", call);
  EXPECT_FALSE(member.failed) << member.error;
  EXPECT_EQ(member.value, BindingProperty("x 3735928559"));

  call.url = "/t/v1/word";
  call.contextWord = 7;
  EXPECT_EQ(Run("GetTV1Word", call).value, BindingProperty(uint64_t{7}));
  // The word is not an argument that a call could name.
  call.url = "/t/v1/word?context=1";
  EXPECT_EQ(Run("GetTV1Word", call).error, "Unknown argument 'context' for 'GetTV1Word'.");
}

TEST_F(InvokeTest, AHandlerFailureGivesItsMessageAndCodeAsStatus) {
  const Answer answer = Get("GetTV1ItemsById", "/t/v1/items/0");
  EXPECT_EQ(answer.error, "Not found");
  EXPECT_EQ(answer.status, 404);
}

TEST_F(InvokeTest, AValueThatDoesNotConvertToTheParameterTypeIsABadRequest) {
  const Answer answer = Get("GetTV1ItemsById", "/t/v1/items/abc");
  EXPECT_EQ(answer.error, "Value abc for 'id' of type uint64 is in an incorrect format");
  EXPECT_EQ(answer.status, 400);
}

TEST_F(InvokeTest, ACallThatMatchesNoRouteOfTheFunctionIsAnInvalidFunction) {
  Call wrongMethod;
  wrongMethod.url = "/t/v1/nothing";
  Call wrongCustom;
  wrongCustom.method = HOST_METHOD_CUSTOM;
  wrongCustom.url = "/t/v1/purge";
  const std::pair<const char*, Call> cases[] = {
      {"PostTV1Nothing", wrongMethod},
      {"GetTV1ItemsById", Call{HOST_METHOD_GET, "/t/v1/items/1/2", {}, {}, nullptr, {}, false}},
      {"GetTV1ItemsById", Call{HOST_METHOD_GET, "/t/v1/query", {}, {}, nullptr, {}, false}},
      {"PurgeTV1Purge", wrongCustom},
  };
  for (const auto& [function, call] : cases) {
    SCOPED_TRACE(call.url);
    const Answer answer = Run(function, call);
    EXPECT_EQ(answer.error, "Invalid function");
    EXPECT_EQ(answer.status, 404);
  }
  EXPECT_EQ(module->nothingCalls, 0);
}

TEST_F(InvokeTest, CustomMethodsCompareTheirText) {
  CallRecord record{};
  record.method = HOST_METHOD_CUSTOM;
  record.url = "/t/v1/purge";
  record.customMethod = "PURGE";
  EXPECT_FALSE(Run("PurgeTV1Purge", record).failed);
  EXPECT_EQ(module->nothingCalls, 1);
}

TEST_F(InvokeTest, OfSeveralTemplatesTheOneCapturingLessWins) {
  EXPECT_EQ(Get("GetTV1FilesByPath", "/t/v1/files/a/b/c").value, BindingProperty("a/b/c"));
  // Both templates match; {path}/raw captures one character where {+path} captures five.
  EXPECT_EQ(Get("GetTV1FilesByPath", "/t/v1/files/a/raw").value, BindingProperty("a"));
}

TEST_F(InvokeTest, QueryStringsFollowTheSplittingAndReplacingRules) {
  const Answer answer = Get("GetTV1Query", "/t/v1/query?a=1&&a=%32&b&item.name=x+y&item.count=3");
  EXPECT_FALSE(answer.failed) << answer.error;
  EXPECT_EQ(Text(answer.value), Json(R"({"a":"2","b":true,"item":{"name":"x y","count":3},
                                   "any":null,"token":""})"));
  EXPECT_EQ(Get("GetTV1Query", "/t/v1/query").value.find("b"), BindingProperty(false));
}

TEST_F(InvokeTest, DottedNamesWriteElementsAndMembers) {
  const std::pair<const char*, const char*> cases[] = {
      {"list.3=d", R"(["","","","d"])"},
      {"list.0x2=c&list.0=a", R"(["a","","c"])"},
      {"list.010=i", R"(["","","","","","","","","i"])"},
      {"list=", "null"},
  };
  for (const auto& [query, expected] : cases) {
    SCOPED_TRACE(query);
    const Answer answer = Get("GetTV1Query", std::string("/t/v1/query?") + query);
    EXPECT_FALSE(answer.failed) << answer.error;
    EXPECT_EQ(Text(answer.value.find("list")), Json(expected));
  }
  const Answer any = Get("GetTV1Query", "/t/v1/query?any.k.2=v");
  EXPECT_EQ(Text(any.value.find("any")), Json(R"({"k":[null,null,"v"]})"));
}

TEST_F(InvokeTest, StructuredArgumentTextsAreSniffed) {
  const std::pair<const char*, const char*> cases[] = {
      {"%7B%22k%22%3A%5B1%5D%7D", R"({"k":[1]})"},  // JSON
      {"---%0Ak%3A+1%0A", R"({"k":1})"},            // YAML
      {"%81%A1k%01", R"({"k":1})"},                 // MessagePack
      {"plain", R"("plain")"},                      // a string
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    const Answer answer = Get("GetTV1Query", std::string("/t/v1/query?any=") + text);
    EXPECT_FALSE(answer.failed) << answer.error;
    EXPECT_EQ(Text(answer.value.find("any")), Json(expected));
  }
}

TEST_F(InvokeTest, BindingFailuresAnswerTheirMessageWithoutCallingTheHandler) {
  const std::pair<const char*, std::string> cases[] = {
      {"/t/v1/query?zzz=1", "Unknown argument 'zzz' for 'GetTV1Query'."},
      {"/t/v1/query?zzz.1=1", "Unknown argument 'zzz' for 'GetTV1Query'."},
      {"/t/v1/query?token=1",
       "Argument 'token' for 'GetTV1Query' was specified in an invalid location."},
      {"/t/v1/query?a=", "Expected value for argument 'a'."},
      {"/t/v1/query?list.1x=a", "Index 1x is in an incorrect format"},
      {"/t/v1/query?list.0x=a", "Index 0x is in an incorrect format"},
      {"/t/v1/query?list.2147483648=a", "Index 2147483648 is out of range"},
      {"/t/v1/query?list.99999999999999999999999=a",
       "Index 99999999999999999999999 is out of range"},
      {"/t/v1/query?list.10001=a", "Index 10001 is out of range"},
      {"/t/v1/query?any=%7Bx",
       "Couldn't deserialize JSON value for parameter 'any' of 'GetTV1Query': "},
      {"/t/v1/query?any=---%0A%5B", "Couldn't deserialize YAML value for parameter 'any' of "},
      {"/t/v1/query?any=%81%01%01",
       "Couldn't deserialize MessagePack value for parameter 'any' of "},
  };
  for (const auto& [url, message] : cases) {
    SCOPED_TRACE(url);
    const Answer answer = Get("GetTV1Query", url);
    EXPECT_EQ(answer.error.substr(0, message.size()), message) << answer.error;
    EXPECT_EQ(answer.status, 400);
  }
  EXPECT_EQ(Get("GetTV1ItemsById", "/t/v1/items/").error, "Expected value for argument 'id'.");
}

TEST_F(InvokeTest, AnIndexAtTheBoundIsAccepted) {
  const Answer answer = Get("GetTV1Query", "/t/v1/query?list.10000=z");
  EXPECT_FALSE(answer.failed) << answer.error;
  EXPECT_EQ(answer.value.find("list").size(), 10001u);
}

TEST_F(InvokeTest, DeepDottedNamesAndManyPiecesStayCheap) {
  std::string url = "/t/v1/query?any";
  for (int i = 0; i < 100000; ++i) url += ".k";
  url += "=leaf";
  for (int i = 0; i < 20000; ++i) url += "&list." + std::to_string(i % 100) + "=v";
  const Answer answer = Get("GetTV1Query", url);
  EXPECT_FALSE(answer.failed) << answer.error;
  EXPECT_EQ(answer.value.find("list").size(), 100u);
}

// A few bytes of dotted name can ask for thousands of values; one call's
// names together get a budget of values in proportion to the call's size.
TEST_F(InvokeTest, DottedNamesThatWouldCreateTooManyValuesAreRefused) {
  std::string manyLists = "/t/v1/query?";
  for (int i = 0; manyLists.size() < 5500; ++i)
    manyLists += "any.k" + std::to_string(i) + ".10000=&";
  std::string deepList = "/t/v1/query?list";
  for (int i = 0; i < 800; ++i) deepList += ".9999";
  deepList += "=x";
  for (const std::string& url : {manyLists, deepList}) {
    SCOPED_TRACE(url.substr(0, 40));
    const std::string key = url.substr(12, url.find('.') - 12);
    const Answer answer = Get("GetTV1Query", url);
    EXPECT_EQ(answer.error, "Argument '" + key +
                                "' for 'GetTV1Query' would exceed the call's limit of " +
                                std::to_string(kBaseValueBudget + url.size()) + " created values.");
    EXPECT_EQ(answer.status, 400);
  }
}

TEST_F(InvokeTest, HeadersAndCallArgumentsBindByName) {
  Call call;
  call.url = "/t/v1/query";
  call.headers = {{"token", "first"}, {"user-agent", "ignored"}, {"token", "second"}};
  HostValue text{};
  text.tag = HOST_VALUE_TEXT;
  text.payload.text.data = "from array";
  text.payload.text.length = 10;
  call.arguments = {{"a", text}, {nullptr, HostValue{}}};
  const Answer answer = Run("GetTV1Query", call);
  EXPECT_FALSE(answer.failed) << answer.error;
  EXPECT_EQ(answer.value.find("token"), BindingProperty("second"));
  EXPECT_EQ(answer.value.find("a"), BindingProperty("from array"));

  call.arguments = {{"nope", text}};
  EXPECT_EQ(Run("GetTV1Query", call).error, "Unknown argument 'nope' for 'GetTV1Query'.");
  call.arguments.assign(7, HostArgument{nullptr, HostValue{}});
  EXPECT_EQ(Run("GetTV1Query", call).error, "Unknown argument '6' for 'GetTV1Query'.");
}

TEST_F(InvokeTest, BodiesAreDecodedByContentTypePrefix) {
  const char* json = R"({"name":"n1","count":1})";
  const std::string msgpack =
      "\x82\xa4name\xa2n1\xa5"
      "count\x01";
  const std::pair<const char*, std::string> cases[] = {
      {"application/json", json},         {"application/json; charset=utf-8", json},
      {"APPLICATION/JSON", json},         {"application/vnd.api+json", json},
      {"application/x-msgpack", msgpack}, {"application/x-yaml", "name: n1\ncount: 1\n"},
  };
  for (const auto& [type, body] : cases) {
    SCOPED_TRACE(type);
    const Answer answer = PostBody(type, body);
    EXPECT_FALSE(answer.failed) << answer.error;
    EXPECT_EQ(Text(answer.value), Json(R"({"name":"n1","count":3})"));
  }
}

TEST_F(InvokeTest, BodiesThatCannotBeDecodedFail) {
  const std::string msgpack = std::string("\x81\xa4name\xa1n", 8);
  const std::tuple<const char*, std::string, std::string> cases[] = {
      {"application/x-msgpack", msgpack + "\x01", "Extra MessgePack data found in body"},
      {"text/plain", "{}", "Unsupported body content type"},
      {nullptr, "{}", "Unsupported body content type"},
      {"application/json", "{",
       "Couldn't deserialize JSON value for parameter 'item' of "
       "'PostTV1ItemsById': Error: "},
      {"application/x-msgpack", "\xc1",
       "Couldn't deserialize MessagePack value for parameter "
       "'item' of 'PostTV1ItemsById': "},
      {"application/json", R"({"name":5})", "Couldn't assign value to 'name'"},
  };
  for (const auto& [type, body, message] : cases) {
    SCOPED_TRACE(body);
    const Answer answer = PostBody(type, body);
    EXPECT_EQ(answer.error.substr(0, message.size()), message) << answer.error;
    EXPECT_EQ(answer.status, 400);
  }
}

TEST_F(InvokeTest, MalformedCallRecordsFailInsteadOfBeingRead) {
  CallRecord nullUrl{};
  nullUrl.method = HOST_METHOD_GET;
  EXPECT_EQ(Run("GetTV1Query", nullUrl).error, "Invalid function");

  CallRecord headers{};
  headers.method = HOST_METHOD_GET;
  headers.url = "/t/v1/query";
  headers.headerCount = 0xFFFFFFFFu;
  const HostHeaderPair incomplete[] = {{"token", nullptr}};
  const HostHeaderPair unnamed[] = {{nullptr, "x"}};
  CallRecord incompleteHeader = headers;
  incompleteHeader.headers = incomplete;
  incompleteHeader.headerCount = 1;
  CallRecord unnamedHeader = incompleteHeader;
  unnamedHeader.headers = unnamed;
  CallRecord arguments = headers;
  arguments.headerCount = 0;
  arguments.argumentCount = 0xFFFFFFFFu;
  CallRecord body{};
  body.method = HOST_METHOD_POST;
  body.url = "/t/v1/items/1";
  body.contentType = "application/json";
  body.bodySize = 0xFFFFFFFFu;
  struct Case {
    const char* function;
    CallRecord record;
    const char* error;
  };
  const Case cases[] = {
      {"GetTV1Query", headers, "The call has 4294967295 headers but no header pairs"},
      {"GetTV1Query", incompleteHeader, "Header 0 of the call has no name or no value"},
      {"GetTV1Query", unnamedHeader, "Header 0 of the call has no name or no value"},
      {"GetTV1Query", arguments, "The call has 4294967295 arguments but no argument array"},
      {"PostTV1ItemsById", body, "The call has a body of 4294967295 bytes but no body pointer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    const Answer answer = Run(c.function, c.record);
    EXPECT_EQ(answer.error, c.error);
    EXPECT_EQ(answer.status, 400);
  }

  CallResult result;
  std::memset(&result, 0, sizeof result);
  Invoke(&result, nullptr);
  const char* invalid = result.error;
  EXPECT_STREQ(invalid, "Invalid function");
  result.release(&result);
}

TEST_F(InvokeTest, ACallWithoutAResultRecordRunsNothing) {
  CallRecord record{};
  record.method = HOST_METHOD_POST;
  record.url = "/t/v1/nothing";
  const FunctionRecord& target = Record("PostTV1Nothing");
  std::memcpy(&record.context,
              reinterpret_cast<const char*>(&target) + offsetof(FunctionRecord, context),
              sizeof record.context);
  // With nowhere to put the answer the handler must not run: its effects
  // could not be reported.
  Invoke(nullptr, &record);
  EXPECT_EQ(module->nothingCalls, 0);
  CallResult result;
  std::memset(&result, 0, sizeof result);
  Invoke(&result, &record);
  EXPECT_EQ(module->nothingCalls, 1);
  result.release(&result);
}

// Runs `work` on a thread whose stack is `stackSize` bytes.
void OnThreadWithStack(size_t stackSize, const std::function<void()>& work) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, stackSize), 0);
  pthread_t thread;
  auto run = [](void* argument) -> void* {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&work)),
            0);
  pthread_attr_destroy(&attributes);
  pthread_join(thread, nullptr);
}

TEST_F(InvokeTest, AMegabytePathIsServedOnASmallStack) {
  const std::string rest = std::string(1 << 20, 'a') + "/b";
  Answer answer;
  OnThreadWithStack(256 * 1024, [&] { answer = Get("GetTV1FilesByPath", "/t/v1/files/" + rest); });
  EXPECT_FALSE(answer.failed) << answer.error;
  EXPECT_EQ(answer.value, BindingProperty(rest));
}

// Allocator hooks over the C library that refuse blocks of one size.
struct RefusingAllocator {
  static inline size_t refusedSize = 0;

  static void Install(size_t size) {
    refusedSize = size;
    SetAllocatorHooks(AllocatorHooks{
        [](size_t n, void*) { return n == refusedSize ? nullptr : std::malloc(n); },
        [](void* block, void*) { std::free(block); },
        [](void* block, size_t n, void*) { return std::realloc(block, n); },
        [](const char* text, void*) { return strdup(text); },
        [](void* block, void*) { return block ? malloc_usable_size(block) : size_t{0}; }, nullptr});
  }
};

TEST_F(InvokeTest, AResultThatCannotBeEncodedIsABadRequest) {
  // The encoded text is a copy of the result with its terminating zero.
  RefusingAllocator::Install(EndpointModule::kLongTextSize + 1);
  const Answer answer = Get("GetTV1Long", "/t/v1/long");
  RefusingAllocator::Install(0);
  EXPECT_EQ(answer.error, "HostValue: out of memory");
  EXPECT_EQ(answer.status, 400);
}

TEST_F(InvokeTest, NoExceptionLeavesInvoke) {
  const Answer answer = Get("GetTV1Throw", "/t/v1/throw");
  EXPECT_EQ(answer.error, "boom");
  EXPECT_EQ(answer.status, 500);
}

TEST_F(InvokeTest, AStreamIsHandedOverWithTheResponseFields) {
  CallRecord record{};
  record.method = HOST_METHOD_GET;
  record.url = "/t/v1/stream";
  const FunctionRecord& target = Record("GetTV1Stream");
  std::memcpy(&record.context,
              reinterpret_cast<const char*>(&target) + offsetof(FunctionRecord, context),
              sizeof record.context);
  CallResult result;
  std::memset(&result, 0, sizeof result);
  Invoke(&result, &record);
  // Members of the packed record are copied before they are compared.
  const char* error = result.error;
  const int32_t status = result.status;
  const uint32_t headerCount = result.responseHeaderCount;
  const uint32_t streamSize = result.streamSize;
  const HostStreamReadFunction read = result.streamRead;
  ASSERT_EQ(error, nullptr);
  EXPECT_EQ(status, 206);
  EXPECT_STREQ(result.responseText, "partial");
  ASSERT_EQ(headerCount, 2u);
  EXPECT_STREQ(result.responseHeaders[1].name, "x-b");
  EXPECT_STREQ(result.responseHeaders[1].value, "2");
  EXPECT_EQ(streamSize, 13u);
  ASSERT_NE(read, nullptr);

  std::string body;
  uint8_t more = 1;
  while (more != 0) {
    char buffer[5];
    uint32_t size = sizeof buffer;
    ASSERT_EQ(read(result.streamHandle, buffer, &size, &more), 1);
    body.append(buffer, size);
  }
  EXPECT_EQ(body, "streamed body");
  const HostStreamCloseFunction close = result.streamClose;
  void* handle = result.streamHandle;
  result.release(&result);
  // The release leaves the stream to the host, which closes it once it is read.
  EXPECT_FALSE(module->streamClosed);
  close(handle);
  EXPECT_TRUE(module->streamClosed);
}

}  // namespace
}  // namespace Zorv::Client
