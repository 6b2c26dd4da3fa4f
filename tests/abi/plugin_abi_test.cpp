#include "zorv/plugin_abi.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "abi_layout_list.h"

namespace {

TEST(PluginAbi, CAndCxxLayOutEveryRecordAlike) {
  const std::vector<size_t> fromCxx = {ABI_LAYOUT_LIST(ABI_LAYOUT_VALUE)};
  const std::vector<std::string> names = {ABI_LAYOUT_LIST(ABI_LAYOUT_TEXT)};
  ASSERT_EQ(kAbiLayoutFromCCount, fromCxx.size());
  for (size_t i = 0; i < fromCxx.size(); ++i) {
    EXPECT_EQ(kAbiLayoutFromC[i], fromCxx[i]) << names[i];
  }
}

struct Field {
  const char* name;
  size_t offset;
  size_t size;
};

#define FIELD(type, member)                               \
  Field {                                                 \
#member, offsetof(type, member), sizeof(type::member) \
  }

// Packed records must have each field right after the previous one and nothing after the last.
void ExpectContiguous(const char* record, size_t recordSize, const std::vector<Field>& fields) {
  size_t next = 0;
  for (const Field& field : fields) {
    EXPECT_EQ(field.offset, next) << record << "." << field.name;
    next = field.offset + field.size;
  }
  EXPECT_EQ(recordSize, next) << record;
}

TEST(PluginAbi, PackedRecordsHaveNoPadding) {
  ExpectContiguous(
      "HostMapEntry", sizeof(HostMapEntry),
      {FIELD(HostMapEntry, key), FIELD(HostMapEntry, value), FIELD(HostMapEntry, keyOwned)});
  ExpectContiguous(
      "CallResult", sizeof(CallResult),
      {FIELD(CallResult, value), FIELD(CallResult, error), FIELD(CallResult, reserved16),
       FIELD(CallResult, responseFlag), FIELD(CallResult, responseKind), FIELD(CallResult, status),
       FIELD(CallResult, responseText), FIELD(CallResult, responseHeaders),
       FIELD(CallResult, responseHeaderCount), FIELD(CallResult, streamRead),
       FIELD(CallResult, streamClose), FIELD(CallResult, streamSize), FIELD(CallResult, reserved50),
       FIELD(CallResult, streamHandle), FIELD(CallResult, release)});
  ExpectContiguous("FunctionRecord", sizeof(FunctionRecord),
                   {FIELD(FunctionRecord, method), FIELD(FunctionRecord, pathTemplate),
                    FIELD(FunctionRecord, context), FIELD(FunctionRecord, name),
                    FIELD(FunctionRecord, customMethod), FIELD(FunctionRecord, description),
                    FIELD(FunctionRecord, resultTypeName), FIELD(FunctionRecord, namespaceName),
                    FIELD(FunctionRecord, tags), FIELD(FunctionRecord, tagCount),
                    FIELD(FunctionRecord, arguments), FIELD(FunctionRecord, argumentCount),
                    FIELD(FunctionRecord, reserved48), FIELD(FunctionRecord, invoke),
                    FIELD(FunctionRecord, reserved65)});
}

// On 64-bit every pointer widens by four bytes and HostValue's payload by eight, so the packed
// records land at fixed, predictable places; the host stand-in and the plug-in rely on them.
TEST(PluginAbi, SixtyFourBitLayoutOfTheValueRecords) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "64-bit layout only";
  EXPECT_EQ(sizeof(HostValue), 24u);
  EXPECT_EQ(offsetof(HostValue, payload), 8u);
  EXPECT_EQ(offsetof(HostValue, payload.text.length), 16u);
  EXPECT_EQ(sizeof(HostMapEntry), 33u);
  EXPECT_EQ(sizeof(HostArgument), 32u);
  EXPECT_EQ(sizeof(CallResult), 102u);
  EXPECT_EQ(offsetof(CallResult, status), 38u);
  EXPECT_EQ(offsetof(CallResult, release), 94u);
  EXPECT_EQ(sizeof(FunctionRecord), 130u);
  EXPECT_EQ(offsetof(FunctionRecord, invoke), 97u);
}

}  // namespace
