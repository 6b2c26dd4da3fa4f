/*
 * The hooks of the end-to-end test plug-in: plain C functions that a test finds
 * with dlsym and calls on the host thread to make the plug-in's module act
 * through the framework, as a real plug-in would.
 */
#ifndef ZORV_E2E_TEST_PLUGIN_HOOKS_H
#define ZORV_E2E_TEST_PLUGIN_HOOKS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What a framework operation answered: on success the result as compact JSON,
 * on failure the failure's message and code. */
typedef struct E2eReport {
  int32_t ok;
  int32_t code;
  char text[16384];
} E2eReport;

/* Call(method, url) with one argument read from argumentJson, or none when it
 * is null. */
typedef void (*E2eCallHook)(uint32_t method, const char* url, const char* argumentJson,
                            E2eReport* report);
/* Call(method, url) with one argument of a structure type that is not registered. */
typedef void (*E2eCallUnregisteredHook)(uint32_t method, const char* url, E2eReport* report);
/* SendHttpRequest(method, url) with the body (none when null): code is the
 * response's result code; text is the status, a blank and the body on
 * success, else the error text. */
typedef void (*E2eSendRequestHook)(uint32_t method, const char* url, const char* body,
                                   E2eReport* report);
/* The telemetry sender's Send with fields read from fieldsJson. */
typedef void (*E2eSendTelemetryHook)(const char* eventName, const char* fieldsJson,
                                     E2eReport* report);
/* Logs message at level (categories GEN) through the process logger. */
typedef void (*E2eLogHook)(int32_t level, const char* message);
/* ScheduleCallback(name, ...) due delayMilliseconds from now (negative: in the
 * past); answers the timer id. */
typedef uint64_t (*E2eScheduleHook)(const char* name, int64_t delayMilliseconds);
/* How many scheduled callbacks have run. */
typedef uint32_t (*E2eTimerRunsHook)(void);
/* Awaits a future that E2eCompleteHook fulfils; answers its value. */
typedef int64_t (*E2eAwaitHook)(void);
typedef void (*E2eCompleteHook)(int64_t value);
/* Observe<BindingProperty>(url): each event the observer gets is kept as one
 * line "<observed url> <event uri> <event type number> <data as JSON>". */
typedef void (*E2eObserveHook)(const char* url);
/* Unsubscribe(url). */
typedef void (*E2eUnobserveHook)(const char* url);
/* The kept observer lines, each ended by '\n', in order; forgets them. */
typedef void (*E2eTakeObservedHook)(E2eReport* report);
/* PublishProperty(url, value read from valueJson, eventType). */
typedef void (*E2ePublishHook)(const char* url, const char* valueJson, uint32_t eventType,
                               E2eReport* report);
/* The failure message of the service-proxy request that the module starts
 * while it is destroyed at Shutdown; stays readable after Shutdown. */
typedef const char* (*E2eShutdownProxyAnswerHook)(void);

#ifdef __cplusplus
}
#endif

#endif
