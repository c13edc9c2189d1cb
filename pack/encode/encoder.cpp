#include "encode/encoder.h"

#include <math.h>
#include <string.h>

#include <algorithm>

#include "check_record.h"
#include "code_tree.h"
#include "crc32.h"

namespace {

// ---------------------------------------------------------------------------
// Canonical tokens

inline uint32_t RunToken(uint32_t byte, uint32_t length) { return byte | ((length - MinRunBytes) << 8); }

// Cuts a block into the tokens the decoder's ring will hold. A run token must
// stand for at least 4 bytes: a run of 3 would carry count 0, which the
// decoder stores as a one-byte token.
void Tokenize(const uint8_t* data, uint32_t size, uint32_t runThreshold, std::vector<uint32_t>* tokens) {
  tokens->clear();
  uint32_t threshold = std::max<uint32_t>(runThreshold, MinRunBytes + 1);
  uint32_t i = 0;
  while (i < size) {
    uint32_t run = 1;
    while (i + run < size && data[i + run] == data[i]) ++run;
    if (run < threshold) {
      for (uint32_t k = 0; k < run; ++k) tokens->push_back(data[i]);
    } else {
      uint32_t left = run;
      while (left > 0) {
        uint32_t piece = std::min(left, MaxRunBytes);
        uint32_t rest = left - piece;
        if (rest > 0 && rest < MinRunBytes + 1) piece -= (MinRunBytes + 1) - rest;
        tokens->push_back(RunToken(data[i], piece));
        left -= piece;
      }
    }
    i += run;
  }
}

// ---------------------------------------------------------------------------
// Longest matches over the token window

const uint32_t MaxHashBits = 16;

// At least as many heads as positions to insert, up to 2^16: a small block
// does not clear and walk a table sized for a full one.
inline uint32_t HashBitsFor(uint32_t positions) {
  uint32_t bits = 12;
  while (bits < MaxHashBits && (1u << bits) < positions) ++bits;
  return bits;
}

inline uint32_t HashTokens(const uint32_t* t, uint32_t bits) {
  uint32_t h = t[0] * 0x9E3779B1u ^ t[1] * 0x85EBCA77u ^ t[2] * 0xC2B2AE3Du;
  return h >> (32 - bits);
}

// window holds the ring as it is at the start of the block (RingSize tokens)
// followed by the block's tokens. For every block token i, finds the longest
// run of tokens (up to MaxMatchTokens) that a match can copy, and its distance.
// Finds them into scratch->longest and scratch->distance.
void FindLongestMatches(const std::vector<uint32_t>& window, uint32_t chainLimit, EncoderScratch* scratch) {
  const uint32_t total = (uint32_t)window.size();
  const uint32_t blockTokens = total - RingSize;
  std::vector<uint8_t>* longest = &scratch->longest;
  std::vector<uint16_t>* distance = &scratch->distance;
  longest->assign(blockTokens, 0);
  distance->assign(blockTokens, 0);
  const uint32_t bits = HashBitsFor(total);
  std::vector<int32_t>& head = scratch->head;
  std::vector<int32_t>& prev = scratch->prev;
  head.assign(1u << bits, -1);
  prev.assign(total, -1);
  const uint32_t* w = window.data();

  auto insert = [&](uint32_t j) {
    if (j + MinMatchTokens > total) return;
    uint32_t h = HashTokens(w + j, bits);
    prev[j] = head[h];
    head[h] = (int32_t)j;
  };
  for (uint32_t j = 0; j < RingSize; ++j) insert(j);

  for (uint32_t i = 0; i < blockTokens; ++i) {
    uint32_t p = RingSize + i;
    uint32_t limit = std::min<uint32_t>(MaxMatchTokens, total - p);
    if (limit >= MinMatchTokens) {
      uint32_t best = 0, bestFrom = 0, chain = chainLimit;
      // Sources from p - RingSize (distance 4095) up to p - 1 (distance 0).
      for (int32_t j = head[HashTokens(w + p, bits)]; j >= (int32_t)i && chain-- > 0; j = prev[j]) {
        const uint32_t* a = w + j;
        const uint32_t* b = w + p;
        if (a[best] != b[best]) continue;
        uint32_t len = 0;
        while (len < limit && a[len] == b[len]) ++len;
        if (len > best) {
          best = len;
          bestFrom = (uint32_t)j;
          if (len == limit) break;
        }
      }
      if (best >= MinMatchTokens) {
        (*longest)[i] = (uint8_t)best;
        (*distance)[i] = (uint16_t)(p - bestFrom - 1);
      }
    }
    insert(p);
  }
}

// ---------------------------------------------------------------------------
// Parse: the cheapest path through the block under a symbol cost model

const uint32_t CostScale = 16;  // costs in sixteenths of a bit

struct CostModel {
  uint32_t symbol[SymbolCount];
};

inline uint32_t TokenCost(const CostModel& model, uint32_t token) {
  if (TokenCount(token) == 0) return model.symbol[token];
  return model.symbol[RunSymbol] + model.symbol[TokenByte(token)] + model.symbol[TokenCount(token)];
}

inline uint32_t MatchCost(const CostModel& model, uint32_t length) {
  return model.symbol[length + MatchSymbolBias] + DistanceBits * CostScale;
}

// Prices every symbol from how often it occurs, as an adaptive code that
// starts every count at 1 ends up coding it.
void PriceFromCounts(const uint32_t* counts, CostModel* model) {
  double total = 0;
  for (uint32_t s = 0; s < SymbolCount; ++s) total += counts[s] + 1.0;
  for (uint32_t s = 0; s < SymbolCount; ++s) {
    double bits = log2(total / (counts[s] + 1.0));
    model->symbol[s] = (uint32_t)(bits * CostScale + 0.5);
  }
}

// choice[i] after the call: 1 to code token i alone, or a match length.
// Shortest path through the block: every token is a node, coding a token alone
// or a match of 3 to longest[i] tokens are the edges. All matches of one
// length cost the same (the distance always takes 12 bits), so the longest
// match at each token offers every useful choice.
// The parse goes to scratch->choice.
void ChooseParse(const std::vector<uint32_t>& tokens, const CostModel& model, EncoderScratch* scratch) {
  const uint32_t n = (uint32_t)tokens.size();
  const std::vector<uint8_t>& longest = scratch->longest;
  std::vector<uint8_t>* choice = &scratch->choice;
  std::vector<uint32_t>& cost = scratch->cost;
  std::vector<uint8_t>& step = scratch->step;
  cost.assign(n + 1, UINT32_MAX);
  step.assign(n + 1, 0);
  cost[0] = 0;
  uint32_t matchCost[MaxMatchTokens + 1];
  for (uint32_t len = MinMatchTokens; len <= MaxMatchTokens; ++len) matchCost[len] = MatchCost(model, len);

  for (uint32_t i = 0; i < n; ++i) {
    uint32_t here = cost[i];
    uint32_t single = here + TokenCost(model, tokens[i]);
    if (single < cost[i + 1]) {
      cost[i + 1] = single;
      step[i + 1] = 1;
    }
    for (uint32_t len = MinMatchTokens; len <= longest[i]; ++len) {
      uint32_t c = here + matchCost[len];
      if (c < cost[i + len]) {
        cost[i + len] = c;
        step[i + len] = (uint8_t)len;
      }
    }
  }

  choice->assign(n, 0);
  for (uint32_t at = n; at > 0;) {
    uint32_t len = step[at];
    at -= len;
    (*choice)[at] = (uint8_t)len;
  }
}

void CountParse(const std::vector<uint32_t>& tokens, const std::vector<uint8_t>& choice, uint32_t* counts) {
  memset(counts, 0, sizeof(uint32_t) * SymbolCount);
  for (uint32_t i = 0; i < tokens.size();) {
    uint32_t len = choice[i];
    if (len == 1) {
      uint32_t t = tokens[i];
      if (TokenCount(t) == 0) {
        ++counts[t];
      } else {
        ++counts[RunSymbol];
        ++counts[TokenByte(t)];
        ++counts[TokenCount(t)];
      }
    } else {
      ++counts[len + MatchSymbolBias];
    }
    i += len;
  }
}

// ---------------------------------------------------------------------------
// Output: the adaptive code, bit by bit, most significant first

class BitSink {
 public:
  explicit BitSink(std::vector<uint8_t>* out) : out_(out) {}
  void Put(uint32_t bits, uint32_t count) {
    while (count > 0) {
      uint32_t take = std::min(count, 8 - used_);
      uint32_t chunk = (bits >> (count - take)) & ((1u << take) - 1);
      pending_ |= chunk << (8 - used_ - take);
      used_ += take;
      count -= take;
      if (used_ == 8) Flush();
    }
  }
  void Finish() {
    if (used_ > 0) Flush();
  }

