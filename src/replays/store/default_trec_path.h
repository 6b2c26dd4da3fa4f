// DefaultTrecPath: the replay folder the plug-in uses until the user picks
// one: the documents folder (platform/documents_folder.h) joined with
// "Vellmoor" and "Replays" by JoinPath, so with "/" separators throughout.
//
//   std::string folder = DefaultTrecPath();  // "/home/me/Documents/Vellmoor/Replays"
//
// The empty string when the documents folder is unknown or the joined path
// does not fit in kMaxPathChars characters (terminating NUL included).
// Computed anew on every call, from the environment of the moment.
#pragma once

#include <string>

namespace Zorv::Client::Replays {

std::string DefaultTrecPath();

}  // namespace Zorv::Client::Replays
