// Damage is named where it is: over bytes flipped all through a pack file of
// many records, the record a "damaged data" message names first is the one
// that holds the flipped byte, also when the decoder breaks only records
// later.
#include <gtest/gtest.h>

#include <ctype.h>

#include <memory>
#include <string>

#include "encode/encoder.h"
#include "expand/expand.h"
#include "expand/layout.h"
#include "expand/records.h"
#include "test_data.h"

namespace {

TEST(DamagePlace, TheFirstRecordNamedHoldsTheDamage) {
  std::vector<uint8_t> data = MixedBytes(700000, 71), packed;
  auto state = std::make_unique<EncoderState>();
  PackFile(state.get(), data.data(), data.size(), true, &packed, nullptr);
  const PackLayout layout = ReadLayout(packed);
  const std::vector<ListedRecord>& records = layout.first().records;
  ASSERT_GT(records.size(), 8u);
  size_t named = 0, brokeLater = 0;
  for (size_t at = records[1].offset + PackHeaderSize; at < packed.size(); at += 211) {
    std::vector<uint8_t> damaged = packed;
    damaged[at] ^= 0x08;
    std::unique_ptr<PackExpander> expander(new PackExpander());
    ResetDecoderState(&expander->decoder);
    PackCheck check;
    std::string error;
    if (ExpandPackFile(expander.get(), damaged, nullptr, &check, &error)) continue;
    // "damaged data (record N at offset X..." or "...; record N at offset X is the first that differs".
    size_t where = error.find("record ");
    while (where != std::string::npos && !isdigit((unsigned char)error[where + 7])) {
      where = error.find("record ", where + 1);
    }
    if (where == std::string::npos) continue;  // damage no record shows (a size the check record lists)
    size_t index = std::stoul(error.substr(where + 7));
    ASSERT_LT(index, records.size()) << error;
    const ListedRecord& r = records[index];
    size_t end = r.offset + PackHeaderSize + (r.packedSize ? r.packedSize : r.expandedSize);
    EXPECT_TRUE(r.offset <= at && at < end) << "flip at " << at << ": " << error;
    ++named;
    if (error.find("decoding broke at record") != std::string::npos) ++brokeLater;
  }
  printf("%zu flips named at their record, %zu of them where decoding broke later\n", named, brokeLater);
  EXPECT_GT(brokeLater, 0u);
}

}  // namespace
