#include "expand/records.h"

#include <stdio.h>
#include <string.h>

#include <memory>

#include "block_decoder.h"
#include "check_record.h"
#include "crc32.h"
#include "expand/layout.h"
#include "expand/expander.h"
#include "record_reader.h"

namespace {

std::string Hex32(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace

std::string CheckFailureReason(const PackCheck& check) {
  if (check.expandedSize != check.expectedSize) {
    return "expands to " + std::to_string(check.expandedSize) + " bytes, its check record says " +
           std::to_string(check.expectedSize);
  }
  if (check.expandedCrc != check.expectedCrc) {
    return "expands to bytes of CRC-32 " + Hex32(check.expandedCrc) + ", its check record says " +
           Hex32(check.expectedCrc);
  }
  return "has " + std::to_string(check.dataRecords) + " data records, its check record lists " +
         std::to_string(check.listedRecords);
}

std::string Verified(const PackCheck& check, size_t size) {
  std::string bytes = std::to_string(size) + " bytes";
  if (!check.present) return bytes + ", no check record: damage to it can go unnoticed";
  return bytes + ", size and CRC-32 " + Hex32(check.expectedCrc) + " match its check record";
}

size_t ListedExpansion(const std::vector<uint8_t>& packed) {
  return ListedExpansion(packed.data(), packed.size());
}

size_t ListedExpansion(const uint8_t* packed, size_t size) {
  size_t total = 0;
  for (size_t at = 0; at + PackHeaderSize <= size;) {
    const uint8_t* header = packed + at;
    if (memcmp(header, PackMagic, PackMagicSize) != 0) break;
    uint32_t packedSize = ReadLE32(header + 8), expandedSize = ReadLE32(header + 12);
    if (packedSize > BlockBufferSize || expandedSize > BlockBufferSize) break;
    total += expandedSize;
    at += PackHeaderSize + (packedSize != 0 ? packedSize : expandedSize);
  }
  // A damaged file may list far more than it can expand to (a compressed
  // record of one byte may claim 62 KB): room beyond this is made as the
  // bytes come.
  const size_t MostAtOnce = (size_t)256 << 20;
  return std::min(total, MostAtOnce);
}

bool ListRecords(const std::vector<uint8_t>& packed, std::vector<ListedRecord>* records, std::string* error) {
  records->clear();
  size_t at = 0;
  while (at < packed.size()) {
    // As the unpacker does: header bytes past the end of the file read as zero.
    uint8_t header[PackHeaderSize] = {0};
    memcpy(header, packed.data() + at, std::min<size_t>(PackHeaderSize, packed.size() - at));
    if (memcmp(header, PackMagic, PackMagicSize) != 0) {
      *error = "record " + std::to_string(records->size()) + " at offset " + std::to_string(at) +
               ": Pack data header error";
      return false;
    }
    ListedRecord r = {(uint32_t)at, ReadLE32(header + 8), ReadLE32(header + 12), false};
    if (r.packedSize > BlockBufferSize || r.expandedSize > BlockBufferSize) {
      *error = "record " + std::to_string(records->size()) + " at offset " + std::to_string(at) +
               ": Pack record size error (" + std::to_string(r.packedSize) + " packed, " +
               std::to_string(r.expandedSize) + " expanded bytes; at most " +
               std::to_string(BlockBufferSize) + ")";
      return false;
    }
    size_t available = packed.size() - std::min(packed.size(), at + PackHeaderSize);
    uint32_t body = r.packedSize != 0 ? r.packedSize : r.expandedSize;
    if (available < body) {
      *error = "record " + std::to_string(records->size()) + " at offset " + std::to_string(at) +
               ": Read source error (" + std::to_string(available) + " of " + std::to_string(body) +
               " bytes)";
      return false;
    }
    r.isCheck = r.packedSize != 0 && IsCheckRecordBody(packed.data() + at + PackHeaderSize, r.packedSize);
    records->push_back(r);
    at += PackHeaderSize + body;
  }
  return true;
}

bool ContinuesEarlierHistory(const std::vector<uint8_t>& packed) {
  // Its first compressed block, decoded from an all-zero ring and from a
  // ring of other tokens: a block that copies only what it wrote itself
  // decodes the same from both.
  PackLayout layout = ReadLayout(packed);
  for (const ListedRecord& r : layout.first().records) {
    if (r.packedSize == 0 || r.isCheck) continue;
    std::unique_ptr<PackExpander> expander[2] = {std::unique_ptr<PackExpander>(new PackExpander()),
                                                 std::unique_ptr<PackExpander>(new PackExpander())};
    uint32_t flags[2];
    for (int pass = 0; pass < 2; ++pass) {
      ResetDecoderState(&expander[pass]->decoder);
      if (pass == 1) {
        for (uint32_t& token : expander[pass]->decoder.TokenRing) token = 0x5A;
      }
      flags[pass] = DecodeBlock(&expander[pass]->decoder, expander[pass]->output.get(), r.expandedSize,
                                packed.data() + r.offset + PackHeaderSize, r.packedSize);
    }
    return flags[0] != flags[1] ||
           memcmp(expander[0]->output.get(), expander[1]->output.get(), r.expandedSize) != 0;
  }
  return false;
}
