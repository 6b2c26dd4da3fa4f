#include "framework/serviceproxy/service_proxy_tables.h"

#include <utility>

namespace Zorv::Client {

bool ServiceProxyTables::AddPending(const std::string& identifier,
                                    ServiceProxyEventHandler&& completion) {
  if (!pending_.try_emplace(identifier, std::move(completion)).second) return false;
  const auto arrived = answers_.find(identifier);
  if (arrived != answers_.end()) {
    unclaimed_.erase(arrived->second.sequence);
    claimed_.emplace(arrived->second.sequence, identifier);
  }
  return true;
}

std::optional<std::string> ServiceProxyTables::AddAnswer(const std::string& identifier,
                                                         PluginServiceProxyResponse answer) {
  auto& order = pending_.contains(identifier) ? claimed_ : unclaimed_;
  const auto [arrived, added] = answers_.try_emplace(identifier);
  if (!added) order.erase(arrived->second.sequence);
  arrived->second = Arrived{std::move(answer), nextSequence_++};
  order.emplace(arrived->second.sequence, identifier);

  if (unclaimed_.size() <= kMaxUnclaimedAnswers) return std::nullopt;
  auto oldest = unclaimed_.begin();
  std::string dropped = std::move(oldest->second);
  unclaimed_.erase(oldest);
  answers_.erase(dropped);
  return dropped;
}

std::optional<ServiceProxyTables::Match> ServiceProxyTables::TakeMatch() {
  if (claimed_.empty()) return std::nullopt;
  const auto oldest = claimed_.begin();
  Match match;
  match.identifier = std::move(oldest->second);
  claimed_.erase(oldest);
  const auto arrived = answers_.find(match.identifier);
  match.answer = std::move(arrived->second.answer);
  answers_.erase(arrived);
  const auto pending = pending_.find(match.identifier);
  match.completion = std::move(pending->second);
  pending_.erase(pending);
  return match;
}

void ServiceProxyTables::Clear() {
  pending_.clear();
  answers_.clear();
  claimed_.clear();
  unclaimed_.clear();
}

}  // namespace Zorv::Client
