// Any download address: either it gives no file name, or it gives a plain
// name that, joined to a replay folder, names a file directly inside that
// folder. Short addresses are also compared with the file-name expression
// "^[^?#]*/([^?#/]+).*", which the reader follows except for an address whose
// path ends in "/" (the expression would name the folder before it).
// GCC 12 with the sanitizers reports uninitialized members inside libstdc++'s
// regex compiler, a false positive.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/join_path.h"
#include "replays/store/download_file_name.h"

namespace {

using namespace Zorv;
using namespace Zorv::Client::Replays;

// Longer inputs would only slow the reference matcher down (it recurses per character).
constexpr size_t kMaxComparedSize = 256;

std::optional<std::string> ByExpression(const std::string& url) {
  static const std::regex expression("^[^?#]*/([^?#/]+).*", std::regex::ECMAScript);
  std::smatch match;
  if (!std::regex_match(url, match, expression)) return std::nullopt;
  return match[1].str();
}

// The folder as the join writes it before the name's separator: "/"
// separators, no trailing one ("" for the root).
std::string Normalized(std::string folder) {
  for (char& c : folder) c = c == '\\' ? '/' : c;
  while (!folder.empty() && folder.back() == '/') folder.pop_back();
  return folder;
}

void CheckDirectChild(std::string_view folder, std::string_view name) {
  const std::optional<std::string> joined =
      Platform::JoinPath({folder, name}, folder.size() + name.size() + 2);
  FUZZ_CHECK(joined.has_value());
  const std::string parent = Normalized(std::string(folder));
  FUZZ_CHECK(*joined == parent + "/" + std::string(name));
  FUZZ_CHECK(joined->rfind('/') == parent.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view url(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string_view> extracted = ExtractDownloadFileName(url);
  const std::optional<std::string_view> name = DownloadFileName(url);

  const std::string_view path = url.substr(0, url.find_first_of("?#"));
  if (path.empty() || path.back() == '/') FUZZ_CHECK(!extracted);
  if (size <= kMaxComparedSize && !path.ends_with('/')) {
    const std::optional<std::string> expected = ByExpression(std::string(url));
    FUZZ_CHECK(extracted.has_value() == expected.has_value());
    if (extracted) FUZZ_CHECK(*extracted == *expected);
  }

  if (!name) return 0;
  FUZZ_CHECK(extracted && *extracted == *name);
  FUZZ_CHECK(!name->empty() && *name != "." && *name != "..");
  FUZZ_CHECK(name->find_first_of("/\\:") == std::string_view::npos);
  FUZZ_CHECK(IsPlainFileName(*name));
  for (std::string_view folder :
       {"/home/me/Documents/Vellmoor/Replays", "C:\\Replays\\", "relative/folder/", "/"}) {
    CheckDirectChild(folder, *name);
  }
  return 0;
}
