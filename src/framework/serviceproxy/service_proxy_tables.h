// ServiceProxyTables: the pending service-proxy requests and the answers that
// arrived for them, matched by identifier (a uuid, or "service.method" for
// the method-based form).
//
//   ServiceProxyTables tables;
//   tables.AddAnswer("uuid-1", answer);         // early: waits for its request
//   tables.AddPending("uuid-1", completion);    // now the answer is claimed
//   std::optional<ServiceProxyTables::Match> match = tables.TakeMatch();
//
// Promises:
// - Answers keep their arrival order; an answer under an identifier that is
//   already there replaces it and counts as the newest arrival.
// - TakeMatch hands out the oldest arrived answer whose identifier has a
//   pending request, removing both; finding it costs no walk over the answers.
// - At most kMaxUnclaimedAnswers answers wait without a pending request: one
//   more drops the oldest of them, and AddAnswer names it. An answer that a
//   pending request claims is never dropped (its request would never end).
// - One pending request per identifier: a second one is refused.
// Not thread-safe: AppModule guards the tables with its proxy mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

#include "framework/events/resource_event.h"
#include "framework/module/framework_types.h"

namespace Zorv::Client {

class ServiceProxyTables {
 public:
  // Answers that nobody asked for (a host's stray or repeated answers) must
  // not grow the module for ever; a real early answer waits only until its
  // request call returns, so a thousand is far beyond any legitimate backlog.
  static constexpr size_t kMaxUnclaimedAnswers = 1000;

  struct Match {
    std::string identifier;
    ServiceProxyEventHandler completion;
    PluginServiceProxyResponse answer;
  };

  bool IsPending(const std::string& identifier) const { return pending_.contains(identifier); }
  // Stores the request's completion; false (and `completion` left untouched)
  // when a request with this identifier is already pending.
  bool AddPending(const std::string& identifier, ServiceProxyEventHandler&& completion);
  // Stores the answer as the newest; returns the identifier of the unclaimed
  // answer dropped to stay within the bound, if one was.
  std::optional<std::string> AddAnswer(const std::string& identifier,
                                       PluginServiceProxyResponse answer);
  // The oldest claimed answer with its request, both removed; none when no
  // arrived answer has a pending request.
  std::optional<Match> TakeMatch();
  // Forgets everything without completing anything.
  void Clear();

  size_t pendingCount() const { return pending_.size(); }
  size_t answerCount() const { return answers_.size(); }
  bool HasAnswer(const std::string& identifier) const { return answers_.contains(identifier); }

 private:
  struct Arrived {
    PluginServiceProxyResponse answer;
    uint64_t sequence = 0;
  };

  std::unordered_map<std::string, ServiceProxyEventHandler> pending_{8};
  std::unordered_map<std::string, Arrived> answers_{8};
  // Arrival sequence to identifier, oldest first: answers with and without a
  // pending request. An answer is in exactly one of the two.
  std::map<uint64_t, std::string> claimed_;
  std::map<uint64_t, std::string> unclaimed_;
  uint64_t nextSequence_ = 0;
};

}  // namespace Zorv::Client
