// The replay file name that a download address gives, and the test that a
// name is safe to create inside the replay folder.
//
//   std::optional<std::string_view> name =
//       DownloadFileName("https://cdn.example/a/b/NA1-42.trec?sig=1#x");  // "NA1-42.trec"
//
// The name is the last path segment of the address before its first "?" or
// "#" (the meaning of "^[^?#]*/([^?#/]+).*" matched against the whole
// address), found in one pass without a regular expression: addresses come
// from the server and may be megabytes long. A name is only ever handed out
// when it is a plain file name, so joined to a folder it names a direct child
// of that folder and nothing else.
#pragma once

#include <optional>
#include <string_view>

namespace Zorv::Client::Replays {

// The address's last path segment before the first "?" or "#", or no value
// when the segment is empty (the part before "?"/"#" ends in "/" or has no
// "/") or when a line break follows the first "?"/"#" (the expression's
// final ".*" matches no line break). The view points into `url`.
std::optional<std::string_view> ExtractDownloadFileName(std::string_view url);

// True for a name that creates a file directly in any folder it is joined to,
// on this platform and as the path join reads it: not empty, not "." or "..",
// and free of "/", "\", ":" (a drive-relative or absolute part) and control
// characters.
bool IsPlainFileName(std::string_view name);

// ExtractDownloadFileName, but only a plain file name.
std::optional<std::string_view> DownloadFileName(std::string_view url);

}  // namespace Zorv::Client::Replays
