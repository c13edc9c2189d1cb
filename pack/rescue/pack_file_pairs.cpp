#include "rescue/pack_file_pairs.h"

#include <algorithm>
#include <memory>
#include <string>

#include "expand/expand.h"
#include "expand/records.h"

namespace {

// Candidates tried for each file that needs history: the work stays a small
// multiple of reading the files.
const size_t MostTrials = 8;

// Whether the files expand whole, in order, through one fresh decoder state.
bool ExpandWhole(const std::vector<const std::vector<uint8_t>*>& files) {
  std::unique_ptr<PackExpander> expander(new PackExpander());
  ResetDecoderState(&expander->decoder);
  for (const std::vector<uint8_t>* packed : files) {
    PackCheck check;
    std::string error;
    if (!ExpandPackFile(expander.get(), *packed, nullptr, &check, &error)) return false;
  }
  return true;
}

}  // namespace

std::vector<std::vector<size_t>> PairPackFiles(size_t count, const ReadPackFile& read) {
  // A file needs history when it copies from tokens it did not write and
  // does not expand without them.
  std::vector<bool> needs(count, false), taken(count, false);
  for (size_t i = 0; i < count; ++i) {
    std::vector<uint8_t> packed;
    needs[i] = read(i, &packed) && ContinuesEarlierHistory(packed) && !ExpandWhole({&packed});
  }
  std::vector<long> scriptOf(count, -1);
  for (size_t i = 0; i < count; ++i) {
    if (!needs[i]) continue;
    // The one before it, then the others by distance.
    std::vector<size_t> candidates;
    for (size_t d = 1; d < count && candidates.size() < MostTrials; ++d) {
      if (d <= i && !needs[i - d] && !taken[i - d]) candidates.push_back(i - d);
      if (i + d < count && !needs[i + d] && !taken[i + d] && candidates.size() < MostTrials) {
        candidates.push_back(i + d);
      }
    }
    if (candidates.empty()) continue;
    std::vector<uint8_t> installer;
    if (!read(i, &installer)) continue;
    size_t chosen = candidates[0];  // a damaged installer still goes with the nearest script
    for (size_t c : candidates) {
      std::vector<uint8_t> script;
      if (read(c, &script) && ExpandWhole({&script, &installer})) {
        chosen = c;
        break;
      }
    }
    taken[chosen] = taken[i] = true;
    scriptOf[i] = (long)chosen;
  }
  std::vector<std::vector<size_t>> groups;
  std::vector<bool> placed(count, false);
  for (size_t i = 0; i < count; ++i) {
    if (placed[i]) continue;
    if (scriptOf[i] >= 0) {
      groups.push_back({(size_t)scriptOf[i], i});
      placed[(size_t)scriptOf[i]] = true;
    } else {
      // A script whose installer lies further on is grouped where it lies.
      auto installer = std::find(scriptOf.begin(), scriptOf.end(), (long)i);
      if (installer != scriptOf.end()) {
        size_t j = (size_t)(installer - scriptOf.begin());
        groups.push_back({i, j});
        placed[j] = true;
      } else {
        groups.push_back({i});
      }
    }
    placed[i] = true;
  }
  return groups;
}
