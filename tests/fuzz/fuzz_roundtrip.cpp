// Any bytes through the encoder and back must come out unchanged, in two
// files packed through one state, with check records or without: through the
// record loop that setuppack and setup.exe run (which verifies the check
// records against zlib's CRC-32 here), and through the plain reference
// decoder that knows only records and blocks. The encoder's copy of the ring
// must end as the decoders' ring.
//
// Input: three option bytes, then the data.
//   byte 0  bits 0-3 run threshold, bits 4-5 parse passes (1, 2, 3, 1),
//           bit 6 no check records, bit 7 split blocks
//   byte 1  chain limit - 1
//   byte 2  from 192 up: a run of (byte 2 - 191) KiB ends the second file
// The first third of the data is the first file; the second is the rest
// followed by the first again, so that it copies from what the first file
// left in the ring, and from far back. The run repeats the second file's last
// byte (0 when it has none). It costs little to pack, and lets small inputs
// make files of several blocks, whose first block ends at a ring turn: the
// round trip's work stays close to its input's size. (Repeated data is the
// parse's dearest: a match of every length at every token.)
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <vector>

#include "encode/encoder.h"
#include "expand/expand.h"
#include "expand/records.h"
#include "reference_decoder.h"

namespace {

uint32_t ZlibCrc(const std::vector<uint8_t>& data) {
  return data.empty() ? 0 : (uint32_t)crc32(0, data.data(), (uInt)data.size());
}

// Expands a pack file into *out as a reader that knows nothing of check
// records.
void ExpandByFormatAlone(const std::vector<uint8_t>& file, ReferenceDecoder* decoder,
                         std::vector<uint8_t>* into) {
  static std::vector<uint8_t> block;
  std::vector<uint8_t>& out = *into;
  out.clear();
  for (size_t at = 0; at < file.size();) {
    if (file.size() - at < PackHeaderSize || memcmp(file.data() + at, PackMagic, PackMagicSize) != 0) abort();
    uint32_t packedSize = ReadLE32(file.data() + at + 8), expandedSize = ReadLE32(file.data() + at + 12);
    at += PackHeaderSize;
    uint32_t body = packedSize != 0 ? packedSize : expandedSize;
    if (file.size() - at < body) abort();
    if (packedSize == 0) {
      out.insert(out.end(), file.data() + at, file.data() + at + expandedSize);
    } else {
      decoder->DecodeInto(file.data() + at, packedSize, expandedSize, &block);
      if (decoder->Consumed() > 8 * packedSize || block.size() > BlockBufferSize) abort();
      out.insert(out.end(), block.begin(), block.begin() + expandedSize);
    }
    at += body;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // One encoder for every input, its ring and options set afresh each time:
  // only its work buffers, which no block reads before it writes them, carry
  // over.
  static EncoderState* const state = new EncoderState();
  memset(state->TokenRing, 0, sizeof state->TokenRing);
  state->options = EncoderOptions();
  state->options.runThreshold = data[0] & 0x0F;
  state->options.parsePasses = 1 + ((data[0] >> 4) & 3) % 3;
  bool withCheck = (data[0] & 0x40) == 0;
  state->options.splitBlocks = (data[0] & 0x80) != 0;
  state->options.chainLimit = 1 + data[1];
  size_t tail = data[2] >= 192 ? (data[2] - 191) * 1024u : 0;
  data += 3;
  size -= 3;
  // The files and their packed forms keep their capacity from one input to
  // the next: under ASan, memory freed is held back before it is reused, so
  // fresh buffers for every input cost page faults and clearing.
  static std::vector<std::vector<uint8_t>> files(2), packed(2), expanded;
  static std::vector<uint8_t> again;
  static PackExpander* const expander = new PackExpander();
  files[0].assign(data, data + size / 3);
  files[1].assign(data + files[0].size(), data + size);
  files[1].insert(files[1].end(), files[0].begin(), files[0].end());
  files[1].insert(files[1].end(), tail, files[1].empty() ? 0 : files[1].back());

  for (size_t i = 0; i < files.size(); ++i) {
    packed[i].clear();
    PackFile(state, files[i].data(), files[i].size(), withCheck, &packed[i], nullptr);
  }
  std::vector<PackCheck> checks;
  std::string error;
  if (!ExpandPackedData(expander, packed, &expanded, &checks, nullptr, &error)) abort();
  if (expanded != files) abort();
  for (size_t i = 0; i < files.size(); ++i) {
    const PackCheck& c = checks[i];
    if (c.present != (withCheck ? 1u : 0u)) abort();
    if (withCheck && (c.expectedSize != files[i].size() || c.expectedCrc != ZlibCrc(files[i]) ||
                      c.listedRecords != c.dataRecords)) {
      abort();
    }
  }

  static ReferenceDecoder* const reference = new ReferenceDecoder();
  memset(reference->ring, 0, sizeof reference->ring);
  for (size_t i = 0; i < files.size(); ++i) {
    ExpandByFormatAlone(packed[i], reference, &again);
    if (again != files[i]) abort();
  }
  if (memcmp(reference->ring, state->TokenRing, sizeof state->TokenRing) != 0) abort();
  return 0;
}
