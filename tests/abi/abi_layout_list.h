// The sizes and offsets of the boundary records, as one list that a C and a C++ translation unit
// both evaluate, so the test can prove that both languages lay the records out alike.
#ifndef PEX_TESTS_ABI_ABI_LAYOUT_LIST_H
#define PEX_TESTS_ABI_ABI_LAYOUT_LIST_H

#include "zorv/plugin_abi.h"

#define ABI_LAYOUT_LIST(X)                   \
  X(sizeof(HostValue))                       \
  X(offsetof(HostValue, payload))            \
  X(sizeof(HostMapEntry))                    \
  X(offsetof(HostMapEntry, keyOwned))        \
  X(sizeof(HostArgument))                    \
  X(sizeof(CallRecord))                      \
  X(offsetof(CallRecord, hostHandle))        \
  X(offsetof(CallRecord, customMethod))      \
  X(sizeof(CallResult))                      \
  X(offsetof(CallResult, status))            \
  X(offsetof(CallResult, streamHandle))      \
  X(offsetof(CallResult, release))           \
  X(sizeof(HostRequestRecord))               \
  X(offsetof(HostRequestRecord, optionFlag)) \
  X(sizeof(HostResponseRecord))              \
  X(sizeof(EventRecord))                     \
  X(sizeof(IncomingEventRecord))             \
  X(offsetof(IncomingEventRecord, context))  \
  X(sizeof(HostFunctions))                   \
  X(sizeof(HostApi))                         \
  X(sizeof(PluginCallbacks))                 \
  X(sizeof(PluginRegistration))              \
  X(sizeof(FunctionRecord))                  \
  X(offsetof(FunctionRecord, invoke))        \
  X(sizeof(TypeRecord))                      \
  X(sizeof(EventDescriptionRecord))          \
  X(sizeof(ApiDescription))

#define ABI_LAYOUT_VALUE(expression) (expression),
#define ABI_LAYOUT_TEXT(expression) #expression,

#ifdef __cplusplus
extern "C" {
#endif
// Evaluated by the C compiler; ABI_LAYOUT_LIST order.
extern const size_t kAbiLayoutFromC[];
extern const size_t kAbiLayoutFromCCount;
#ifdef __cplusplus
}
#endif

#endif  // PEX_TESTS_ABI_ABI_LAYOUT_LIST_H
