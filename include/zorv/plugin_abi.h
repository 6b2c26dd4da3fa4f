/*
 * plugin_abi.h: the plain-C records and function tables that cross the boundary between the host
 * application and a plug-in. Host and plug-in share this header and nothing else by source.
 *
 * Rules of the boundary:
 * - Layout. The records are laid out for a 32-bit target first: the static asserts at the end of
 *   this file pin every size and offset of a 32-bit build. On 64-bit the same declarations give
 *   wider records (real pointers); both sides of one process always use the same build. Only
 *   CallResult, HostMapEntry and FunctionRecord are packed; everything else has natural alignment.
 *   Members of packed records may be misaligned: copy them (memcpy) instead of taking their
 *   address.
 * - Ownership. Whoever allocates a record or a text frees it. Texts and arrays that a caller passes
 *   in live until the call returns. Records that the callee fills for the caller (CallResult) are
 *   released by the caller, exactly once, through the release function stored inside them; a null
 *   release function means there is nothing to free. A HostValue owns its payload only for the
 *   owned tags (text and bytes owned, arrays and maps); map keys are owned when the entry says so.
 *   Everything a plug-in hands out at registration (callbacks, short name, API description) lives
 *   until Shutdown returns.
 * - Threading. The host calls every plug-in callback on one host thread, one at a time. Calls into
 *   HostFunctions are made from that thread; YieldToHost runs pending host work (including
 *   nested callbacks into the plug-in) before it returns.
 * - Errors. No exception crosses the boundary, in either direction. A failed call answers with the
 *   failure form of its record: an error text in CallResult, a result code in HostResponseRecord,
 *   a zero byte from Initialize or from a stream read.
 * - Evolution. New entries and new fields only ever go at the end of a table or record; existing
 *   entries keep their order, meaning and width.
 */
#ifndef ZORV_PLUGIN_ABI_H
#define ZORV_PLUGIN_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define ZORV_ABI_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define ZORV_ABI_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The plug-in API version that this header describes. */
#define ZORV_PLUGIN_API_MAJOR 18u
#define ZORV_PLUGIN_API_MINOR 0u
#define ZORV_PLUGIN_API_PATCH 0u

struct PluginCallbacks;
struct HostApi;
struct HostFunctions;
struct HostValue;
struct HostMapEntry;
struct CallRecord;
struct CallResult;
struct HostRequestRecord;
struct HostResponseRecord;
struct EventRecord;
struct IncomingEventRecord;
struct ApiDescription;
struct FunctionRecord;
struct TypeRecord;
struct EventDescriptionRecord;

/* ---- Values -------------------------------------------------------------------------------- */

/* HTTP method codes; any other number travels as 0 (no method). */
enum HostMethod {
  HOST_METHOD_NONE = 0,
  HOST_METHOD_DELETE = 1,
  HOST_METHOD_GET = 2,
  HOST_METHOD_HEAD = 3,
  HOST_METHOD_OPTIONS = 4,
  HOST_METHOD_PATCH = 5,
  HOST_METHOD_POST = 6,
  HOST_METHOD_PUT = 7,
  HOST_METHOD_CUSTOM = 8 /* the method text travels separately */
};

enum HostValueTag {
  HOST_VALUE_NULL = 0,
  HOST_VALUE_BOOL = 1,
  HOST_VALUE_INT64 = 2,
  HOST_VALUE_UINT64 = 3,
  HOST_VALUE_DOUBLE = 4,
  HOST_VALUE_TEXT = 5,       /* not owned */
  HOST_VALUE_OWNED_TEXT = 6, /* NUL-terminated copy; length excludes the NUL */
  HOST_VALUE_BYTES = 7,      /* not owned */
  HOST_VALUE_OWNED_BYTES = 8,
  HOST_VALUE_ARRAY = 9, /* owns its elements */
  HOST_VALUE_MAP = 10   /* owns its entries */
};

/* A dynamic value: a tag (HostValueTag) and eight payload bytes on 32-bit. */
typedef struct HostValue {
  uint32_t tag;
  union {
    uint8_t boolean;
    int64_t int64;   /* low word first */
    uint64_t uint64; /* low word first */
    double number;
    struct {
      const char* data;
      uint32_t length;
    } text;
    struct {
      const void* data;
      uint32_t size;
    } bytes;
    struct {
      struct HostValue* items;
      uint32_t count;
    } array;
    struct {
      struct HostMapEntry* entries;
      uint32_t count;
    } map;
  } payload;
} HostValue;

