#include "test_support.h"

#include <string.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "check_record.h"
#include "record_reader.h"

namespace test {

std::string WinPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string Data(const char* name) { return WinPath(std::string(TEST_DATA_DIR) + "/" + name); }

std::string FreshTestFolder(const char* group) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string folder = WinPath(std::string(TEST_WORK_DIR) + "/" + group + "/" + info->name());
  RemoveTree(folder);
  return MakeDirectories(folder) ? folder : std::string();
}

std::string ReadFileBytes(const std::string& path, bool* ok) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (ok) *ok = file != INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

// By wide names: a narrow one may be a best fit that names another file.
void RemoveTreeW(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") RemoveTreeW(path + L"\\" + name);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

}  // namespace

void RemoveTree(const std::string& path) { RemoveTreeW(Widen(path)); }

bool MakeDirectories(const std::string& path) {
  if (IsDirectory(path)) return true;
  size_t slash = path.find_last_of('\\');
  if (slash != std::string::npos && slash > 2) MakeDirectories(path.substr(0, slash));
  return CreateDirectoryA(path.c_str(), NULL) || IsDirectory(path);
}

static void PutLE32(std::string* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back((char)((value >> (8 * i)) & 0xFF));
}

std::string Record(uint32_t packedSize, uint32_t expandedSize, const std::string& body) {
  std::string out = "PACKDAT$";
  PutLE32(&out, packedSize);
  PutLE32(&out, expandedSize);
  return out + body;
}

std::string StoredRecord(const std::string& body) { return Record(0, (uint32_t)body.size(), body); }

bool CountRecords(const std::string& pack, int* stored, int* compressed) {
  *stored = *compressed = 0;
  size_t at = 0;
  while (at < pack.size()) {
    if (pack.size() - at < 16 || pack.compare(at, 8, "PACKDAT$") != 0) return false;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pack.data() + at);
    uint32_t packed = p[8] | p[9] << 8 | p[10] << 16 | (uint32_t)p[11] << 24;
    uint32_t expanded = p[12] | p[13] << 8 | p[14] << 16 | (uint32_t)p[15] << 24;
    if (packed != 0) {
      ++*compressed;
      at += 16 + (size_t)packed;
    } else {
      ++*stored;
      at += 16 + (size_t)expanded;
    }
  }
  return at == pack.size();
}

namespace {

struct MemoryFile {
  const std::string* source;
  size_t at;
  std::string* sink;
};

uint32_t ReadMemory(void* context, uint8_t* buffer, uint32_t size) {
  MemoryFile* f = static_cast<MemoryFile*>(context);
  uint32_t n = (uint32_t)std::min<size_t>(size, f->source->size() - f->at);
  memcpy(buffer, f->source->data() + f->at, n);
  f->at += n;
  return n;
}

uint32_t WriteMemory(void* context, const uint8_t* buffer, uint32_t size) {
  static_cast<MemoryFile*>(context)->sink->append(reinterpret_cast<const char*>(buffer), size);
  return size;
}

}  // namespace

bool ExpandIgnoringChecks(const std::vector<std::string>& packs, std::vector<std::string>* expanded) {
  std::unique_ptr<DecoderState> decoder(new DecoderState());
  ResetDecoderState(decoder.get());
  std::vector<uint8_t> input(BlockBufferSize), output(BlockBufferSize);
  expanded->assign(packs.size(), "");
  for (size_t i = 0; i < packs.size(); ++i) {
    std::string pack = packs[i];
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pack.data());
    if (pack.size() >= 16 && ReadLE32(p + 12) == 0 && ReadLE32(p + 8) != 0 &&
        IsCheckRecordBody(p + 16, (uint32_t)std::min<size_t>(ReadLE32(p + 8), pack.size() - 16))) {
      pack.erase(0, std::min<size_t>(pack.size(), 16 + (size_t)ReadLE32(p + 8)));
    }
    MemoryFile file = {&pack, 0, &(*expanded)[i]};
    RecordIo io = {&file, ReadMemory, WriteMemory, NULL};
    char error[256];
    if (!ReadRecords(decoder.get(), &io, (uint32_t)pack.size(), input.data(), output.data(), NULL, error,
                     sizeof error, NULL, NULL)) {
      return false;
    }
  }
  return true;
}

