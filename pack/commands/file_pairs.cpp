#include "commands/file_pairs.h"

#include <set>

#include "cli/status.h"

namespace {

struct FilePair {
  std::string from;
  std::string to;
};

#ifdef _WIN32
const char PathSeparators[] = "/\\";
#else
const char PathSeparators[] = "/";
#endif

// The pairs of the command line: SOURCE DEST pairs, or, with -c, with one
// SOURCE alone or in gzip's way, each SOURCE with its own destination.
int Pairs(const Invocation& in, const char* usage, DefaultName defaultName, std::vector<FilePair>* pairs) {
  const std::vector<std::string>& args = in.files;
  if (args.empty()) return UsageError(usage);
  if (in.toStdout || in.filesOnly || args.size() == 1) {
    for (const std::string& source : args) {
      std::string name = "-", error;
      if (!in.toStdout) {
        if (IsStandardStream(source)) {
          return UsageError("standard input has no name to write to: give one, or -c for standard output");
        }
        if (!defaultName(source, &name, &error)) return UsageError(error);
      }
      pairs->push_back({source, name});
    }
    return ExitSuccess;
  }
  if (args.size() % 2 != 0) return UsageError(usage);
  for (size_t i = 0; i < args.size(); i += 2) pairs->push_back({args[i], args[i + 1]});
  return ExitSuccess;
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

std::string BaseNameOf(const std::string& path) {
  size_t slash = path.find_last_of(PathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithBaseName(const std::string& path, const std::string& base) {
  return path.substr(0, path.size() - BaseNameOf(path).size()) + base;
}

int PlanPairs(const Invocation& in, const char* usage, const char* ownSource, DefaultName defaultName,
              std::vector<std::string>* sources, std::vector<Destination>* destinations) {
  std::vector<FilePair> pairs;
  int paired = Pairs(in, usage, defaultName, &pairs);
  if (paired != ExitSuccess) return paired;
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