 private:
  void Flush() {
    out_->push_back((uint8_t)pending_);
    pending_ = 0;
    used_ = 0;
  }
  std::vector<uint8_t>* out_;
  uint32_t pending_ = 0;
  uint32_t used_ = 0;
};

void PutSymbol(CodeTree* tree, BitSink* sink, uint32_t symbol) {
  SymbolCode code = CodeOfSymbol(tree, symbol);
  sink->Put(code.bits, code.length);
  UpdateTree(tree, symbol);
}

}  // namespace

uint32_t EncodeBlock(EncoderState* state, const uint8_t* data, uint32_t size, bool isLast,
                     std::vector<uint8_t>* packed) {
  const EncoderOptions& options = state->options;
  EncoderScratch* scratch = &state->scratch;
  std::vector<uint32_t>& tokens = scratch->tokens;
  Tokenize(data, size, options.runThreshold, &tokens);
  // End the block after a whole number of ring turns. Any end would decode
  // correctly; this one packs better, since the next block then finds the
  // ring in order and overwrites the oldest tokens first.
  if (!isLast && tokens.size() > RingSize) {
    size_t keep = tokens.size() / RingSize * RingSize;
    if (keep < tokens.size()) {
      tokens.resize(keep);
      size = 0;
      for (uint32_t t : tokens) size += TokenLength(t);
    }
  }

  std::vector<uint32_t>& window = scratch->window;
  window.assign(state->TokenRing, state->TokenRing + RingSize);
  window.insert(window.end(), tokens.begin(), tokens.end());
  FindLongestMatches(window, options.chainLimit, scratch);
  const std::vector<uint16_t>& distance = scratch->distance;

  // First prices: literals from the block's byte statistics, the rest flat.
  uint32_t counts[SymbolCount] = {};
  for (uint32_t t : tokens) ++counts[TokenByte(t)];
  for (uint32_t s = FirstMatchSymbol; s < SymbolCount; ++s) counts[s] = (uint32_t)(tokens.size() / 512);
  CostModel model;
  PriceFromCounts(counts, &model);

  // Each pass prices the symbols by how often the previous parse used them.
  const std::vector<uint8_t>& choice = scratch->choice;
  ChooseParse(tokens, model, scratch);
  for (uint32_t pass = 1; pass < options.parsePasses; ++pass) {
    CountParse(tokens, choice, counts);
    PriceFromCounts(counts, &model);
    ChooseParse(tokens, model, scratch);
  }

  CodeTree tree;
  ResetTree(&tree);
  BitSink sink(packed);
  std::vector<uint16_t>* log = state->symbolLog;
  auto put = [&](uint32_t symbol) {
    PutSymbol(&tree, &sink, symbol);
    if (log) log->push_back((uint16_t)symbol);
  };
  for (uint32_t i = 0; i < tokens.size();) {
    uint32_t len = choice[i];
    if (len == 1) {
      uint32_t t = tokens[i];
      if (TokenCount(t) == 0) {
        put(t);
      } else {
        put(RunSymbol);
        put(TokenByte(t));
        put(TokenCount(t));
      }
    } else {
      put(len + MatchSymbolBias);
      sink.Put(distance[i], DistanceBits);
    }
    i += len;
  }
  sink.Finish();
  if (log) log->push_back(SymbolLogBlockEnd);

  // The decoder stores every token at write indexes 0, 1, 2, ... of the ring.
  for (uint32_t i = 0; i < tokens.size(); ++i) state->TokenRing[i & RingMask] = tokens[i];
  return size;
}

