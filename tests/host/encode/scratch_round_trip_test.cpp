// More than 16 MiB of records wait for the check record in a scratch file:
// they come back from it whole and in order.
#include <stdlib.h>

#include <memory>

#include "encode/segments.h"
#include "expand/expand.h"
#include "test_data.h"

#include <gtest/gtest.h>

namespace {

class MemoryOutput final : public PackOutput {
 public:
  bool Write(const uint8_t* data, size_t size, std::string*) override {
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  std::vector<uint8_t> bytes;
};

TEST(ScratchFile, MoreThan16MiBOfRecordsComeBackWholeAndInOrder) {
  // 17 MiB of random bytes: stored records, 17 MiB of them and more.
  std::vector<uint8_t> data = RandomBytes((size_t)17 << 20, 71);
  char folder[] = "/tmp/setuppack-scratch-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::unique_ptr<EncoderState> state(new EncoderState());
  MemoryInput input(data, 100000);
  MemoryOutput output;
  PackStreamOptions options;
  options.threads = 2;
  options.scratchFolder = folder;
  PackStreamResult result;
  std::string error;
  ASSERT_TRUE(PackStream(state.get(), &input, &output, options, &result, &error)) << error;
  rmdir(folder);  // empty again: the scratch file is gone
  ASSERT_GT(output.bytes.size(), (size_t)16 << 20);
  EXPECT_EQ(result.packedSize, output.bytes.size());

  std::vector<std::vector<uint8_t>> expanded;
  std::vector<PackCheck> checks;
  size_t failed = 0;
  ASSERT_TRUE(ExpandPackedData({output.bytes}, &expanded, &checks, &failed, &error)) << error;
  EXPECT_TRUE(expanded[0] == data);
  EXPECT_EQ(checks[0].present, 1u);
}

}  // namespace
