// setuppack list: the records of pack files, and of those a program carries.
#include <stdio.h>

#include "check_record.h"
#include "cli/status.h"
#include "commands/commands.h"
#include "commands/expand_files.h"
#include "commands/file_pairs.h"
#include "expand/layout.h"
#include "media/single_file.h"

namespace {

// Lists the records of one pack file; returns the exit status.
// afterScript: it is an INSTALL.EX_, which expands after the script.
int ListPackedData(const std::string& name, const std::vector<uint8_t>& packed, bool afterScript) {
  PackLayout layout = ReadLayout(packed);
  // A file that is not a pack file has no table to show.
  if (layout.NotPackFormat()) return DataError(name + ": not in pack format");
  const std::vector<ListedRecord>& records = layout.first().records;
  printf("%s\n  %10s  %-10s  %10s  %10s\n", name.c_str(), "offset", "type", "packed", "expanded");
  uint64_t expanded = 0;
  uint32_t compressed = 0, checks = 0;
  for (const ListedRecord& r : records) {
    uint32_t body = r.packedSize ? r.packedSize : r.expandedSize;
    printf("  %10u  %-10s  %10u  %10u\n", r.offset,
           r.isCheck      ? "check"
           : r.packedSize ? "compressed"
                          : "stored",
           body, r.expandedSize);
    expanded += r.expandedSize;
    compressed += r.packedSize != 0 && !r.isCheck;
    checks += r.isCheck;
  }
  printf("  %zu records (%u check, %u compressed, %zu stored): %zu bytes packed, %llu expanded, ratio %.4f\n",
         records.size(), checks, compressed, records.size() - compressed - checks, packed.size(),
         (unsigned long long)expanded, expanded ? (double)packed.size() / (double)expanded : 0.0);
  if (!records.empty() && records[0].isCheck) {
    CheckRecord check;
    uint32_t state = ReadCheckRecord(packed.data() + PackHeaderSize, records[0].packedSize, &check);
    if (state == CheckRecordOk) {
      printf("  check record: layout %u, expands to %llu bytes of CRC-32 %08x, CRCs of %u records\n",
             check.version, (unsigned long long)check.expandedSize, check.crc, check.listedRecords);
    } else if (state == CheckRecordUnknownVersion) {
      printf("  check record: layout %u, unknown to this setuppack\n", check.version);
    } else {
      printf("  check record: damaged\n");
    }
  } else {
    printf("  no check record: damage to this file goes unnoticed\n");
  }
  if (afterScript) {
    printf(
        "  expands after INSTALL.SC_, as setup.exe expands them: it may copy from that file's decoder "
        "history\n");
  }
  fflush(stdout);
  std::string trouble = DescribeChainEnd(layout.first(), packed.size());
  if (!trouble.empty()) return DataError(name + ": " + trouble);
  if (layout.first().end == ChainEnd::Padding) {
    fprintf(stderr, "setuppack: %s: %s\n", name.c_str(),
            DescribePadding(layout.first(), packed.size()).c_str());
  }
  return ExitSuccess;
}

int ListProgram(const std::string& path, const std::vector<uint8_t>& program) {
  SealInfo seal;
  std::vector<std::vector<uint8_t>> packed;
  std::string error;
  if (!ReadCarriedPackFiles(program, path, &seal, &packed, &error)) return DataError(error);
  int status = ExitSuccess;
  for (int i = 0; i < 2; ++i) {
    std::string name =
        path + " (" + PackNames[i] + " from byte " + std::to_string(seal.files[i].carriedAt) + ")";
    if (ListPackedData(name, packed[i], i == 1) != ExitSuccess) status = ExitData;
  }
  return status;
}

}  // namespace

int List(const Invocation& in) {
  if (in.files.empty()) return UsageError("list needs at least one PACKED file");
  std::string error;
  if (!CheckNamesOnce(in.files, {}, &error)) return UsageError(error);
  int status = ExitSuccess;
  for (const std::string& path : in.files) {
    std::vector<uint8_t> packed;
    if (!ReadWholeFile(path, &packed, &error)) {
      status = DataError(error);
      continue;
    }
    bool afterScript = IsInstallerName(path);
    int listed = LooksLikeProgram(packed) ? ListProgram(DisplayName(path, true), packed)
                                          : ListPackedData(DisplayName(path, true), packed, afterScript);
    if (listed != ExitSuccess) status = listed;
  }
  return status;
}