namespace {

// Encodes the next block of at most maxSize bytes. With splitBlocks it also
// tries a block half as long followed by one for the rest, and keeps the
// half when the pair codes the same bytes in fewer bits: a fresh code tree
// can pay off where the data changes character.
uint32_t EncodeNextBlock(EncoderState* state, const uint8_t* data, uint32_t maxSize, bool isLast,
                         std::vector<uint8_t>* body) {
  const uint32_t MinSplitSize = 8192;
  if (!state->options.splitBlocks || maxSize < 2 * MinSplitSize) {
    return EncodeBlock(state, data, maxSize, isLast, body);
  }
  std::vector<uint32_t> before(state->TokenRing, state->TokenRing + RingSize);
  std::vector<uint16_t>* log = state->symbolLog;
  size_t logStart = log ? log->size() : 0;
  uint32_t whole = EncodeBlock(state, data, maxSize, isLast, body);
  std::vector<uint32_t> afterWhole(state->TokenRing, state->TokenRing + RingSize);
  std::vector<uint16_t> wholeSymbols;
  if (log) {
    wholeSymbols.assign(log->begin() + logStart, log->end());
    log->resize(logStart);
  }

  std::copy(before.begin(), before.end(), state->TokenRing);
  std::vector<uint8_t> first, second;
  uint32_t half = EncodeBlock(state, data, maxSize / 2, false, &first);
  std::vector<uint32_t> afterHalf(state->TokenRing, state->TokenRing + RingSize);
  size_t halfEnd = log ? log->size() : 0;
  uint32_t rest = EncodeBlock(state, data + half, maxSize - half, isLast, &second);
  // The rest is only a trial: it is encoded again as the next block.
  if (log) log->resize(halfEnd);

  double wholeCost = (double)(body->size() + PackHeaderSize) / whole;
  double splitCost = (double)(first.size() + second.size() + 2 * PackHeaderSize) / (half + rest);
  if (splitCost < wholeCost && first.size() < half) {
    std::copy(afterHalf.begin(), afterHalf.end(), state->TokenRing);
    body->swap(first);
    return half;
  }
  std::copy(afterWhole.begin(), afterWhole.end(), state->TokenRing);
  if (log) {
    log->resize(logStart);
    log->insert(log->end(), wholeSymbols.begin(), wholeSymbols.end());
  }
  return whole;
}

void AppendRecordHeader(std::vector<uint8_t>* out, uint32_t packedSize, uint32_t expandedSize) {
  uint8_t header[PackHeaderSize];
  memcpy(header, PackMagic, PackMagicSize);
  WriteLE32(header + 8, packedSize);
  WriteLE32(header + 12, expandedSize);
  out->insert(out->end(), header, header + PackHeaderSize);
}

}  // namespace