std::string FlipOnlyTheCheckNotices(const std::vector<std::string>& packs, size_t which, size_t firstBit) {
  std::vector<std::string> good;
  if (!ExpandIgnoringChecks(packs, &good)) return "";
  for (size_t bit = firstBit; bit < 8 * packs[which].size(); ++bit) {
    std::vector<std::string> damaged = packs;
    damaged[which][bit / 8] ^= (char)(1 << (bit % 8));
    std::vector<std::string> expanded;
    if (ExpandIgnoringChecks(damaged, &expanded) && expanded[which] != good[which]) return damaged[which];
  }
  return "";
}

std::map<std::string, std::string> ReadReport(const std::string& directory) {
  std::map<std::string, std::string> values;
  bool ok = false;
  std::string text = ReadFileBytes(directory + "\\report.txt", &ok);
  size_t at = 0;
  while (ok && at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
    at = end + 1;
  }
  return values;
}

std::string WindowsDirectory() {
  char buffer[MAX_PATH];
  UINT n = GetWindowsDirectoryA(buffer, MAX_PATH);
  return std::string(buffer, n);
}

std::string TempSetupDir() { return WindowsDirectory() + "\\ZIMRO~SE.TUP"; }

std::string FolderNames(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(Widen(directory + "\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = entry.cFileName;
      if (name != L"." && name != L"..") names.push_back(Utf8(name));
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  std::sort(names.begin(), names.end());
  std::string joined;
  for (const std::string& name : names) joined += (joined.empty() ? "" : "|") + name;
  return joined;
}

namespace {

struct Search {
  DWORD processId;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM lParam) {
  Search* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  char className[64];
  GetClassNameA(window, className, sizeof(className));
  if (strcmp(className, "#32770") == 0) search->found.push_back(window);
  return TRUE;
}

// A minute: a box whose thread a loaded machine starves for seconds is
// still answered; only one that has hung is not.
const UINT kBoxTimeoutMs = 60000;

std::string WindowText(HWND window) {
  char text[4096] = {0};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), (LPARAM)text, SMTO_NORMAL, kBoxTimeoutMs,
                           &length)) {
    return std::string();
  }
  return std::string(text);
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM lParam) {
  std::string* out = reinterpret_cast<std::string*>(lParam);
  char className[64];
  GetClassNameA(child, className, sizeof(className));
  if (_stricmp(className, "Static") == 0) {
    std::string text = WindowText(child);
    if (!text.empty() && out->empty()) *out = text;
  }
  return TRUE;
}

// Reads one box and presses its OK button; false when the box is not ready.
bool AnswerBox(HWND box, MessageBoxSeen* seen) {
  HWND ok = GetDlgItem(box, IDOK);
  if (ok == NULL) return false;
  seen->tempSetupDirAtBox = FolderNames(TempSetupDir());
  seen->caption = WindowText(box);
  seen->text.clear();
  EnumChildWindows(box, CollectStaticText, (LPARAM)&seen->text);
  SendMessageTimeoutA(ok, BM_CLICK, 0, 0, SMTO_NORMAL, kBoxTimeoutMs, NULL);
  return true;
}

// Waits until the answered box is gone, so that it is not read twice.
void WaitUntilGone(HWND box) {
  for (DWORD start = GetTickCount();
       IsWindow(box) && IsWindowVisible(box) && GetTickCount() - start < kBoxTimeoutMs;)
    Sleep(20);
}

}  // namespace

