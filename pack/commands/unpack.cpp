// setuppack unpack: PACKED DEST pairs, each written as it expands and put in
// place once all are checked.
#include <ctype.h>

#include "cli/status.h"
#include "commands/commands.h"
#include "commands/expand_files.h"
#include "commands/file_pairs.h"

namespace {

// A pack file does not hold its own name; media's two say theirs:
// INSTALL.SC_ -> INSTALL.SCR, INSTALL.EX_ -> INSTALL.EXE (in their case).
bool ExpandedName(const std::string& packed, std::string* name, std::string* error) {
  std::string base = BaseNameOf(packed), upper = base;
  for (char& c : upper) c = (char)toupper((unsigned char)c);
  bool script = upper == "INSTALL.SC_", installer = upper == "INSTALL.EX_";
  if (!script && !installer) {
    *error =
        "'" + packed +
        "': a pack file does not hold its name, and only media's INSTALL.SC_ and INSTALL.EX_ say theirs: "
        "give the name to write (unpack PACKED DEST), or -c for standard output";
    return false;
  }
  bool lower = islower((unsigned char)base[9]) != 0;
  base.back() = script ? (lower ? 'r' : 'R') : (lower ? 'e' : 'E');
  *name = WithBaseName(packed, base);
  return true;
}

}  // namespace

int Unpack(const Invocation& in) {
  std::vector<std::string> sources;
  std::vector<Destination> destinations;
  int planned = PlanPairs(in, "unpack needs PACKED DEST pairs, or one PACKED", "own pack file", ExpandedName,
                          &sources, &destinations);
  if (planned != ExitSuccess) return planned;
  // Every file is written as it expands, and put in place only once all are
  // checked, so that damage anywhere writes nothing (unless salvaged).
  std::string error;
  Expansion expansion;
  expansion.quiet = in.quiet;
  expansion.verbose = in.verbose;
  size_t failed = 0;
  if (!ReadAndExpand(sources, &destinations, in.salvage, &expansion, &failed, &error))
    return DataError(error);
  if (!CommitAll(&expansion, &error)) return DataError(error);
  std::vector<std::string> targets;
  for (const Destination& d : destinations) targets.push_back(d.name);
  return ReportSalvage(sources, targets, expansion) ? ExitSuccess : ExitData;
}
