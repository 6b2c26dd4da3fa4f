#include "framework/module/plugin_identity.h"

#include <gtest/gtest.h>

#include "logging/logger_api.h"
#include "support/capture_log_target.h"

namespace Zorv::Client {
namespace {

TEST(PluginIdentityTest, KnownTypesGetTheirPrefix) {
  const PluginIdentity backend =
      GetFullNameFromShortNameAndType("pex-replays", BackendPluginType());
  EXPECT_EQ(backend.fullName, "tnk-be-pex-replays");
  EXPECT_EQ(backend.shortName, "pex-replays");
  EXPECT_EQ(backend.typeName, "backend");
  EXPECT_EQ(backend.subtype, "");
  EXPECT_EQ(GetFullNameFromShortNameAndType("pex-replays", FrontendPluginType()).fullName,
            "tnk-fe-pex-replays");
}

TEST(PluginIdentityTest, UnknownTypeGetsPlaceholderPrefixAndAnError) {
  const LoggerApi* api = GetLoggerApi();
  api->acquire();
  Testing::CaptureLogTarget capture;
  capture.attach();

  const PluginIdentity identity =
      GetFullNameFromShortNameAndType("pex-replays", PluginType{"global", "sub"});

  EXPECT_EQ(identity.fullName, "tnk-xx-pex-replays");
  EXPECT_EQ(identity.typeName, "global");
  EXPECT_EQ(identity.subtype, "sub");
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0],
            " ERROR| DBG|             Plugin Manager| GetFullNameFromShortNameAndType("
            "\"pex-replays\", \"global\") called with an unknown type\n");
  capture.detach();
  api->release();
}

TEST(MakeIdentifierTest, BuildsUpperCamelCase) {
  struct Case {
    const char* method;
    const char* path;
    const char* identifier;
  };
  const Case cases[] = {
      {"", "pex-replays", "PexReplays"},
      {"GET", "/pex-replays/v1/metadata/{gameId}", "GetPexReplaysV1MetadataByGameId"},
      {"post", "/a_b.c!d+e", "PostABCDE"},
      {"PATCH", "", "Patch"},
      // '}' keeps the flag as it was; '{' sets it.
      {"", "{a}b", "ByAb"},
      {"", "x/}y", "XY"},
      // Characters outside the separator set pass through and clear the flag.
      {"", "a~b c", "A~b c"},
      {"", "~b", "~b"},
      {"", "", ""},
      {"", "ALREADY-Upper", "ALREADYUpper"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MakeIdentifier(c.method, c.path), c.identifier)
        << "method \"" << c.method << "\", path \"" << c.path << "\"";
  }
}

}  // namespace
}  // namespace Zorv::Client
