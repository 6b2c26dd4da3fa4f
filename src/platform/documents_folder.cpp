#include "platform/documents_folder.h"

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>
#include <utility>

namespace Zorv::Platform {
namespace {

std::string_view Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string_view(value) : std::string_view();
}

bool IsAbsolute(std::string_view path) {
  return !path.empty() && path.front() == '/';
}

// HOME without its trailing separators (so "/" is ""), to which "/x" is
// appended; no value when HOME is unset or not an absolute path.
std::optional<std::string_view> Home() {
  std::string_view home = Environment("HOME");
  if (!IsAbsolute(home)) return std::nullopt;
  while (!home.empty() && home.back() == '/') home.remove_suffix(1);
  return home;
}

// The value of one `XDG_DOCUMENTS_DIR=...` line: quoted or bare, with "\"
// escaping the next character, and a leading $HOME (alone or before "/")
// replaced by `home`. No value for any other line or a value that is not an
// absolute path after the replacement.
std::optional<std::string> DocumentsEntry(std::string_view line,
                                          std::optional<std::string_view> home) {
  constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  if (!line.starts_with(kKey)) return std::nullopt;
  line.remove_prefix(kKey.size());
  const bool quoted = line.starts_with('"');
  if (quoted) line.remove_prefix(1);
  std::string value;
  bool closed = !quoted;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      value.push_back(line[++i]);
    } else if (quoted && c == '"') {
      closed = true;
      break;
    } else if (!quoted && (c == ' ' || c == '\t' || c == '#')) {
      break;
    } else {
      value.push_back(c);
    }
  }
  if (!closed) return std::nullopt;
  constexpr std::string_view kHome = "$HOME";
  if (value.starts_with(kHome) && (value.size() == kHome.size() || value[kHome.size()] == '/')) {
    if (!home) return std::nullopt;
    value.replace(0, kHome.size(), *home);
  }
  if (!IsAbsolute(value)) return std::nullopt;
  return value;
}

// The documents entry of user-dirs.dirs; as in a shell, the last one counts.
std::optional<std::string> UserDirsDocuments(std::optional<std::string_view> home) {
  const std::string_view configHome = Environment("XDG_CONFIG_HOME");
  std::string file;
  if (IsAbsolute(configHome)) {
    file = std::string(configHome) + "/user-dirs.dirs";
  } else if (home) {
    file = std::string(*home) + "/.config/user-dirs.dirs";
  } else {
    return std::nullopt;
  }
  std::ifstream in(file);
  std::optional<std::string> documents;
  for (std::string line; std::getline(in, line);) {
    if (std::optional<std::string> entry = DocumentsEntry(line, home)) documents = std::move(entry);
  }
  return documents;
}

}  // namespace

std::string DocumentsFolder() {
  if (const std::string_view set = Environment("XDG_DOCUMENTS_DIR"); IsAbsolute(set)) {
    return std::string(set);
  }
  const std::optional<std::string_view> home = Home();
  if (std::optional<std::string> documents = UserDirsDocuments(home)) return *documents;
  if (!home) return {};
  return std::string(*home) + "/Documents";
}

}  // namespace Zorv::Platform
