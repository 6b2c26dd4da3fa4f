#include "host/route_table.h"

#include "host/module_api.h"

namespace Zorv::Host {

RouteTable::Fingerprint RouteTable::Print(const ApiDescription& description, uint32_t index) {
  const FunctionRecord record = LoadFunctionRecord(description, index);
  return Fingerprint{record.method, record.pathTemplate, record.customMethod,
                     reinterpret_cast<const void*>(record.invoke)};
}

RouteTable::RouteTable(const ApiDescription* description) : description_(description) {
  if (!description) return;
  functions_ = description->functions;
  for (uint32_t i = 0; functions_ && i < description->functionCount; ++i) {
    fingerprints_.push_back(Print(*description, i));
  }
  routes_.reserve(fingerprints_.size());
  for (uint32_t i = 0; i < fingerprints_.size(); ++i) {
    const FunctionRecord record = LoadFunctionRecord(*description, i);
    if (!record.pathTemplate || !record.invoke) continue;
    routes_.push_back(Client::Route{record.method, record.customMethod ? record.customMethod : "",
                                    0, Client::PathMatcher(record.pathTemplate)});
    records_.push_back(i);
  }
  for (const Client::Route& route : routes_) candidates_.push_back(&route);
}

int RouteTable::Find(uint32_t method, const std::string& customMethod,
                     const std::string& path) const {
  const std::optional<Client::RouteMatch> match =
      Client::SelectRoute(candidates_, method, customMethod, path);
  return match ? static_cast<int>(records_[match->index]) : -1;
}

bool RouteTable::BuiltFrom(const ApiDescription* description) const {
  if (description != description_) return false;
  if (!description) return true;
  const uint32_t count = description->functions ? description->functionCount : 0;
  if (description->functions != functions_ || count != fingerprints_.size()) return false;
  for (uint32_t i = 0; i < count; ++i) {
    if (!(Print(*description, i) == fingerprints_[i])) return false;
  }
  return true;
}

}  // namespace Zorv::Host
