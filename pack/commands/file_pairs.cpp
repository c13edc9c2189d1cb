#include "commands/file_pairs.h"

#include <set>

#include "cli/status.h"

namespace {

struct FilePair {
  std::string from;
  std::string to;
};

bool Pairs(const std::vector<std::string>& args, std::vector<FilePair>* pairs) {
  if (args.empty() || args.size() % 2 != 0) return false;
  for (size_t i = 0; i < args.size(); i += 2) pairs->push_back({args[i], args[i + 1]});
  return true;
}

}  // namespace

bool CheckNamesOnce(const std::vector<std::string>& sources, const std::vector<std::string>& destinations,
                    std::string* error) {
  size_t fromInput = 0;
  for (const std::string& s : sources) fromInput += IsStandardStream(s);
  if (fromInput > 1) {
    *error = "standard input ('-') can be read only once";
    return false;
  }
  std::set<std::string> seen;
  for (const std::string& d : destinations) {
    if (!IsStandardStream(d) && !seen.insert(d).second) {
      *error = "'" + d + "' is named twice as a destination";
      return false;
    }
  }
  return true;
}

bool PlanAll(const std::vector<std::string>& names, bool force, std::vector<Destination>* destinations,
             std::string* error) {
  destinations->resize(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (!PlanDestination(names[i], force, &(*destinations)[i], error)) return false;
  }
  return true;
}

int PlanPairs(const Invocation& in, const char* usage, const char* ownSource,
              std::vector<std::string>* sources, std::vector<Destination>* destinations) {
  std::vector<FilePair> pairs;
  if (!Pairs(in.files, &pairs)) return UsageError(usage);
  std::vector<std::string> targets;
  for (const FilePair& p : pairs) {
    if (IsSameRegularFile(p.from, p.to)) return UsageError("'" + p.to + "' would overwrite its " + ownSource);
    sources->push_back(p.from);
    targets.push_back(p.to);
  }
  std::string error;
  if (!CheckNamesOnce(*sources, targets, &error)) return UsageError(error);
  if (!PlanAll(targets, in.force, destinations, &error)) return DataError(error);
  return ExitSuccess;
}
