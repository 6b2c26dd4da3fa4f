// The HTTP front's request guards and its event fan-out, apart from a server.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "zorv-host/event_stream.h"
#include "zorv-host/security.h"

namespace Zorv::Host {
namespace {

TEST(FrontGuardsTest, HostAndOriginMustNameThisServerOnLoopback) {
  struct Case {
    const char* value;
    bool host;
    bool origin;
  };
  const Case cases[] = {
      {"127.0.0.1:8123", true, false},
      {"localhost:8123", true, false},
      {"[::1]:8123", true, false},
      {"http://127.0.0.1:8123", false, true},
      {"http://localhost:8123", false, true},
      {"127.0.0.1:81234", false, false},
      {"127.0.0.1:812", false, false},
      {"127.0.0.1", false, false},
      {"localhost.evil.example:8123", false, false},
      {"evil.example:8123", false, false},
      {"http://evil.example:8123", false, false},
      {"https://127.0.0.1:8123", false, false},
      {"null", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AllowedHost(c.value, 8123), c.host) << c.value;
    EXPECT_EQ(AllowedOrigin(c.value, 8123), c.origin) << c.value;
  }
  EXPECT_FALSE(AllowedHost("", 8123));
  EXPECT_TRUE(AllowedOrigin("", 8123));  // not a browser
}

TEST(FrontGuardsTest, TheTokenComesAsBearerOrAsBasicPassword) {
  const std::string token = MakeToken();
  ASSERT_EQ(token.size(), 32u);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(MakeToken(), token);
  struct Case {
    std::string authorization;
    bool accepted;
  };
  const Case cases[] = {
      {"Bearer " + token, true},
      {"bearer " + token, true},
      {"Bearer " + token.substr(1), false},
      {"Bearer " + token + "0", false},
      {"Bearer ", false},
      {token, false},
      {"Basic dXNlcjpzZWNyZXQ=", false},  // user:secret
      {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Authorized(c.authorization, token), c.accepted) << c.authorization;
  // "user:abc" and ":abc" in base64; the user name is free.
  EXPECT_TRUE(Authorized("Basic dXNlcjphYmM=", "abc"));
  EXPECT_TRUE(Authorized("Basic OmFiYw==", "abc"));
  EXPECT_FALSE(Authorized("Basic dXNlcjphYmM", "abd"));
  EXPECT_FALSE(Authorized("Basic !!!!", "abc"));
  EXPECT_FALSE(Authorized("Bearer ", ""));  // an empty token never matches
}

TEST(EventStreamTest, ASlowClientIsDroppedWithoutHoldingTheOthers) {
  EventStream stream;
  const auto slow = stream.Join(2);
  const auto reader = stream.Join(8);
  ASSERT_TRUE(slow && reader);
  std::optional<std::string> message;
  for (const char* text : {"a", "b", "c"}) {
    stream.Publish(text);
    ASSERT_TRUE(reader->Next(std::chrono::milliseconds(0), message));
    EXPECT_EQ(message, text);
  }
  EXPECT_TRUE(slow->Dropped());
  EXPECT_FALSE(slow->Next(std::chrono::milliseconds(0), message));
  EXPECT_EQ(stream.Clients(), 1u);

  // Nothing waiting: an empty answer, the client stays.
  EXPECT_TRUE(reader->Next(std::chrono::milliseconds(0), message));
  EXPECT_FALSE(message);
  stream.Close();
  EXPECT_FALSE(reader->Next(std::chrono::seconds(10), message));
  EXPECT_EQ(stream.Join(), nullptr);
}

TEST(EventStreamTest, ClientsAreBounded) {
  EventStream stream;
  for (size_t i = 0; i < EventStream::kMaxClients; ++i) ASSERT_NE(stream.Join(), nullptr);
  EXPECT_EQ(stream.Join(), nullptr);
}

}  // namespace
}  // namespace Zorv::Host
