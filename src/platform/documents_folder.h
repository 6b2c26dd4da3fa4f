// DocumentsFolder: the user's documents folder, where the plug-in keeps its
// default replay folder.
//
//   std::string documents = DocumentsFolder();  // "/home/me/Documents", or "" when unknown
//
// The first of: the XDG_DOCUMENTS_DIR environment variable when not empty;
// the XDG_DOCUMENTS_DIR entry of user-dirs.dirs in the user's configuration
// folder (XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config),
// whose value may be quoted and may start with $HOME; $HOME/Documents. The
// empty string when none of them gives an absolute path (no HOME, above all).
// Reads the environment and the file on every call.
#pragma once

#include <string>

namespace Zorv::Platform {

std::string DocumentsFolder();

}  // namespace Zorv::Platform
