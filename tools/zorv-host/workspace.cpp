#include "zorv-host/workspace.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>
#include <vector>

#include "binding/json_reader.h"
#include "host/plugin_host.h"

namespace Zorv::Host {
namespace {

// A resources file is written by hand or by CreateDemoWorkspace: anything this
// large is a mistake, not a workspace.
constexpr uintmax_t kMaxResourcesFileSize = 16u << 20;

}  // namespace

Workspace::Workspace(const std::string& root) {
  std::error_code ignored;
  std::filesystem::path absolute = std::filesystem::absolute(root, ignored);
  if (absolute.empty()) absolute = root;
  root_ = absolute.lexically_normal().string();
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string LoadHostResources(const std::string& root, PluginHost& host) {
  const std::string file = Workspace(root).HostResourcesFile();
  std::error_code error;
  const auto status = std::filesystem::status(file, error);
  if (status.type() == std::filesystem::file_type::not_found) return "";
  if (error) return file + ": " + error.message();
  if (!std::filesystem::is_regular_file(status)) return file + ": not a regular file";
  const uintmax_t size = std::filesystem::file_size(file, error);
  if (error) return file + ": " + error.message();
  if (size > kMaxResourcesFileSize) {
    return file + ": larger than " + std::to_string(kMaxResourcesFileSize) + " bytes";
  }

  std::ifstream in(file, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (!in && !in.eof()) return file + ": cannot be read";
  BindingResult parsed = FromJsonText(text);
  if (!parsed.success) return file + ": " + std::string(parsed.error());
  if (parsed.value.kind() != ValueKind::Structure) {
    return file + ": expected one JSON object mapping resource paths to values";
  }

  std::vector<std::pair<std::string, BindingProperty>> resources;
  for (const BindingProperty::FieldEntry entry : parsed.value.fields()) {
    if (entry.name.empty() || entry.name.front() != '/') {
      return file + ": resource path '" + std::string(entry.name) + "' does not start with '/'";
    }
    resources.emplace_back(std::string(entry.name), entry.value);
  }
  for (auto& [path, value] : resources) {
    host.Resources().SetResourceValue(path, std::move(value));
  }
  return "";
}

}  // namespace Zorv::Host