void PackSegment(EncoderState* state, const uint8_t* data, size_t size, std::vector<uint8_t>* out,
                 std::vector<RecordInfo>* records) {
  std::vector<uint8_t>& body = state->scratch.body;
  uint32_t savedRing[RingSize];
  for (size_t at = 0; at < size;) {
    uint32_t chunk = (uint32_t)std::min<size_t>(size - at, BlockBufferSize);
    memcpy(savedRing, state->TokenRing, sizeof savedRing);
    size_t logStart = state->symbolLog ? state->symbolLog->size() : 0;
    body.clear();
    // The segment's last block ends where the segment does, so that where
    // the next one begins depends on the data alone.
    chunk = EncodeNextBlock(state, data + at, chunk, at + chunk == size, &body);

    // A block that does not shrink is stored, and so is one that happens to
    // begin like a check record, which readers would take for one.
    RecordInfo info;
    if (body.size() >= chunk || IsCheckRecordBody(body.data(), (uint32_t)body.size())) {
      // Stored records leave the decoder's ring alone.
      memcpy(state->TokenRing, savedRing, sizeof savedRing);
      if (state->symbolLog) state->symbolLog->resize(logStart);
      info = {0, chunk, 0};
    } else {
      info = {(uint32_t)body.size(), chunk, 0};
    }
    info.crc = Crc32Update(0, data + at, chunk);
    AppendRecordHeader(out, info.packedSize, info.expandedSize);
    if (info.packedSize != 0) {
      out->insert(out->end(), body.begin(), body.end());
    } else {
      out->insert(out->end(), data + at, data + at + chunk);
    }
    if (records) records->push_back(info);
    at += chunk;
  }
}

