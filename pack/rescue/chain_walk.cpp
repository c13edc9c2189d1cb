#include "rescue/chain_walk.h"

#include <string.h>

#include <string>

#include "check_record.h"
#include "pack_format.h"

WalkedChain WalkChain(ImageBytes* file, uint64_t base, uint64_t size, uint64_t start) {
  WalkedChain chain;
  chain.fileStarts.push_back(start);
  std::string error;
  uint64_t at = start;
  while (size >= PackHeaderSize && at <= size - PackHeaderSize) {
    uint8_t head[PackHeaderSize + CheckRecordIdSize];
    size_t got = 0;
    if (!file->ReadAt(base + at, head, sizeof head, &got, &error) || got < PackHeaderSize ||
        memcmp(head, PackMagic, PackMagicSize) != 0) {
      break;
    }
    uint32_t packedSize = ReadLE32(head + 8), expandedSize = ReadLE32(head + 12);
    uint64_t body = packedSize ? packedSize : expandedSize;
    if (packedSize > BlockBufferSize || expandedSize > BlockBufferSize || body > size - at - PackHeaderSize) {
      break;
    }
    bool isCheck =
        packedSize != 0 &&
        IsCheckRecordBody(head + PackHeaderSize, (uint32_t)std::min<uint64_t>(got - PackHeaderSize, body));
    if (isCheck && at != start) chain.fileStarts.push_back(at);
    at += PackHeaderSize + body;
  }
  chain.end = at;
  if (at == start) chain.fileStarts.clear();
  return chain;
}

std::vector<std::pair<uint64_t, uint64_t>> PackFilesOf(const WalkedChain& chain, uint64_t last) {
  std::vector<std::pair<uint64_t, uint64_t>> files;
  for (size_t i = 0; i < chain.fileStarts.size(); ++i) {
    uint64_t end = i + 1 < chain.fileStarts.size() ? chain.fileStarts[i + 1] : std::max(chain.end, last);
    files.push_back({chain.fileStarts[i], end - chain.fileStarts[i]});
  }
  return files;
}
