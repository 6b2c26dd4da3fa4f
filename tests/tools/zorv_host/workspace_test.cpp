// The demo workspace's content and the loading of a workspace's host resources.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "binding/json_reader.h"
#include "binding/json_writer.h"
#include "host/plugin_host.h"
#include "platform/version_resource.h"
#include "replays/store/trec_file.h"
#include "support/temp_folder.h"
#include "zorv-host/demo_workspace.h"
#include "zorv-host/workspace.h"

namespace Zorv::Host {
namespace {

namespace fs = std::filesystem;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string VersionOf(const std::string& exe) {
  const uint32_t size = Platform::GetFileVersionInfoSize(exe);
  std::vector<unsigned char> buffer(size);
  const void* value = nullptr;
  uint32_t length = 0;
  if (size == 0 || !Platform::GetFileVersionInfo(exe, size, buffer.data()) ||
      !Platform::VerQueryValue(buffer.data(), size, "\\", &value, &length) ||
      length < sizeof(Platform::FixedFileInfo)) {
    return "";
  }
  Platform::FixedFileInfo info;
  std::memcpy(&info, value, sizeof info);
  return std::to_string(info.fileVersionMS >> 16) + "." +
         std::to_string(info.fileVersionMS & 0xFFFF) + "." +
         std::to_string(info.fileVersionLS >> 16) + "." +
         std::to_string(info.fileVersionLS & 0xFFFF);
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

TEST(DemoWorkspaceTest, HoldsReplaysAGameClientAndResourcesThatAgree) {
  Testing::TempFolder temp("demo");
  const Workspace workspace(temp.path() + "/ws");
  bool created = false;
  ASSERT_EQ(CreateDemoWorkspace(workspace.Root(), &created), "");
  EXPECT_TRUE(created);
  EXPECT_EQ(Entries(temp.path()), std::vector<std::string>{"ws"});  // no staging folder left

  size_t local = 0;
  size_t server = 0;
  for (const DemoGame& game : DemoGames()) {
    const std::string file = (game.onServer ? workspace.ServerFolder() : workspace.ReplayFolder()) +
                             "/NA1-" + std::to_string(game.gameId) + ".trec";
    ++(game.onServer ? server : local);
    const std::string block = Client::Replays::ReadMetadataText(file, {});
    if (!game.gameVersion) {
      EXPECT_TRUE(fs::is_regular_file(file)) << file;
      EXPECT_EQ(block, "") << file;
      continue;
    }
    const BindingResult metadata = FromJsonText(block);
    ASSERT_TRUE(metadata.success) << file;
    EXPECT_EQ(metadata.value.find("gameVersion").asString(), game.gameVersion) << file;
  }
  EXPECT_GE(local, 3u);
  EXPECT_GE(server, 3u);
  EXPECT_EQ(VersionOf(workspace.GameFolder() + "/Vellmoor.exe"), kDemoGameVersion);
  EXPECT_TRUE(fs::is_directory(workspace.HighlightsFolder()));

  PluginHost host;
  ASSERT_EQ(LoadHostResources(workspace.Root(), host), "");
  const ResourceTable& resources = host.Resources();
  const BindingProperty* patcher = resources.Resource("/patcher/v1/products/vellmoor/paths");
  ASSERT_NE(patcher, nullptr);
  EXPECT_EQ(patcher->find("pex_game_client_sln").asString(), workspace.GameFolder());
  const BindingProperty* settings = resources.Resource("/pex-settings/v1/local/pex-replays");
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(settings->find("data").find("replays-folder-path").asString(),
            workspace.ReplayFolder());
  EXPECT_EQ(ToJsonText(*resources.Resource("/pex-login/v1/login-data-packet")),
            R"({"platformId":"NA1"})");
  for (const char* path :
       {"/pex-platform-config/v1/namespaces/ClientSystemStates/replaySystemStates",
        "/pex-platform-config/v1/namespaces/Replays", "/pex-gameflow/v1/availability",
        "/pex-gameflow/v1/session", "/pex-gameflow/v1/watch",
        "/pex-skirra/v2/playmode-restricted"}) {
    EXPECT_NE(resources.Resource(path), nullptr) << path;
  }
}

TEST(DemoWorkspaceTest, AnExistingFolderIsLeftAsItIs) {
  Testing::TempFolder temp("demo");
  bool created = true;
  ASSERT_EQ(CreateDemoWorkspace(temp.path(), &created), "");
  EXPECT_FALSE(created);
  EXPECT_TRUE(fs::is_empty(temp.path()));

  const std::string ws = temp.path() + "/ws";
  ASSERT_EQ(CreateDemoWorkspace(ws), "");
  WriteText(ws + "/host-resources.json", "{}");
  ASSERT_EQ(CreateDemoWorkspace(ws, &created), "");
  EXPECT_FALSE(created);
  std::ifstream in(ws + "/host-resources.json");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "{}");
}

TEST(DemoWorkspaceTest, AFailureLeavesNothingBehind) {
  Testing::TempFolder temp("demo");
  WriteText(temp.path() + "/file", "x");
  const std::string error = CreateDemoWorkspace(temp.path() + "/file/ws");
  EXPECT_NE(error, "");
  EXPECT_EQ(Entries(temp.path()), std::vector<std::string>{"file"});
}

TEST(LoadHostResourcesTest, SetsEveryResourceOrNoneWithAClearError) {
  struct Case {
    const char* name;
    const char* text;   // null: no file
    const char* error;  // a part of the error; "" for success
  };
  const Case cases[] = {
      {"no file", nullptr, ""},
      {"resources", R"({"/a/v1/x": {"k": 1}, "/b/v1/y": "None"})", ""},
      {"not JSON", R"({"/a/v1/x": )", "host-resources.json: Error: "},
      {"not an object", R"(["/a/v1/x"])", "host-resources.json: expected one JSON object"},
      {"a key that is no path", R"({"/a/v1/x": 1, "b": 2})", "resource path 'b'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Testing::TempFolder temp("resources");
    if (c.text) WriteText(temp.path() + "/host-resources.json", c.text);
    PluginHost host;
    const std::string error = LoadHostResources(temp.path(), host);
    if (std::string(c.error).empty()) {
      EXPECT_EQ(error, "");
    } else {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      EXPECT_EQ(error.rfind(temp.path(), 0), 0u) << error;  // names the file
    }
    const bool loaded = c.text && std::string(c.error).empty();
    EXPECT_EQ(host.Resources().Resource("/a/v1/x") != nullptr, loaded);
    if (loaded) {
      EXPECT_EQ(ToJsonText(*host.Resources().Resource("/a/v1/x")), R"({"k":1})");
      EXPECT_EQ(ToJsonText(*host.Resources().Resource("/b/v1/y")), R"("None")");
    }
  }
}

}  // namespace
}  // namespace Zorv::Host
