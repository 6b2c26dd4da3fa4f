// RouteTable: the path matchers of one ApiDescription's function records,
// compiled once so that routing an endpoint call compiles nothing.
//
// Matching is FindFunction's (endpoint_call.h): the same records take part
// (those with a path template and an invoke function), in the same order.
// A table remembers what it was built from (the description, its function
// array, and each record's method and texts), so a host can tell when the
// plug-in has changed its description and build a new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/endpoints/path_template.h"
#include "zorv/plugin_abi.h"

namespace Zorv::Host {

class RouteTable {
 public:
  // An empty table: no function serves any call.
  RouteTable() = default;
  explicit RouteTable(const ApiDescription* description);
  // Moves keep the routes where they are; a copy would not.
  RouteTable(RouteTable&&) = default;
  RouteTable& operator=(RouteTable&&) = default;
  RouteTable(const RouteTable&) = delete;
  RouteTable& operator=(const RouteTable&) = delete;

  // The index of the function record that serves the call, or -1.
  int Find(uint32_t method, const std::string& customMethod, const std::string& path) const;
  // True when `description` is the one the table was built from and none of
  // its records has changed what it routes.
  bool BuiltFrom(const ApiDescription* description) const;
  // Path matchers compiled by this table.
  size_t Compiles() const { return routes_.size(); }

 private:
  // What a record routes by, as pointers: the plug-in's texts live as long
  // as its description, so a changed record shows as a changed pointer.
  struct Fingerprint {
    uint32_t method;
    const void* pathTemplate;
    const void* customMethod;
    const void* invoke;
    bool operator==(const Fingerprint&) const = default;
  };
  static Fingerprint Print(const ApiDescription& description, uint32_t index);

  const ApiDescription* description_ = nullptr;
  const FunctionRecord* functions_ = nullptr;
  std::vector<Fingerprint> fingerprints_;
  std::vector<Client::Route> routes_;
  std::vector<const Client::Route*> candidates_;
  std::vector<uint32_t> records_;  // the record index of each route
};

}  // namespace Zorv::Host