#pragma pack(push, 1)
/* One entry of a map value (packed). The key is freed with the map when keyOwned is not 0. */
typedef struct HostMapEntry {
  const char* key;
  HostValue value;
  uint8_t keyOwned;
} HostMapEntry;
#pragma pack(pop)

/* One argument of a call: a named argument, or a positional one when name is null. */
typedef struct HostArgument {
  const char* name;
  HostValue value;
} HostArgument;

typedef struct HostHeaderPair {
  const char* name;
  const char* value;
} HostHeaderPair;

/* ---- Calls --------------------------------------------------------------------------------- */

/* A call of an API function by method and URL. The plug-in sends it to the host (CallFunction)
 * with only method, url, arguments and hostHandle set; the host sends it to the plug-in (a
 * FunctionRecord's invoke) with every field that applies. */
typedef struct CallRecord {
  uint32_t method; /* HostMethod */
  const char* url; /* path, optionally followed by '?' and a query string */
  const HostArgument* arguments;
  uint32_t argumentCount;
  void* context; /* the invoked FunctionRecord's context */
  const HostHeaderPair* headers;
  uint32_t headerCount;
  const char* contentType; /* of the body */
  const void* body;        /* null when there is no body */
  uint32_t bodySize;
  uint32_t hostHandle;      /* plug-in to host: its host handle; host to plug-in: handler context */
  const char* customMethod; /* read only with HOST_METHOD_CUSTOM */
} CallRecord;

/* Reads up to *inOutSize bytes into buffer; on return *inOutSize holds the bytes written and
 * *outMore is not 0 while more data follows. Returns 0 on a read error. */
typedef uint8_t (*HostStreamReadFunction)(void* handle, void* buffer, uint32_t* inOutSize,
                                          uint8_t* outMore);
typedef void (*HostStreamCloseFunction)(void* handle);
typedef void (*CallResultReleaseFunction)(struct CallResult* result);

#pragma pack(push, 1)
/* The answer to a CallRecord, filled by the callee into a zero-filled record (packed). The caller
 * owns it afterwards and calls release (when not null) exactly once. A streamed result hands its
 * stream over: the caller reads it to the end and closes it. */
typedef struct CallResult {
  HostValue value;
  const char* error;  /* null on success */
  uint8_t reserved16; /* zero */
  uint8_t responseFlag;
  uint32_t responseKind; /* 1, 2 or 3; anything else counts as 0 */
  int32_t status;        /* HTTP-style status code */
  const char* responseText;
  const HostHeaderPair* responseHeaders;
  uint32_t responseHeaderCount;
  HostStreamReadFunction streamRead; /* null when the result is not streamed */
  HostStreamCloseFunction streamClose;
  uint32_t streamSize; /* expected length in bytes, a hint */
  uint32_t reserved50;
  void* streamHandle;
  CallResultReleaseFunction release;
} CallResult;
#pragma pack(pop)

/* An HTTP request that the host performs for the plug-in. */
typedef struct HostRequestRecord {
  uint32_t method; /* HostMethod */
  const char* url;
  const HostHeaderPair* headers;
  uint32_t headerCount;
  const void* body;
  uint32_t bodySize;
  uint32_t optionWord;
  uint32_t optionFlag;
} HostRequestRecord;

/* The host's answer to a HostRequestRecord; its memory stays the host's. */
typedef struct HostResponseRecord {
  int32_t resultCode; /* 0 success; otherwise body holds the error text */
  int32_t status;
  const HostHeaderPair* headers;
  uint32_t headerCount;
  const void* body;
  uint32_t bodySize;
} HostResponseRecord;

/* ---- Events -------------------------------------------------------------------------------- */

enum PluginResourceEventType {
  PLUGIN_RESOURCE_EVENT_CREATE = 0,
  PLUGIN_RESOURCE_EVENT_UPDATE = 1,
  PLUGIN_RESOURCE_EVENT_DELETE = 2
};

/* An event that the plug-in publishes (SendEvent). */
typedef struct EventRecord {
  const char* name;
  HostValue payload;
  uint32_t eventType; /* PluginResourceEventType */
  uint32_t reserved20;
} EventRecord;

/* An event that the host delivers to a subscription's callback. */
typedef struct IncomingEventRecord {
  const char* name;
  HostValue payload;
  uint32_t hostWord; /* the host's */
  void* context;     /* as given to SubscribeEvent */
} IncomingEventRecord;

