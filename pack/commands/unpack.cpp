// setuppack unpack: PACKED DEST pairs, each written as it expands and put in
// place once all are checked.
#include "cli/status.h"
#include "commands/commands.h"
#include "commands/expand_files.h"
#include "commands/file_pairs.h"

int Unpack(const Invocation& in) {
  std::vector<std::string> sources;
  std::vector<Destination> destinations;
  int planned = PlanPairs(in, "unpack needs PACKED DEST pairs", "own pack file", &sources, &destinations);
  if (planned != ExitSuccess) return planned;
  // Every file is written as it expands, and put in place only once all are
  // checked, so that damage anywhere writes nothing (unless salvaged).
  std::string error;
  Expansion expansion;
  expansion.quiet = in.quiet;
  size_t failed = 0;
  if (!ReadAndExpand(sources, &destinations, in.salvage, &expansion, &failed, &error))
    return DataError(error);
  if (!CommitAll(&expansion, &error)) return DataError(error);
  std::vector<std::string> targets;
  for (const Destination& d : destinations) targets.push_back(d.name);
  return ReportSalvage(sources, targets, expansion) ? ExitSuccess : ExitData;
}