std::vector<MessageBoxSeen> AnswerBoxesUntil(DWORD processId, const std::function<bool()>& done,
                                             size_t stopAfter) {
  std::vector<MessageBoxSeen> boxes;
  while (!done()) {
    Search search{processId, {}};
    EnumWindows(CollectBox, (LPARAM)&search);
    for (HWND box : search.found) {
      MessageBoxSeen seen;
      if (AnswerBox(box, &seen)) {
        boxes.push_back(seen);
        WaitUntilGone(box);
        if (stopAfter != 0 && boxes.size() >= stopAfter) return boxes;
      }
    }
    Sleep(20);
  }
  return boxes;
}

std::vector<MessageBoxSeen> AnswerBoxes(DWORD processId, double seconds, size_t stopAfter) {
  DWORD start = GetTickCount();
  return AnswerBoxesUntil(
      processId, [&] { return GetTickCount() - start >= seconds * 1000; }, stopAfter);
}

std::wstring Widen(const std::string& text) {
  std::vector<wchar_t> wide(text.size() + 1);
  int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), (int)wide.size());
  return n > 0 ? std::wstring(wide.data()) : std::wstring();
}

std::string Utf8(const std::wstring& text) {
  std::vector<char> bytes(3 * text.size() + 1);
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), (int)bytes.size(), NULL, NULL);
  return n > 0 ? std::string(bytes.data()) : std::string();
}

// CreateProcessA widens its strings in the ANSI code page, as Widen does.
Started StartProgram(const std::string& program, const std::string& commandLine) {
  return StartProgramW(Widen(program), Widen(commandLine));
}

Started StartProgramW(const std::wstring& program, const std::wstring& commandLine) {
  Started started;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  started.startTicks = GetTickCount();
  started.ok = CreateProcessW(program.empty() ? NULL : program.c_str(), line.data(), NULL, NULL, FALSE, 0,
                              NULL, NULL, &startup, &started.process) != 0;
  return started;
}

SetupRun Finish(Started& started, double timeoutSeconds) {
  SetupRun run;
  run.started = started.ok;
  if (!started.ok) return run;
  HANDLE process = started.process.hProcess;
  while (true) {
    if (WaitForSingleObject(process, 50) == WAIT_OBJECT_0) {
      run.finished = true;
      break;
    }
    if ((GetTickCount() - started.startTicks) > timeoutSeconds * 1000) break;
    Search search{started.process.dwProcessId, {}};
    EnumWindows(CollectBox, (LPARAM)&search);
    run.dialogSeen = run.dialogSeen || !search.found.empty();
    for (HWND box : search.found) {
      MessageBoxSeen seen;
      if (AnswerBox(box, &seen)) {
        run.boxes.push_back(seen);
        WaitUntilGone(box);
      }
    }
  }
  run.seconds = (GetTickCount() - started.startTicks) / 1000.0;
  if (!run.finished) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 10000);
  }
  GetExitCodeProcess(process, &run.exitCode);
  CloseHandle(started.process.hThread);
  CloseHandle(process);
  started.ok = false;
  return run;
}

SetupRun RunProgram(const std::string& program, const std::string& commandLine, double timeoutSeconds) {
  Started started = StartProgram(program, commandLine);
  return Finish(started, timeoutSeconds);
}

std::string WithSettings(std::string program, bool exitCodes, const std::vector<std::string>& switches) {
  size_t block = program.find(std::string("SETOPTS\x1A", 8));
  if (block == std::string::npos) return "";
  std::string fields(116, '\0');
  fields[0] = exitCodes ? 1 : 0;
  size_t at = 4;
  for (const std::string& s : switches) {
    fields.replace(at, s.size(), s);
    at += s.size() + 1;
  }
  program.replace(block + 12, fields.size(), fields);
  return program;
}

std::string FailureLog() {
  char temp[MAX_PATH];
  DWORD n = GetTempPathA(MAX_PATH, temp);
  return std::string(temp, n) + "ZIMRO~SE.LOG";
}

}  // namespace test
