// setuppack list: the records of pack files, and of those a program carries.
#include <stdio.h>

#include "check_record.h"
#include "cli/status.h"
#include "commands/commands.h"
#include "commands/expand_files.h"
#include "commands/file_pairs.h"
#include "commands/verdicts.h"
#include "expand/layout.h"
#include "media/branding.h"
#include "media/launcher_settings.h"
#include "media/single_file.h"

namespace {

// Lists the records of one pack file, on standard output or, when file is
// not null, into it; returns the exit status. afterScript: it is an
// INSTALL.EX_, which expands after the script. quiet: no note of padding.
int ListPackedData(const std::string& name, const std::vector<uint8_t>& packed, bool afterScript,
                   FileVerdict* file, bool quiet) {
  PackLayout layout = ReadLayout(packed);
  if (file) file->packedSize = (int64_t)packed.size(), file->listed = true, file->checkRecord = "absent";
  // A file that is not a pack file has no table to show.
  if (layout.NotPackFormat()) {
    if (file) file->verdict = "damaged", file->error = name + ": not in pack format";
    return DataError(name + ": not in pack format");
  }
  const std::vector<ListedRecord>& records = layout.first().records;
  bool text = file == nullptr;
  if (text) printf("%s\n  %10s  %-10s  %10s  %10s\n", name.c_str(), "offset", "type", "packed", "expanded");
  uint64_t expanded = 0;
  uint32_t compressed = 0, checks = 0;
  for (const ListedRecord& r : records) {
    uint32_t body = r.packedSize ? r.packedSize : r.expandedSize;
    const char* type = r.isCheck ? "check" : r.packedSize ? "compressed" : "stored";
    if (text) printf("  %10u  %-10s  %10u  %10u\n", r.offset, type, body, r.expandedSize);
    if (file) file->records.push_back({r.offset, type, body, r.expandedSize});
    expanded += r.expandedSize;
    compressed += r.packedSize != 0 && !r.isCheck;
    checks += r.isCheck;
  }
  if (text) {
    printf(
        "  %zu records (%u check, %u compressed, %zu stored): %zu bytes packed, %llu expanded, ratio %.4f\n",
        records.size(), checks, compressed, records.size() - compressed - checks, packed.size(),
        (unsigned long long)expanded, expanded ? (double)packed.size() / (double)expanded : 0.0);
  }
  std::string says = "  no check record: damage to this file goes unnoticed\n";
  if (!records.empty() && records[0].isCheck) {
    CheckRecord check;
    uint32_t state = ReadCheckRecord(packed.data() + PackHeaderSize, records[0].packedSize, &check);
    char line[160];
    if (state == CheckRecordOk) {
      snprintf(line, sizeof line,
               "  check record: layout %u, expands to %llu bytes of CRC-32 %08x, CRCs of %u records\n",
               check.version, (unsigned long long)check.expandedSize, check.crc, check.listedRecords);
      if (file) file->checkRecord = "match", file->hasCrc = true, file->crc = check.crc;
    } else if (state == CheckRecordUnknownVersion) {
      snprintf(line, sizeof line, "  check record: layout %u, unknown to this setuppack\n", check.version);
      if (file) file->checkRecord = "unknown_layout";
    } else {
      snprintf(line, sizeof line, "  check record: damaged\n");
      if (file) file->checkRecord = "damaged";
    }
    says = line;
  }
  if (text) fputs(says.c_str(), stdout);
  if (afterScript && text) {
    printf(
        "  expands after INSTALL.SC_, as setup.exe expands them: it may copy from that file's decoder "
        "history\n");
  }
  std::string trouble = DescribeChainEnd(layout.first(), packed.size());
  if (!trouble.empty()) {
    if (file) file->verdict = "damaged", SetDamage(file, name + ": " + trouble);
    return DataError(name + ": " + trouble);
  }
  if (layout.first().end == ChainEnd::Padding && text && !quiet) {
    fprintf(stderr, "setuppack: %s: %s\n", name.c_str(),
            DescribePadding(layout.first(), packed.size()).c_str());
  }
  return ExitSuccess;
}

// The file of verdicts to fill for the next pack file listed (null: none).
FileVerdict* NextFile(Verdicts* verdicts, const std::string& path) {
  if (!verdicts) return nullptr;
  verdicts->files.emplace_back();
  verdicts->files.back().path = path;
  return &verdicts->files.back();
}

int ListProgram(const std::string& path, const std::vector<uint8_t>& program, Verdicts* verdicts,
                bool quiet) {
  SealInfo seal;
  std::vector<std::vector<uint8_t>> packed;
  std::string error;
  if (!ReadCarriedPackFiles(program, path, &seal, &packed, &error)) return DataError(error);
  int status = ExitSuccess;
  // Its version information first, when it has any.
  std::vector<std::string> version = DescribeVersion(program);
  if (!version.empty()) printf("%s\n", path.c_str());
  for (const std::string& line : version) printf("%s\n", line.c_str());
  for (int i = 0; i < 2; ++i) {
    std::string name =
        path + " (" + PackNames[i] + " from byte " + std::to_string(seal.files[i].carriedAt) + ")";
    FileVerdict* file = NextFile(verdicts, PackNames[i]);
    if (file) file->container = path, file->carriedAt = (int64_t)seal.files[i].carriedAt;
    if (ListPackedData(name, packed[i], i == 1, file, quiet) != ExitSuccess) status = ExitData;
  }
  std::string settings = SettingsLines(program, path);
  if (!settings.empty()) printf("%s: setup.exe's settings\n%s", path.c_str(), settings.c_str());
  return status;
}

}  // namespace

int List(const Invocation& in, Verdicts* verdicts) {
  if (in.files.empty()) return UsageError("list needs at least one PACKED file");
  std::string error;
  if (!CheckNamesOnce(in.files, {}, &error)) return UsageError(error);
  int status = ExitSuccess;
  for (const std::string& path : in.files) {
    std::vector<uint8_t> packed;
    std::string name = DisplayName(path, true);
    if (!ReadWholeFile(path, &packed, &error)) {
      if (verdicts) verdicts->files.push_back(FailedFile(name, -1, "unreadable", error));
      status = DataError(error);
      continue;
    }
    bool afterScript = IsInstallerName(path);
    int listed = LooksLikeProgram(packed)
                     ? ListProgram(name, packed, verdicts, in.quiet)
                     : ListPackedData(name, packed, afterScript, NextFile(verdicts, name), in.quiet);
    if (listed != ExitSuccess) status = listed;
  }
  return status;
}
