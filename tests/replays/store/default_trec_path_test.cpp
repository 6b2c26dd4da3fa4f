#include "replays/store/default_trec_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/documents_folder.h"
#include "support/temp_folder.h"

namespace Zorv::Client::Replays {
namespace {

using Testing::TempFolder;

const std::vector<std::string> kVariables = {"HOME", "XDG_DOCUMENTS_DIR", "XDG_CONFIG_HOME"};

// Sets (a value) or unsets (no value) the variables for the object's life,
// then puts back what was there.
class EnvironmentOverride {
 public:
  explicit EnvironmentOverride(const std::map<std::string, std::optional<std::string>>& values) {
    for (const std::string& name : kVariables) {
      const char* before = ::getenv(name.c_str());
      saved_[name] = before ? std::optional<std::string>(before) : std::nullopt;
    }
    Apply(values);
  }
  ~EnvironmentOverride() { Apply(saved_); }
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

 private:
  static void Apply(const std::map<std::string, std::optional<std::string>>& values) {
    for (const auto& [name, value] : values) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

// "@" in a case's texts stands for the test's temporary folder.
std::string Expand(std::string text, const std::string& root) {
  for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + root.size())) {
    text.replace(at, 1, root);
  }
  return text;
}

TEST(DefaultTrecPathTest, FollowsTheDocumentsFolderOfTheEnvironment) {
  struct Case {
    std::string name;
    std::optional<std::string> home, documentsVariable, configHome;
    std::map<std::string, std::string> files;  // path -> content
    std::string documents;
    bool fits = true;
  };
  const std::string kHomeDirs = "@/home/.config/user-dirs.dirs";
  const std::string kConfigDirs = "@/config/user-dirs.dirs";
  const std::string kLong = "/" + std::string(241, 'd');  // + "/Vellmoor/Replays": 259 characters
  // clang-format off
  const Case cases[] = {
      {"variable set", "@/home", "/data/docs", std::nullopt,
       {{kHomeDirs, "XDG_DOCUMENTS_DIR=\"/srv/other\"\n"}}, "/data/docs"},
      {"relative variable ignored", "@/home", "docs", std::nullopt, {}, "@/home/Documents"},
      {"user-dirs entry with $HOME and quotes", "@/home", std::nullopt, std::nullopt,
       {{kHomeDirs, "# written by a tool\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                    "  XDG_DOCUMENTS_DIR=\"$HOME/My Docs\"\n"}},
       "@/home/My Docs"},
      {"unquoted entry, last one wins, escapes", "@/home", std::nullopt, std::nullopt,
       {{kHomeDirs, "XDG_DOCUMENTS_DIR=\"$HOME/a\"\nXDG_DOCUMENTS_DIR=$HOME/b\\ \\\"c\\\" # x\n"}},
       "@/home/b \"c\""},
      {"entry that is only $HOME", "@/home/", std::nullopt, std::nullopt,
       {{kHomeDirs, "XDG_DOCUMENTS_DIR=\"$HOME\"\n"}}, "@/home"},
      {"XDG_CONFIG_HOME is where the file is", "@/home", std::nullopt, "@/config",
       {{kConfigDirs, "XDG_DOCUMENTS_DIR=\"$HOME/cfg\"\n"},
        {kHomeDirs, "XDG_DOCUMENTS_DIR=\"$HOME/not-this\"\n"}},
       "@/home/cfg"},
      {"relative XDG_CONFIG_HOME ignored", "@/home", std::nullopt, "config",
       {{kHomeDirs, "XDG_DOCUMENTS_DIR=\"$HOME/from-home\"\n"}}, "@/home/from-home"},
      {"relative entry ignored", "@/home", std::nullopt, std::nullopt,
       {{kHomeDirs, "XDG_DOCUMENTS_DIR=\"Documents\"\n"}}, "@/home/Documents"},
      {"$HOMEDIR is not $HOME", "@/home", std::nullopt, std::nullopt,
       {{kHomeDirs, "XDG_DOCUMENTS_DIR=\"$HOMEDIR/x\"\n"}}, "@/home/Documents"},
      {"unclosed quote ignored", "@/home", std::nullopt, std::nullopt,
       {{kHomeDirs, "XDG_DOCUMENTS_DIR=\"$HOME/x\n"}}, "@/home/Documents"},
      {"fallback", "@/home", std::nullopt, std::nullopt, {}, "@/home/Documents"},
      {"home with trailing separators", "@/home//", std::nullopt, std::nullopt, {},
       "@/home/Documents"},
      {"root as home", "/", std::nullopt, std::nullopt, {}, "/Documents"},
      {"no HOME", std::nullopt, std::nullopt, std::nullopt, {}, ""},
      {"relative HOME", "home", std::nullopt, std::nullopt, {}, ""},
      {"no HOME, $HOME entry", std::nullopt, std::nullopt, "@/config",
       {{kConfigDirs, "XDG_DOCUMENTS_DIR=\"$HOME/x\"\n"}}, ""},
      {"no HOME, absolute entry", std::nullopt, std::nullopt, "@/config",
       {{kConfigDirs, "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n"}}, "/srv/docs"},
      {"longest that fits", std::nullopt, kLong, std::nullopt, {}, kLong},
      {"one character more", std::nullopt, kLong + "d", std::nullopt, {}, kLong + "d", false},
      {"300 characters", std::nullopt, "/" + std::string(299, 'd'), std::nullopt, {},
       "/" + std::string(299, 'd'), false},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder root("default_trec_path");
    const auto expand = [&](const std::optional<std::string>& text) {
      return text ? std::optional<std::string>(Expand(*text, root.path())) : std::nullopt;
    };
    for (const auto& [path, content] : c.files) {
      const std::filesystem::path file = Expand(path, root.path());
      std::filesystem::create_directories(file.parent_path());
      std::ofstream(file) << content;
    }
    EnvironmentOverride environment({{"HOME", expand(c.home)},
                                     {"XDG_DOCUMENTS_DIR", expand(c.documentsVariable)},
                                     {"XDG_CONFIG_HOME", expand(c.configHome)}});
    const std::string documents = Expand(c.documents, root.path());
    EXPECT_EQ(Platform::DocumentsFolder(), documents);
    EXPECT_EQ(DefaultTrecPath(),
              documents.empty() || !c.fits ? "" : documents + "/Vellmoor/Replays");
  }
}

}  // namespace
}  // namespace Zorv::Client::Replays