typedef void (*HostEventCallback)(const IncomingEventRecord* event);
typedef void (*HostTimerCallback)(void* context);

/* ---- Host function table ------------------------------------------------------------------- */

/* The host's functions; every entry takes the table itself first. */
typedef struct HostFunctions {
  void (*CallFunction)(const struct HostFunctions* self, CallResult* result,
                       const CallRecord* call);
  void (*SendRequest)(const struct HostFunctions* self, const HostRequestRecord* request,
                      HostResponseRecord* response);
  void (*SendEvent)(const struct HostFunctions* self, const EventRecord* event);
  void (*SubscribeEvent)(const struct HostFunctions* self, const char* eventName,
                         uint32_t hostHandle, HostEventCallback callback, void* context,
                         uint32_t flag);
  void (*UnsubscribeEvent)(const struct HostFunctions* self, const char* eventName,
                           uint32_t hostHandle);
  void (*ScheduleCallback)(const struct HostFunctions* self, const char* name,
                           HostTimerCallback callback, void* context, double delaySeconds,
                           uint32_t zero);
  void (*YieldToHost)(const struct HostFunctions* self);
  void (*BeginWait)(const struct HostFunctions* self, const char* description, uint32_t zero);
  void (*EndWait)(const struct HostFunctions* self);
  void (*Log)(const struct HostFunctions* self, int32_t level, const char* message);
} HostFunctions;

/* Given to Initialize; owned by the host and valid until Shutdown returns. */
typedef struct HostApi {
  const HostFunctions* functions;
  uint32_t hostHandle; /* opaque; passed back on event subscriptions */
} HostApi;

/* ---- Registration -------------------------------------------------------------------------- */

#define ZORV_MEMORY_STATS_WORDS 14

/* The plug-in's callbacks; module is the context pointer of the registration record. */
typedef struct PluginCallbacks {
  uint8_t (*Initialize)(void* module, const HostApi* hostApi); /* not 0 on success */
  void (*Shutdown)(void* module);
  void (*GetMemoryStats)(void* module, uint32_t out[ZORV_MEMORY_STATS_WORDS]);
} PluginCallbacks;

/* Filled by the host with its API version, overwritten by the plug-in's answer. */
typedef struct PluginRegistration {
  uint32_t major; /* in: host version; out: plug-in version */
  uint32_t minor;
  uint32_t patch;
  const PluginCallbacks* callbacks;
  void* module;
  const char* shortName;
  const struct ApiDescription* apiDescription;
} PluginRegistration;

/* The exported entry function of a plug-in library. */
typedef void (*PluginEntryFunction)(PluginRegistration* registration);

/* ---- API description ----------------------------------------------------------------------- */

/* Where an argument of a function may come from. */
enum ArgumentLocation {
  ARGUMENT_LOCATION_ANY = 0,
  ARGUMENT_LOCATION_QUERY = 1,
  ARGUMENT_LOCATION_PATH = 2,
  ARGUMENT_LOCATION_HEADER = 4,
  ARGUMENT_LOCATION_BODY = 5
};

typedef struct FunctionArgumentRecord {
  const char* name;
  const char* typeName;
  uint32_t location; /* ArgumentLocation */
  const char* description;
} FunctionArgumentRecord;

typedef void (*FunctionInvokeFunction)(CallResult* result, const CallRecord* call);

#pragma pack(push, 1)
/* One function of the plug-in (packed). The host calls invoke with a zero-filled CallResult and
 * a CallRecord whose context is this record's context. */
typedef struct FunctionRecord {
  uint32_t method;          /* HostMethod; 0 accepts any method */
  const char* pathTemplate; /* for example "/a/{id}" */
  void* context;
  const char* name;
  const char* customMethod; /* with HOST_METHOD_CUSTOM */
  const char* description;
  const char* resultTypeName;
  const char* namespaceName;
  const char* const* tags;
  uint32_t tagCount;
  const FunctionArgumentRecord* arguments;
  uint32_t argumentCount;
  uint8_t reserved48[13]; /* zero */
  FunctionInvokeFunction invoke;
  uint8_t reserved65[25]; /* zero */
} FunctionRecord;
#pragma pack(pop)

typedef struct TypeFieldRecord {
  const char* name;
  const char* description;
  uint32_t kind;        /* type kind number of the registry */
  uint32_t elementKind; /* of vector and map elements, else 0 */
  const char* typeName; /* named enum or struct type, else null */
  uint32_t flags;       /* 2: required */
} TypeFieldRecord;

