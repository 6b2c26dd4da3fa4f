#include "inputs.h"

#include <msgpack.hpp>

#include <cstdio>
#include <random>
#include <sstream>
#include <vector>

#include "trec/trec_writer.h"

namespace Zorv::Bench {
namespace {

struct Record {
  uint64_t gameId;
  std::string gameVersion;
  std::string gameType;
  int32_t queueId;
  double score;
  std::string name;
  std::vector<std::string> tags;
};

std::vector<Record> Records(size_t count) {
  std::mt19937_64 random(20240611);
  const char* types[] = {"CLASSIC", "ARAM", "URF", "TUTORIAL_GAME"};
  const char* tags[] = {"ranked", "flex", "clash", "custom", "bots"};
  std::vector<Record> records;
  records.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    Record r;
    r.gameId = 5'000'000 + random() % 1'000'000;
    r.gameVersion = std::to_string(10 + random() % 5) + "." + std::to_string(random() % 24) + "." +
                    std::to_string(random() % 600) + ".2";
    r.gameType = types[random() % 4];
    r.queueId = static_cast<int32_t>(400 + random() % 500);
    r.score = static_cast<double>(random() % 100'000) / 4.0 - 100.0;
    r.name.resize(2 + random() % 6);
    for (char& c : r.name) c = static_cast<char>('a' + random() % 26);
    for (size_t t = random() % 3; t > 0; --t) r.tags.push_back(tags[random() % 5]);
    records.push_back(std::move(r));
  }
  return records;
}

}  // namespace

std::string RecordsJson(size_t count) {
  std::string out = "[";
  char number[64];
  for (const Record& r : Records(count)) {
    if (out.size() > 1) out += ",";
    std::snprintf(number, sizeof number, "%.17g", r.score);
    out += R"({"gameId":)" + std::to_string(r.gameId) + R"(,"gameVersion":")" + r.gameVersion +
           R"(","gameType":")" + r.gameType + R"(","queueId":)" + std::to_string(r.queueId) +
           R"(,"score":)" + number + R"(,"name":")" + r.name + R"(","tags":[)";
    for (size_t t = 0; t < r.tags.size(); ++t) out += (t ? ",\"" : "\"") + r.tags[t] + "\"";
    out += "]}";
  }
  out += "]";
  return out;
}

std::string RecordsMsgPack(size_t count) {
  std::stringstream buffer;
  msgpack::packer<std::stringstream> pack(buffer);
  const std::vector<Record> records = Records(count);
  pack.pack_array(static_cast<uint32_t>(records.size()));
  for (const Record& r : records) {
    pack.pack_map(7);
    pack.pack("gameId").pack(r.gameId);
    pack.pack("gameVersion").pack(r.gameVersion);
    pack.pack("gameType").pack(r.gameType);
    pack.pack("queueId").pack(r.queueId);
    pack.pack("score").pack(r.score);
    pack.pack("name").pack(r.name);
    pack.pack("tags").pack(r.tags);
  }
  return buffer.str();
}

std::string RecordsYaml(size_t count) {
  std::string out = "---\n";
  char number[64];
  for (const Record& r : Records(count)) {
    std::snprintf(number, sizeof number, "%.17g", r.score);
    out += "- gameId: " + std::to_string(r.gameId) + "\n  gameVersion: '" + r.gameVersion +
           "'\n  gameType: " + r.gameType + "\n  queueId: " + std::to_string(r.queueId) +
           "\n  score: " + number + "\n  name: " + r.name + "\n  tags: [";
    for (size_t t = 0; t < r.tags.size(); ++t) out += (t ? ", " : "") + r.tags[t];
    out += "]\n";
  }
  return out;
}

std::string MetadataBlock() {
  return Client::Replays::MetadataJson({1'800'000, "14.3.1.200", 1'800, 900});
}

}  // namespace Zorv::Bench
