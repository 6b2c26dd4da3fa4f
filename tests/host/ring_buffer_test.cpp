#include "host/ring_buffer.h"

#include <gtest/gtest.h>

#include "host/fake_plugin.h"
#include "host/plugin_host.h"

#include <algorithm>
#include <string>
#include <vector>

namespace Zorv::Host {
namespace {

TEST(RingBufferTest, PastItsCapacityItKeepsTheNewestAndSequenceNumbersGoOn) {
  RingBuffer<int> ring(3);
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.FirstSequence(), 0u);
  for (int i = 0; i < 3; ++i) ring.push_back(i);
  EXPECT_EQ(ring, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(ring.FirstSequence(), 0u);

  for (int i = 3; i < 8; ++i) ring.push_back(i);
  EXPECT_EQ(ring.size(), 3u);
  EXPECT_EQ(ring, (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(ring.front(), 5);
  EXPECT_EQ(ring.back(), 7);
  EXPECT_EQ(ring[1], 6);
  EXPECT_EQ(ring.at(2), 7);
  EXPECT_THROW(ring.at(3), std::out_of_range);
  EXPECT_EQ(ring.FirstSequence(), 5u);
  EXPECT_EQ(ring.NextSequence(), 8u);
  EXPECT_EQ(std::vector<int>(ring.begin(), ring.end()), (std::vector<int>{5, 6, 7}));
  EXPECT_EQ(std::find(ring.begin(), ring.end(), 6) - ring.begin(), 1);
  EXPECT_EQ(ring.end() - ring.begin(), 3);

  ring.clear();
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.FirstSequence(), 8u);
  ring.push_back(8);
  EXPECT_EQ(ring.FirstSequence(), 8u);
}

TEST(RingBufferTest, ANewCapacityKeepsTheNewestEntriesInOrder) {
  RingBuffer<std::string> ring(4);
  for (const char* text : {"a", "b", "c", "d", "e", "f"}) ring.emplace_back(text);
  ring.SetCapacity(2);
  EXPECT_EQ(ring, (std::vector<std::string>{"e", "f"}));
  EXPECT_EQ(ring.FirstSequence(), 4u);
  ring.push_back("g");
  EXPECT_EQ(ring, (std::vector<std::string>{"f", "g"}));

  // At least the newest entry is always kept.
  ring.SetCapacity(0);
  EXPECT_EQ(ring, (std::vector<std::string>{"g"}));
  ring.push_back("h");
  EXPECT_EQ(ring, (std::vector<std::string>{"h"}));
  EXPECT_EQ(ring.FirstSequence(), 7u);
}

TEST(RingBufferTest, TheHostKeepsTheNewestEntriesOfEachRecordItsOptionsAllow) {
  PluginHost::Options options;
  options.keep = 2;
  PluginHost host(options);
  Testing::FakePlugin plugin;
  plugin.Attach(host);
  for (int i = 0; i < 5; ++i) {
    const std::string text = "line " + std::to_string(i);
    plugin.Functions()->Log(plugin.Functions(), 1, text.c_str());
    plugin.Send(HOST_METHOD_GET, "https://cdn/" + std::to_string(i));
    plugin.Functions()->EndWait(plugin.Functions());  // a fault each time
  }
  ASSERT_EQ(host.Logs().size(), 2u);
  EXPECT_EQ(host.Logs()[0].message, "line 3");
  EXPECT_EQ(host.Logs().back().message, "line 4");
  EXPECT_EQ(host.Logs().FirstSequence(), 3u);
  ASSERT_EQ(host.FakeTransport()->Requests().size(), 2u);
  EXPECT_EQ(host.FakeTransport()->Requests()[0].url, "https://cdn/3");
  EXPECT_EQ(host.Faults().size(), 2u);
  EXPECT_EQ(host.Faults().NextSequence(), 5u);
}

}  // namespace
}  // namespace Zorv::Host