typedef struct TypeEnumeratorRecord {
  const char* name;
  int32_t value;
  const char* description;
} TypeEnumeratorRecord;

/* One registered enum or struct type. */
typedef struct TypeRecord {
  const char* name;
  const char* description;
  const char* namespaceName;
  const char* const* tags;
  uint32_t tagCount;
  const TypeFieldRecord* fields; /* structs */
  uint32_t fieldCount;
  const TypeEnumeratorRecord* enumerators; /* enums */
  uint32_t enumeratorCount;
  uint32_t isEnum;
} TypeRecord;

/* One event the plug-in publishes; the records also form a list through next. */
typedef struct EventDescriptionRecord {
  const struct EventDescriptionRecord* next; /* null in the last record */
  const char* name;
  const char* description;
  const char* payloadTypeName;
  const char* namespaceName;
  const char* const* tags;
  uint32_t tagCount;
} EventDescriptionRecord;

/* Everything the plug-in serves, described for the host; lives as long as the module. */
typedef struct ApiDescription {
  const FunctionRecord* functions;
  uint32_t functionCount;
  const TypeRecord* types;
  uint32_t typeCount;
  const EventDescriptionRecord* events;
  uint32_t eventCount;
} ApiDescription;

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- 32-bit layout ------------------------------------------------------------------------- */

