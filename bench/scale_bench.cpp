// setup_scale_bench: setuppack at scale, in one run. Prints figures; asserts
// nothing.
//
//   setup_scale_bench [--speed-mb N] [--rounds N] [--memory-mb N,N,...] [--skip-memory]
//
// 1. The packed size of the standard corpus against the packer before
//    segments (each file packed as one stretch), for every setting.
// 2. Pack speed with 1 and 2 threads, default setting and --best, in paired
//    rounds (one thread, then two, then one...) on N MB of Wine binaries
//    (--speed-mb, 24), so that a load that comes and goes hits both alike;
//    each round's ratio and their median.
// 3. The resident memory (peak RSS) of setuppack pack, test and unpack for
//    inputs of the given sizes (--memory-mb, 100 and 1000), made on the fly
//    from the Wine binaries in a folder under /tmp and removed afterwards.
//
// The load average is printed at the start and the end.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "crc32.h"
#include "encode/encoder.h"
#include "platform/file_io.h"
#include "encode/segments.h"

namespace {

const char WineBinaries[] = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
const char* const StandardCorpus[] = {
    "advpack.dll",
    "attrib.exe",
    "cabinet.dll",
    "notepad.exe",
    "regedit.exe",
    "version.dll",
    "wordpad.exe",
    "xcopy.exe",
    "/usr/share/wine/wine.inf",
    "/usr/share/common-licenses/GPL-2",
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void PrintLoad(const char* when) {
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  printf("load average %s: %.2f %.2f %.2f (%ld processors)\n", when, load[0], load[1], load[2],
         sysconf(_SC_NPROCESSORS_ONLN));
}

std::vector<uint8_t> ReadOrDie(const std::string& path) {
  std::vector<uint8_t> data;
  std::string error;
  if (!ReadWholeFile(path, &data, &error)) {
    fprintf(stderr, "setup_scale_bench: %s (install wine64 for the corpus)\n", error.c_str());
    exit(1);
  }
  return data;
}

// The Wine binaries, largest first, until size bytes are taken (again from
// the first when they run out).
std::vector<std::string> WineFiles() {
  std::vector<std::pair<long, std::string>> found;
  if (DIR* dir = opendir(WineBinaries)) {
    while (dirent* e = readdir(dir)) {
      std::string path = std::string(WineBinaries) + "/" + e->d_name;
      FILE* f = e->d_name[0] == '.' ? nullptr : fopen(path.c_str(), "rb");
      if (!f) continue;
      fseek(f, 0, SEEK_END);
      found.push_back({ftell(f), path});
      fclose(f);
    }
    closedir(dir);
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
  std::vector<std::string> paths;
  for (const auto& f : found) paths.push_back(f.second);
  return paths;
}

// Writes size bytes of Wine binaries, one after another, to path (or into
// memory when path is empty).
std::vector<uint8_t> WineInput(size_t size, const std::string& path) {
  std::vector<std::string> files = WineFiles();
  if (files.empty()) {
    fprintf(stderr, "setup_scale_bench: no Wine binaries in %s\n", WineBinaries);
    exit(1);
  }
  std::vector<uint8_t> memory;
  FILE* out = path.empty() ? nullptr : fopen(path.c_str(), "wb");
  size_t done = 0;
  for (size_t i = 0; done < size; i = (i + 1) % files.size()) {
    std::vector<uint8_t> data = ReadOrDie(files[i]);
    size_t take = std::min(data.size(), size - done);
    if (out) {
      fwrite(data.data(), 1, take, out);
    } else {
      memory.insert(memory.end(), data.begin(), data.begin() + take);
    }
    done += take;
  }
  if (out) fclose(out);
  return memory;
}

EncoderOptions Setting(const std::string& name) {
  EncoderOptions o;
  if (name == "--fast") {
    o.chainLimit = 32;
    o.parsePasses = 1;
  } else if (name == "--best") {
    o.chainLimit = 4096;
    o.parsePasses = 5;
    o.splitBlocks = true;
  }
  return o;
}

// --- 1. Packed size against the packer before segments ----------------------

void CompareSizes() {
  printf("\npacked size of the standard corpus (each file on its own, check records):\n");
  printf("  %-10s %12s %12s %9s\n", "setting", "before", "now", "change");
  std::vector<std::vector<uint8_t>> corpus;
  for (const char* name : StandardCorpus) {
    corpus.push_back(ReadOrDie(name[0] == '/' ? name : std::string(WineBinaries) + "/" + name));
  }
  for (const char* setting : {"--fast", "default", "--best"}) {
    size_t before = 0, now = 0;
    for (const std::vector<uint8_t>& file : corpus) {
      auto state = std::make_unique<EncoderState>();
      state->options = Setting(setting);
      std::vector<uint8_t> packed;
      PackFile(state.get(), file.data(), file.size(), true, &packed, nullptr);
      now += packed.size();
      // The whole file as one segment: what the packer wrote before segments.
      auto whole = std::make_unique<EncoderState>();
      whole->options = Setting(setting);
      std::vector<uint8_t> records;
      std::vector<RecordInfo> infos;
      PackSegment(whole.get(), file.data(), file.size(), &records, &infos);
      std::vector<uint8_t> check;
      AppendCheckRecord(&check, file.size(), Crc32Update(0, file.data(), file.size()), infos);
      before += check.size() + records.size();
    }
    printf("  %-10s %12zu %12zu %+8.4f%%\n", setting, before, now, 100.0 * ((double)now / before - 1.0));
  }
}

// --- 2. Pack speed with 1 and 2 threads -------------------------------------------

class CountingOutput final : public PackOutput {
 public:
  bool Write(const uint8_t*, size_t size, std::string*) override {
    bytes += size;
    return true;
  }
  size_t bytes = 0;
};

double ProcessSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Timing {
  double wall, cpu;
  size_t packed;
};

Timing TimePack(const std::vector<uint8_t>& data, const EncoderOptions& encoder, unsigned threads) {
  auto state = std::make_unique<EncoderState>();
  state->options = encoder;
  MemoryInput input(data);
  CountingOutput output;
  PackStreamOptions options;
  options.threads = threads;
  PackStreamResult result;
  std::string error;
  double cpu = ProcessSeconds(), start = Now();
  if (!PackStream(state.get(), &input, &output, options, &result, &error)) {
    fprintf(stderr, "setup_scale_bench: %s\n", error.c_str());
    exit(1);
  }
  return {Now() - start, ProcessSeconds() - cpu, output.bytes};
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void CompareThreads(size_t megabytes, int rounds) {
  std::vector<uint8_t> data = WineInput(megabytes * 1000000, "");
  printf("\npack speed, %zu MB of Wine binaries in memory, %d paired rounds (1 thread, then 2):\n", megabytes,
         rounds);
  for (const char* setting : {"default", "--best"}) {
    std::vector<double> ratios, one, two;
    size_t packed[2] = {0, 0};
    double cpu[2] = {0, 0};
    for (int r = 0; r < rounds; ++r) {
      Timing a = TimePack(data, Setting(setting), 1);
      Timing b = TimePack(data, Setting(setting), 2);
      one.push_back(data.size() / 1e6 / a.wall);
      two.push_back(data.size() / 1e6 / b.wall);
      ratios.push_back(a.wall / b.wall);
      packed[0] = a.packed;
      packed[1] = b.packed;
      cpu[0] += a.cpu;
      cpu[1] += b.cpu;
      printf("  %-8s round %2d: 1 thread %6.2f MB/s, 2 threads %6.2f MB/s, %.2f x\n", setting, r + 1,
             one.back(), two.back(), ratios.back());
      fflush(stdout);
    }
    printf(
        "  %-8s median : 1 thread %6.2f MB/s, 2 threads %6.2f MB/s, %.2f x (target 1.70: %s); "
        "processor time 2 threads / 1: %.3f; same size: %s\n",
        setting, Median(one), Median(two), Median(ratios), Median(ratios) >= 1.7 ? "met" : "NOT met",
        cpu[1] / cpu[0], packed[0] == packed[1] ? "yes" : "NO");
  }
}

// --- 3. Resident memory of the commands -------------------------------------------

struct Run {
  int status;
  double seconds;
  long peakKb;
};

Run RunSetuppack(const std::string& program, const std::vector<std::string>& args,
                 const std::string& peakFile) {
  fflush(stdout);  // else the child writes what is buffered once more
  double start = Now();
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    freopen("/dev/null", "w", stdout);
    // The peak a child reports keeps that of the process it was forked
    // from (this one, with its inputs): /usr/bin/time, small, starts it.
    if (access("/usr/bin/time", X_OK) == 0) {
      std::vector<char*> timed = {const_cast<char*>("/usr/bin/time"), const_cast<char*>("-f"),
                                  const_cast<char*>("%M"), const_cast<char*>("-o"),
                                  const_cast<char*>(peakFile.c_str())};
      timed.insert(timed.end(), argv.begin(), argv.end());
      execv(timed[0], timed.data());
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage;
  wait4(pid, &status, 0, &usage);
  long peak = usage.ru_maxrss;
  if (FILE* f = fopen(peakFile.c_str(), "r")) {
    if (fscanf(f, "%ld", &peak) != 1) peak = usage.ru_maxrss;
    fclose(f);
    unlink(peakFile.c_str());
  }
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Now() - start, peak};
}

void MeasureMemory(const std::string& program, const std::vector<size_t>& sizesMb) {
  char folder[] = "/tmp/setup-scale-bench-XXXXXX";
  if (!mkdtemp(folder)) return;
  std::string in = std::string(folder) + "/input", packed = in + ".pk", out = in + ".out";
  printf("\nresident memory (peak RSS) of %s, default threads (%u here):\n", program.c_str(),
         AllProcessors());
  printf("  %-8s %-10s %10s %10s %8s\n", "input", "command", "peak MB", "seconds", "status");
  for (size_t mb : sizesMb) {
    WineInput(mb * 1000000, in);
    std::vector<std::pair<const char*, std::vector<std::string>>> commands = {
        {"pack", {"-q", "-f", "pack", in, packed}},
        {"test", {"-q", "test", packed}},
        {"unpack", {"-q", "-f", "unpack", packed, out}},
        {"unpack -", {"-q", "unpack", packed, "-"}},
    };
    for (const auto& c : commands) {
      Run r = RunSetuppack(program, c.second, std::string(folder) + "/peak");
      printf("  %5zu MB %-10s %10.1f %10.1f %8d\n", mb, c.first, r.peakKb / 1024.0, r.seconds, r.status);
      fflush(stdout);
    }
    unlink(out.c_str());
    unlink(packed.c_str());
    unlink(in.c_str());
  }
  rmdir(folder);
}

std::vector<size_t> ParseSizes(const char* text) {
  std::vector<size_t> sizes;
  for (const char* p = text; *p;) {
    sizes.push_back(strtoul(p, const_cast<char**>(&p), 10));
    if (*p == ',')
      ++p;
    else if (*p)
      break;
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  size_t speedMb = 24;
  int rounds = 3;
  std::vector<size_t> memoryMb = {100, 1000};
  bool memory = true;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--speed-mb") && i + 1 < argc) {
      speedMb = strtoul(argv[++i], nullptr, 10);
    } else if (!strcmp(argv[i], "--rounds") && i + 1 < argc) {
      rounds = std::max(1, atoi(argv[++i]));
    } else if (!strcmp(argv[i], "--memory-mb") && i + 1 < argc) {
      memoryMb = ParseSizes(argv[++i]);
    } else if (!strcmp(argv[i], "--skip-memory")) {
      memory = false;
    } else {
      printf("usage: setup_scale_bench [--speed-mb N] [--rounds N] [--memory-mb N,N,...] [--skip-memory]\n");
      return strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  PrintLoad("at the start");
  CompareSizes();
  if (speedMb > 0) CompareThreads(speedMb, rounds);
  if (memory) MeasureMemory(SETUPPACK_PATH, memoryMb);
  PrintLoad("at the end");
  return 0;
}
