// Any bytes as a damaged pack file, salvaged after a whole one (so that the
// ring holds another file's history, as an installer's does): no read
// outside the file or the buffers, damage reported exactly when the file
// does not expand whole, every vouched byte within what was written and in
// the order written, and the record chains within the file.
//
// Input: one option byte, then the pack file.
//   bit 0  a script is expanded first (else the ring is fresh)
//   bit 1  the first record's own CRC-32 is rewritten when it is a check
//          record, so that mutations of its fields get past it
// Before anything reads the file, a compressed record's expanded size is held
// to 8 bytes per packed byte plus 64, as in fuzz_records: the work of an
// input follows its length.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "check_record.h"
#include "encode/encoder.h"
#include "crc32.h"
#include "expand/expand.h"
#include "expand/layout.h"
#include "rescue/salvage.h"

namespace {

const uint32_t BytesPerPackedByte = 8;
const uint32_t BytesForAnyRecord = 64;

void Require(bool condition) {
  if (!condition) abort();
}

// Holds every compressed record's expanded size (in every chain, and the
// one cut short) to what its packed bytes could stand for.
void BoundWork(std::vector<uint8_t>* packed) {
  for (size_t at = FindRecordMagic(packed->data(), packed->size(), 0); at + PackHeaderSize <= packed->size();
       at = FindRecordMagic(packed->data(), packed->size(), at + 1)) {
    uint8_t* header = packed->data() + at;
    uint32_t packedSize = ReadLE32(header + 8);
    uint32_t most = packedSize * BytesPerPackedByte + BytesForAnyRecord;
    if (packedSize != 0 && packedSize <= BlockBufferSize && ReadLE32(header + 12) > most) {
      WriteLE32(header + 12, most);
    }
  }
}

class KeptSink final : public ExpansionSink {
 public:
  void Take(const uint8_t* data, size_t size) override { bytes.insert(bytes.end(), data, data + size); }
  std::vector<uint8_t> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t options = data[0];
  std::vector<uint8_t> packed(data + 1, data + size);
  BoundWork(&packed);
  if ((options & 2) && packed.size() >= PackHeaderSize + CheckFixedSize &&
      IsCheckRecordBody(packed.data() + PackHeaderSize, (uint32_t)(packed.size() - PackHeaderSize))) {
    uint32_t body = ReadLE32(packed.data() + 8);
    if (body >= CheckFixedSize && body <= packed.size() - PackHeaderSize) {
      uint8_t* check = packed.data() + PackHeaderSize;
      WriteLE32(check + body - 4, Crc32Update(0, check, body - 4));
    }
  }

  PackLayout layout = ReadLayout(packed);
  for (const RecordChain& chain : layout.chains) {
    Require(chain.from <= chain.endOffset && chain.endOffset <= packed.size());
    for (const ListedRecord& r : chain.records) {
      Require(r.offset + PackHeaderSize + (uint64_t)(r.packedSize ? r.packedSize : r.expandedSize) <=
              chain.endOffset);
    }
  }

  static std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  if (options & 1) {
    // A stored record, then a block of literals and a run: the ring then
    // holds tokens a fresh one does not.
    static const uint8_t script[] = {'P',  'A',  'C',  'K',  'D',  'A',  'T',  '$',  10,
                                     0,    0,    0,    10,   0,    0,    0,    0xF6, 0xFB,
                                     0xBD, 0xF1, 0x80, 0x05, 0xED, 0x04, 0xC6, 0x80};
    SalvageReport first;
    SalvagePackFile(expander.get(), std::vector<uint8_t>(script, script + sizeof script), nullptr, &first);
    Require(first.whole);
  }
  SalvageReport report;
  KeptSink kept;
  SalvagePackFile(expander.get(), packed, &kept, &report);
  Require(report.written == kept.bytes.size());
  Require(report.whole == report.damage.empty());
  Require(report.vouched <= report.written);
  uint64_t vouched = 0, after = 0;
  for (const auto& stretch : report.vouchedStretches) {
    Require(stretch.first >= after && stretch.second > 0 && stretch.first + stretch.second <= report.written);
    after = stretch.first + stretch.second;
    vouched += stretch.second;
  }
  Require(vouched == report.vouched);
  return 0;
}