/* Holds on every build, checks on a 32-bit one. */
#define ZORV_ABI_CHECK_32(condition) \
  ZORV_ABI_STATIC_ASSERT(sizeof(void*) != 4 || (condition), #condition)
#define ZORV_ABI_SIZE_32(type, size) ZORV_ABI_CHECK_32(sizeof(type) == (size))
#define ZORV_ABI_OFFSET_32(type, field, offset) ZORV_ABI_CHECK_32(offsetof(type, field) == (offset))

ZORV_ABI_SIZE_32(HostValue, 12);
ZORV_ABI_OFFSET_32(HostValue, payload, 4);
ZORV_ABI_OFFSET_32(HostValue, payload.text.length, 8);
ZORV_ABI_SIZE_32(HostMapEntry, 17);
ZORV_ABI_OFFSET_32(HostMapEntry, value, 4);
ZORV_ABI_OFFSET_32(HostMapEntry, keyOwned, 16);
ZORV_ABI_SIZE_32(HostArgument, 16);
ZORV_ABI_OFFSET_32(HostArgument, value, 4);
ZORV_ABI_SIZE_32(HostHeaderPair, 8);

ZORV_ABI_SIZE_32(CallRecord, 48);
ZORV_ABI_OFFSET_32(CallRecord, url, 4);
ZORV_ABI_OFFSET_32(CallRecord, arguments, 8);
ZORV_ABI_OFFSET_32(CallRecord, argumentCount, 12);
ZORV_ABI_OFFSET_32(CallRecord, context, 16);
ZORV_ABI_OFFSET_32(CallRecord, headers, 20);
ZORV_ABI_OFFSET_32(CallRecord, headerCount, 24);
ZORV_ABI_OFFSET_32(CallRecord, contentType, 28);
ZORV_ABI_OFFSET_32(CallRecord, body, 32);
ZORV_ABI_OFFSET_32(CallRecord, bodySize, 36);
ZORV_ABI_OFFSET_32(CallRecord, hostHandle, 40);
ZORV_ABI_OFFSET_32(CallRecord, customMethod, 44);

ZORV_ABI_SIZE_32(CallResult, 62);
ZORV_ABI_OFFSET_32(CallResult, error, 12);
ZORV_ABI_OFFSET_32(CallResult, reserved16, 16);
ZORV_ABI_OFFSET_32(CallResult, responseFlag, 17);
ZORV_ABI_OFFSET_32(CallResult, responseKind, 18);
ZORV_ABI_OFFSET_32(CallResult, status, 22);
ZORV_ABI_OFFSET_32(CallResult, responseText, 26);
ZORV_ABI_OFFSET_32(CallResult, responseHeaders, 30);
ZORV_ABI_OFFSET_32(CallResult, responseHeaderCount, 34);
ZORV_ABI_OFFSET_32(CallResult, streamRead, 38);
ZORV_ABI_OFFSET_32(CallResult, streamClose, 42);
ZORV_ABI_OFFSET_32(CallResult, streamSize, 46);
ZORV_ABI_OFFSET_32(CallResult, reserved50, 50);
ZORV_ABI_OFFSET_32(CallResult, streamHandle, 54);
ZORV_ABI_OFFSET_32(CallResult, release, 58);

ZORV_ABI_SIZE_32(HostRequestRecord, 32);
ZORV_ABI_OFFSET_32(HostRequestRecord, url, 4);
ZORV_ABI_OFFSET_32(HostRequestRecord, headers, 8);
ZORV_ABI_OFFSET_32(HostRequestRecord, headerCount, 12);
ZORV_ABI_OFFSET_32(HostRequestRecord, body, 16);
ZORV_ABI_OFFSET_32(HostRequestRecord, bodySize, 20);
ZORV_ABI_OFFSET_32(HostRequestRecord, optionWord, 24);
ZORV_ABI_OFFSET_32(HostRequestRecord, optionFlag, 28);
ZORV_ABI_SIZE_32(HostResponseRecord, 24);
ZORV_ABI_OFFSET_32(HostResponseRecord, status, 4);
ZORV_ABI_OFFSET_32(HostResponseRecord, headers, 8);
ZORV_ABI_OFFSET_32(HostResponseRecord, headerCount, 12);
ZORV_ABI_OFFSET_32(HostResponseRecord, body, 16);
ZORV_ABI_OFFSET_32(HostResponseRecord, bodySize, 20);

ZORV_ABI_SIZE_32(EventRecord, 24);
ZORV_ABI_OFFSET_32(EventRecord, payload, 4);
ZORV_ABI_OFFSET_32(EventRecord, eventType, 16);
ZORV_ABI_OFFSET_32(EventRecord, reserved20, 20);
ZORV_ABI_SIZE_32(IncomingEventRecord, 24);
ZORV_ABI_OFFSET_32(IncomingEventRecord, payload, 4);
ZORV_ABI_OFFSET_32(IncomingEventRecord, hostWord, 16);
ZORV_ABI_OFFSET_32(IncomingEventRecord, context, 20);

ZORV_ABI_SIZE_32(HostFunctions, 40);
ZORV_ABI_OFFSET_32(HostFunctions, CallFunction, 0);
ZORV_ABI_OFFSET_32(HostFunctions, SendRequest, 4);
ZORV_ABI_OFFSET_32(HostFunctions, SendEvent, 8);
ZORV_ABI_OFFSET_32(HostFunctions, SubscribeEvent, 12);
ZORV_ABI_OFFSET_32(HostFunctions, UnsubscribeEvent, 16);
ZORV_ABI_OFFSET_32(HostFunctions, ScheduleCallback, 20);
ZORV_ABI_OFFSET_32(HostFunctions, YieldToHost, 24);
ZORV_ABI_OFFSET_32(HostFunctions, BeginWait, 28);
ZORV_ABI_OFFSET_32(HostFunctions, EndWait, 32);
ZORV_ABI_OFFSET_32(HostFunctions, Log, 36);
ZORV_ABI_SIZE_32(HostApi, 8);
ZORV_ABI_OFFSET_32(HostApi, hostHandle, 4);

ZORV_ABI_SIZE_32(PluginCallbacks, 12);
ZORV_ABI_OFFSET_32(PluginCallbacks, Shutdown, 4);
ZORV_ABI_OFFSET_32(PluginCallbacks, GetMemoryStats, 8);
ZORV_ABI_SIZE_32(PluginRegistration, 28);
ZORV_ABI_OFFSET_32(PluginRegistration, callbacks, 12);
ZORV_ABI_OFFSET_32(PluginRegistration, module, 16);
ZORV_ABI_OFFSET_32(PluginRegistration, shortName, 20);
ZORV_ABI_OFFSET_32(PluginRegistration, apiDescription, 24);

ZORV_ABI_SIZE_32(FunctionRecord, 90);
ZORV_ABI_OFFSET_32(FunctionRecord, context, 8);
ZORV_ABI_OFFSET_32(FunctionRecord, name, 12);
ZORV_ABI_OFFSET_32(FunctionRecord, invoke, 61);
ZORV_ABI_SIZE_32(TypeRecord, 40);
ZORV_ABI_SIZE_32(EventDescriptionRecord, 28);
ZORV_ABI_OFFSET_32(EventDescriptionRecord, tagCount, 24);
ZORV_ABI_SIZE_32(ApiDescription, 24);
ZORV_ABI_OFFSET_32(ApiDescription, types, 8);
ZORV_ABI_OFFSET_32(ApiDescription, events, 16);
ZORV_ABI_OFFSET_32(ApiDescription, eventCount, 20);

#endif /* ZORV_PLUGIN_ABI_H */