void ContinueRing(uint32_t* ring, const uint32_t* segmentRing) {
  for (uint32_t i = 0; i < RingSize; ++i) {
    if (segmentRing[i] != UnknownToken) ring[i] = segmentRing[i];
  }
}

void PackBuffer(EncoderState* state, const uint8_t* data, size_t size, std::vector<uint8_t>* out,
                std::vector<RecordInfo>* records, void (*progress)(size_t done, size_t total)) {
  uint32_t ring[RingSize];
  for (size_t at = 0; at < size; at += PackSegmentSize) {
    if (at > 0) {
      memcpy(ring, state->TokenRing, sizeof ring);
      std::fill(state->TokenRing, state->TokenRing + RingSize, UnknownToken);
    }
    PackSegment(state, data + at, std::min(size - at, PackSegmentSize), out, records);
    if (at > 0) {
      ContinueRing(ring, state->TokenRing);
      memcpy(state->TokenRing, ring, sizeof ring);
    }
    if (progress) progress(std::min(size, at + PackSegmentSize), size);
  }
}

void AppendCheckRecord(std::vector<uint8_t>* out, uint64_t size, uint32_t crc,
                       const std::vector<RecordInfo>& records) {
  CheckRecord check = {};
  check.expandedSize = size;
  check.crc = crc;
  check.listedRecords = records.size() <= CheckMaxListedRecords ? (uint32_t)records.size() : 0;
  std::vector<uint32_t> recordCrcs;
  for (const RecordInfo& info : records) recordCrcs.push_back(info.crc);
  const uint32_t bodySize = CheckFixedSize + 4 * check.listedRecords;
  const size_t start = out->size();
  AppendRecordHeader(out, bodySize, 0);
  out->resize(start + PackHeaderSize + bodySize);
  WriteCheckRecord(out->data() + start + PackHeaderSize, bodySize, &check, recordCrcs.data());
}

void PackFile(EncoderState* state, const uint8_t* data, size_t size, bool withCheck,
              std::vector<uint8_t>* out, void (*progress)(size_t done, size_t total)) {
  if (!withCheck) {
    PackBuffer(state, data, size, out, nullptr, progress);
    return;
  }
  // The check record lists the records, so they are packed first and it is
  // put in front of them.
  std::vector<uint8_t> records;
  std::vector<RecordInfo> infos;
  PackBuffer(state, data, size, &records, &infos, progress);
  AppendCheckRecord(out, size, Crc32Update(0, data, size), infos);
  out->insert(out->end(), records.begin(), records.end());
}
