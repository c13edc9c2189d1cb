// UnpackFile and PumpMessages on the real Win32 calls, under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "bounded_format.h"
#include "pack_format.h"
#include "pump_messages.h"
#include "seal.h"
#include "test_support.h"
#include "unpack_file.h"

using test::ReadFileBytes;
using test::Record;
using test::StoredRecord;
using test::WinPath;
using test::WriteFileBytes;

namespace {

// Set once any UnpackFile ran in this process (FreshState needs a fresh ring).
bool g_unpacked = false;

int Unpack(const std::string& destination, const std::string& source) {
  g_unpacked = true;
  return UnpackFile(destination.c_str(), source.c_str(), 0, NULL, 0, 0);
}

using test::Data;

class UnpackFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::FreshTestFolder("unpack");
    ASSERT_FALSE(dir_.empty());
    source_ = dir_ + "\\source.pk";
    destination_ = dir_ + "\\dest.bin";
  }
  // Writes the pack bytes to source_, unpacks them to destination_.
  int UnpackBytes(const std::string& pack) {
    EXPECT_TRUE(WriteFileBytes(source_, pack));
    return Unpack(destination_, source_);
  }
  std::string Destination() { return ReadFileBytes(destination_); }

  std::string dir_, source_, destination_;
};

TEST_F(UnpackFileTest, NullPathReturnsZeroAndLeavesTheTextAlone) {
  CopyBounded(LastErrorText, "sentinel", LastErrorTextSize);
  EXPECT_EQ(0, UnpackFile(NULL, source_.c_str(), 0, NULL, 0, 0));
  EXPECT_EQ(0, UnpackFile(destination_.c_str(), NULL, 0, NULL, 0, 0));
  EXPECT_STREQ("sentinel", LastErrorText);
  EXPECT_FALSE(test::Exists(destination_));
}

// A seal entry: the source is hashed as it is read, and a file of another
// length or SHA-256 fails once read, with a text of its own (stored records,
// which nothing else checks).
TEST_F(UnpackFileTest, SealEntryMustMatchTheWholeSource) {
  std::string pack = StoredRecord(std::string(5000, 'x')), other = pack, entry(SealEntrySize, '\0');
  other[20] ^= 1;
  WriteLE32(reinterpret_cast<uint8_t*>(&entry[0]), (uint32_t)pack.size());
  Sha256State state;
  Sha256Init(&state);
  Sha256Update(&state, reinterpret_cast<const uint8_t*>(pack.data()), (uint32_t)pack.size());
  Sha256Final(&state, reinterpret_cast<uint8_t*>(&entry[8]));
  const uint8_t* sealed = reinterpret_cast<const uint8_t*>(entry.data());
  for (const std::string& file : {pack, other, pack + StoredRecord("")}) {
    ASSERT_TRUE(WriteFileBytes(source_, file));
    g_unpacked = true;
    EXPECT_EQ(file == pack, UnpackFile(destination_.c_str(), source_.c_str(), 0, NULL, 0, 0, sealed));
    EXPECT_EQ(file == pack ? "" : "Seal mismatch '" + source_ + "'", std::string(LastErrorText));
  }
  EXPECT_EQ(1, UnpackBytes(other));  // no seal: as before
}

// head at the start of path, body from byte at on, and a hole between them
// (sparse: a range past 2 GiB costs no disk).
bool WriteWithHole(const std::string& path, const std::string& head, uint32_t at, const std::string& body) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0, more = 0;
  LONG high = 0;
  bool whole = WriteFile(file, head.data(), (DWORD)head.size(), &written, NULL) && written == head.size() &&
               SetFilePointer(file, (LONG)at, &high, FILE_BEGIN) == at &&
               WriteFile(file, body.data(), (DWORD)body.size(), &more, NULL) && more == body.size();
  CloseHandle(file);
  return whole;
}

// A pack file carried inside another file: the range expands as the file
// alone would, nothing before or after it is read, and its seal entry is
// matched by the range's bytes, from any offset a 32-bit one names (2 GiB
// and more too). A range that runs past the end of the file (a download cut
// short) fails both the check and the expansion.
TEST_F(UnpackFileTest, RangeOfAnOpenFileExpandsAsTheFileAlone) {
  std::string pack = StoredRecord("carried bytes") + StoredRecord(std::string(3000, 'c'));
  std::string before(777, 'B'), after = StoredRecord("after the range");
  std::string sealed(8 + Sha256DigestSize, '\0');
  WriteLE32(reinterpret_cast<uint8_t*>(&sealed[0]), (uint32_t)pack.size());
  Sha256State state;
  Sha256Init(&state);
  Sha256Update(&state, reinterpret_cast<const uint8_t*>(pack.data()), (uint32_t)pack.size());
  Sha256Final(&state, reinterpret_cast<uint8_t*>(&sealed[8]));
  const uint8_t* entry = reinterpret_cast<const uint8_t*>(sealed.data());
  const uint32_t beyond2GiB = 0x80000000u + 777;
  const struct {
    uint32_t at;  // where the range begins
    std::string body;
    bool whole;
  } cases[] = {{777, pack + after, true},
               {777, pack, true},
               {777, pack.substr(0, 2000), false},
               {beyond2GiB, pack + after, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.at) + " " + std::to_string(c.body.size()));
    ASSERT_TRUE(WriteWithHole(source_, before, c.at, c.body));
    HANDLE source = CreateFileA(source_.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, source);
    EXPECT_EQ(c.whole ? 1 : 0, SourceRangeMatches(source, c.at, (uint32_t)pack.size(), entry));
    g_unpacked = true;
    DeleteFileA(destination_.c_str());
    EXPECT_EQ(c.whole ? 1 : 0, UnpackFileFrom(destination_.c_str(), source, c.at, (uint32_t)pack.size(),
                                              "program.exe", entry));
    EXPECT_EQ(c.whole ? "" : "Read source error (1955 of 3000 bytes)", std::string(LastErrorText));
    if (c.whole) {
      EXPECT_EQ("carried bytes" + std::string(3000, 'c'), Destination());
    }
    // Unsealed, the same range reads the same; another length is another file.
    EXPECT_EQ(c.whole ? 1 : 0,
              UnpackFileFrom(destination_.c_str(), source, c.at, (uint32_t)pack.size(), "program.exe", NULL));
    EXPECT_EQ(0, SourceRangeMatches(source, c.at, (uint32_t)pack.size() - 1, entry));
    CloseHandle(source);
  }
  DeleteFileA(source_.c_str());
}

TEST_F(UnpackFileTest, MissingSourceLeavesTheDestinationUntouched) {
  ASSERT_TRUE(WriteFileBytes(destination_, "keep"));
  EXPECT_EQ(0, Unpack(destination_, source_));
  EXPECT_EQ("Open source file '" + source_ + "' error", std::string(LastErrorText));
  EXPECT_EQ("keep", Destination());
}

TEST_F(UnpackFileTest, SourceOpenedWithoutSharingElsewhereFailsToOpen) {
  ASSERT_TRUE(WriteFileBytes(source_, StoredRecord("abc")));
  HANDLE held = CreateFileA(source_.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(0, Unpack(destination_, source_));
  EXPECT_EQ("Open source file '" + source_ + "' error", std::string(LastErrorText));
  CloseHandle(held);
}

TEST_F(UnpackFileTest, DestinationThatCannotBeCreatedLeavesTheSourceClosed) {
  ASSERT_TRUE(WriteFileBytes(source_, StoredRecord("abc")));
  std::string destination = dir_ + "\\no such directory\\dest.bin";
  EXPECT_EQ(0, Unpack(destination, source_));
  EXPECT_EQ("Open dest file '" + destination + "' error", std::string(LastErrorText));
  // Share mode 0 here would fail if UnpackFile still held the source.
  HANDLE again = CreateFileA(source_.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  CloseHandle(again);
}

TEST_F(UnpackFileTest, DestinationInUseFailsWithoutSharing) {
  ASSERT_TRUE(WriteFileBytes(source_, StoredRecord("abc")));
  ASSERT_TRUE(WriteFileBytes(destination_, "in use"));
  HANDLE held =
      CreateFileA(destination_.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ(0, Unpack(destination_, source_));
  EXPECT_EQ("Open dest file '" + destination_ + "' error", std::string(LastErrorText));
  CloseHandle(held);
  EXPECT_EQ("in use", Destination());
}

TEST_F(UnpackFileTest, LongPathMessageStaysInItsBuffer) {
  std::string source = dir_ + "\\" + std::string(300, 'x') + ".pk";
  EXPECT_EQ(0, Unpack(destination_, source));
  std::string text = LastErrorText;
  EXPECT_EQ(LastErrorTextSize - 1, text.size());
  EXPECT_EQ(0u, text.find("Open source file '"));
}

TEST_F(UnpackFileTest, EmptySourceGivesAnEmptyDestination) {
  ASSERT_TRUE(WriteFileBytes(destination_, "old contents"));
  EXPECT_EQ(1, UnpackBytes(""));
  EXPECT_STREQ("", LastErrorText);
  EXPECT_TRUE(test::Exists(destination_));
  EXPECT_EQ("", Destination());
}

TEST_F(UnpackFileTest, StoredRecordsConcatenateByteForByte) {
  std::string a(1000, 'a'), b = "second\0record", c(BlockBufferSize, '\xC3');
  EXPECT_EQ(1, UnpackBytes(StoredRecord(a) + StoredRecord("") + StoredRecord(b) + StoredRecord(c)));
  EXPECT_EQ(a + b + c, Destination());
}

TEST_F(UnpackFileTest, OneTrailingByteFailsAfterTheEarlierRecords) {
  EXPECT_EQ(0, UnpackBytes(StoredRecord("hello") + "P"));
  EXPECT_STREQ("Pack data header error", LastErrorText);
  EXPECT_EQ("hello", Destination());
}

TEST_F(UnpackFileTest, WrongMagicFails) {
  std::string pack = StoredRecord("hello");
  pack[7] = '#';
  EXPECT_EQ(0, UnpackBytes(pack));
  EXPECT_STREQ("Pack data header error", LastErrorText);
  EXPECT_EQ("", Destination());
}

TEST_F(UnpackFileTest, TailOfJustTheMagicReadsAsAnEmptyRecord) {
  EXPECT_EQ(1, UnpackBytes(StoredRecord("hello") + "PACKDAT$"));
  EXPECT_EQ("hello", Destination());
}

TEST_F(UnpackFileTest, TailOfMagicAndPackedSizeIsAShortRead) {
  EXPECT_EQ(0, UnpackBytes(StoredRecord("hello") + std::string("PACKDAT$\x10\x00\x00\x00", 12)));
  EXPECT_STREQ("Read source error (0 of 16 bytes)", LastErrorText);
}

TEST_F(UnpackFileTest, ShortStoredBodyReportsWhatWasRead) {
  EXPECT_EQ(0, UnpackBytes(Record(0, 100, std::string(40, 'z'))));
  EXPECT_STREQ("Read source error (40 of 100 bytes)", LastErrorText);
}

TEST_F(UnpackFileTest, ShortCompressedBodyReportsWhatWasRead) {
  EXPECT_EQ(0, UnpackBytes(Record(300, 1000, std::string(120, 'z'))));
  EXPECT_STREQ("Read source error (120 of 300 bytes)", LastErrorText);
}

// Sizes beyond the buffers are refused, nothing is read past them.
TEST_F(UnpackFileTest, RecordLargerThanTheBuffersFails) {
  EXPECT_EQ(0, UnpackBytes(StoredRecord("ok") +
                           Record(0, BlockBufferSize + 1, std::string(BlockBufferSize + 1, 'q'))));
  EXPECT_EQ(0u, std::string(LastErrorText).find("Pack record size error"));
  EXPECT_EQ("ok", Destination());
  EXPECT_EQ(0, UnpackBytes(Record(BlockBufferSize + 1, 10, std::string(BlockBufferSize + 1, 'q'))));
  EXPECT_EQ(0u, std::string(LastErrorText).find("Pack record size error"));
}

// A block that reads far past its packed bytes is damaged.
TEST_F(UnpackFileTest, BlockReadingPastItsBytesFails) {
  EXPECT_EQ(0, UnpackBytes(Record(2, 60000, "\xFF\xFF")));
  EXPECT_EQ(0u, std::string(LastErrorText).find("Pack data damaged"));
}

TEST_F(UnpackFileTest, SampleScriptAndInstallerThroughOneDecoderState) {
  // setuppack packs the script for a fresh process, whose ring is all zeros,
  // and may copy from entries the script has not written yet; the tests
  // before this one have filled the ring with their own tokens.
  ResetDecoderState(UnpackDecoderState());
  std::string pack = ReadFileBytes(Data("sample.SC_"));
  int stored = 0, compressed = 0;
  ASSERT_TRUE(test::CountRecords(pack, &stored, &compressed));
  EXPECT_GE(stored, 2);
  EXPECT_GE(compressed, 5);
  ASSERT_EQ(1, Unpack(destination_, Data("sample.SC_"))) << LastErrorText;
  EXPECT_TRUE(Destination() == ReadFileBytes(Data("script.bin")));
  std::string installer = dir_ + "\\installer.exe";
  ASSERT_EQ(1, Unpack(installer, Data("standin.EX_"))) << LastErrorText;
  EXPECT_TRUE(ReadFileBytes(installer) == ReadFileBytes(Data("standin.exe")));
  // A second file that copies from the first one's tokens.
  ASSERT_EQ(1, Unpack(dir_ + "\\a", Data("ring_a.pk"))) << LastErrorText;
  ASSERT_EQ(1, Unpack(dir_ + "\\b", Data("ring_b.pk"))) << LastErrorText;
  EXPECT_TRUE(ReadFileBytes(dir_ + "\\a") == ReadFileBytes(Data("ring_a.bin")));
  EXPECT_TRUE(ReadFileBytes(dir_ + "\\b") == ReadFileBytes(Data("ring_b.bin")));
}

// A file whose expansion differs from its check record fails once it is
// written (the launcher then starts nothing); one with a check record that
// is not its first record is damaged.
TEST_F(UnpackFileTest, CheckRecordIsVerified) {
  std::string pack = ReadFileBytes(Data("sample.SC_"));
  std::string damaged = test::FlipOnlyTheCheckNotices({pack}, 0, 4 * pack.size());
  ASSERT_FALSE(damaged.empty());
  ResetDecoderState(UnpackDecoderState());
  EXPECT_EQ(0, UnpackBytes(damaged));
  EXPECT_STREQ("Pack check error (the expansion differs from the check record)", LastErrorText);
  EXPECT_EQ(ReadFileBytes(Data("script.bin")).size(), Destination().size());

  size_t checkRecord = 16 + (uint8_t)pack[8] + ((uint8_t)pack[9] << 8);
  EXPECT_EQ(0, UnpackBytes(test::StoredRecord("x") + pack.substr(0, checkRecord)));
  EXPECT_STREQ("Pack check record error (not the first record)", LastErrorText);
  EXPECT_EQ("x", Destination());
}

struct ProgressLog {
  std::vector<int32_t> values;
  uint32_t target = 0;
};
ProgressLog g_progress;
void RecordProgressValue(uint32_t target, int32_t value) {
  g_progress.target = target;
  g_progress.values.push_back(value);
}

TEST_F(UnpackFileTest, ProgressRisesToTheEndOfItsRange) {
  std::string pack = ReadFileBytes(Data("sample.SC_"));
  int stored = 0, compressed = 0;
  ASSERT_TRUE(test::CountRecords(pack, &stored, &compressed));
  // The script expands right (and passes its check) only from a fresh ring.
  g_progress = ProgressLog();
  g_unpacked = true;
  ResetDecoderState(UnpackDecoderState());
  ASSERT_EQ(1, UnpackFile(destination_.c_str(), Data("sample.SC_").c_str(), 77, RecordProgressValue, 0, 100));
  ASSERT_EQ((size_t)(stored + compressed), g_progress.values.size());
  EXPECT_EQ(77u, g_progress.target);
  for (size_t i = 1; i < g_progress.values.size(); ++i) {
    EXPECT_LE(g_progress.values[i - 1], g_progress.values[i]);
  }
  EXPECT_EQ(100, g_progress.values.back());

  g_progress = ProgressLog();
  ResetDecoderState(UnpackDecoderState());
  ASSERT_EQ(1, UnpackFile(destination_.c_str(), Data("sample.SC_").c_str(), 77, RecordProgressValue, 40, 20));
  for (int32_t v : g_progress.values) {
    EXPECT_GE(v, 40);
    EXPECT_LE(v, 140);
  }
  EXPECT_EQ(140, g_progress.values.back());

  g_progress = ProgressLog();
  ResetDecoderState(UnpackDecoderState());
  ASSERT_EQ(1, UnpackFile(destination_.c_str(), Data("sample.SC_").c_str(), 0, RecordProgressValue, 0, 100));
  ResetDecoderState(UnpackDecoderState());
  ASSERT_EQ(1, UnpackFile(destination_.c_str(), Data("sample.SC_").c_str(), 77, NULL, 0, 100));
  EXPECT_TRUE(g_progress.values.empty());
}

// A small window of its own class, to receive posted messages.
HWND MessageWindow(const char* className, WNDPROC procedure) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleA(NULL);
  windowClass.lpszClassName = className;
  RegisterClassA(&windowClass);
  return CreateWindowA(className, "", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, GetModuleHandleA(NULL), NULL);
}

// The record loop looks at the queue only every few milliseconds, but looks:
// a message posted while a file expands is dispatched before the expansion
// ends, once that much time has passed (here a record's progress report
// waits 20 ms).
int g_reports = 0;
int g_dispatchedAtReport = -1;
HWND g_pumpWindow = NULL;
LRESULT CALLBACK NoteDispatchProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_USER + 2) {
    g_dispatchedAtReport = g_reports;
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}
void PostOnFirstReport(uint32_t, int32_t) {
  if (++g_reports == 1) {
    PostMessageA(g_pumpWindow, WM_USER + 2, 0, 0);
    Sleep(20);
  }
}

TEST_F(UnpackFileTest, MessagesPostedDuringTheExpansionAreDispatchedBeforeItEnds) {
  g_pumpWindow = MessageWindow("PumpDuringUnpack", NoteDispatchProc);
  ASSERT_NE((HWND)NULL, g_pumpWindow);
  std::string pack;
  for (int i = 0; i < 6; ++i) pack += StoredRecord(std::string(1000, (char)('a' + i)));
  ASSERT_TRUE(WriteFileBytes(source_, pack));
  g_reports = 0;
  g_dispatchedAtReport = -1;
  g_unpacked = true;
  ASSERT_EQ(1, UnpackFile(destination_.c_str(), source_.c_str(), 1, PostOnFirstReport, 0, 100));
  EXPECT_EQ(6, g_reports);
  EXPECT_GE(g_dispatchedAtReport, 1);
  EXPECT_LT(g_dispatchedAtReport, 3) << "dispatched only after the report of record " << g_dispatchedAtReport;
  DestroyWindow(g_pumpWindow);
}

// ---------------------------------------------------------------- PumpMessages

int g_dispatched = 0;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_USER + 1) {
    ++g_dispatched;
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

TEST(PumpMessages, DrainsTheQueueAndDispatchesPastAQuitMessage) {
  HWND window = MessageWindow("PumpCounting", CountingProc);
  ASSERT_NE((HWND)NULL, window);
  g_dispatched = 0;
  PostMessageA(window, WM_USER + 1, 0, 0);
  PostQuitMessage(0);
  PostMessageA(window, WM_USER + 1, 0, 0);
  PostMessageA(window, WM_USER + 1, 0, 0);
  PumpMessages();
  EXPECT_EQ(3, g_dispatched);
  MSG left;
  EXPECT_FALSE(PeekMessageA(&left, NULL, 0, 0, PM_NOREMOVE));
  DestroyWindow(window);
}

// An in-memory dialog template: a popup with two edit controls.
struct DialogTemplate {
  std::vector<WORD> words;
  void Align() {
    if (words.size() % 2) words.push_back(0);
  }
};

INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

TEST(PumpMessages, OffersMessagesToTheActivePopupDialog) {
  DialogTemplate t;
  auto dword = [&](DWORD v) {
    t.words.push_back(LOWORD(v));
    t.words.push_back(HIWORD(v));
  };
  dword(WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME);
  dword(0);
  t.words.push_back(2);  // items
  t.words.insert(t.words.end(), {10, 10, 200, 100});
  t.words.insert(t.words.end(), {0, 0, 0});  // no menu, default class, no title
  for (WORD id = 101; id <= 102; ++id) {
    t.Align();
    dword(WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER);
    dword(0);
    t.words.insert(t.words.end(), {10, (WORD)(10 + 30 * (id - 101)), 100, 14, id});
    t.words.insert(t.words.end(), {0xFFFF, 0x0081, 0, 0});  // edit class, no text, no data
  }
  HWND dialog = CreateDialogIndirectParamA(
      GetModuleHandleA(NULL), reinterpret_cast<DLGTEMPLATE*>(t.words.data()), NULL, PlainDialogProc, 0);
  ASSERT_NE((HWND)NULL, dialog);
  SetForegroundWindow(dialog);
  SetActiveWindow(dialog);
  PumpMessages();
  HWND first = GetDlgItem(dialog, 101), second = GetDlgItem(dialog, 102);
  SetFocus(first);
  ASSERT_EQ(dialog, GetActiveWindow());
  ASSERT_TRUE((DWORD)GetWindowLongA(dialog, GWL_STYLE) & WS_POPUP);
  // Tab reaches the edit control as a key press; only IsDialogMessage turns it
  // into a move of the focus to the next control.
  PostMessageA(first, WM_KEYDOWN, VK_TAB, 0x000F0001);
  PumpMessages();
  EXPECT_EQ(second, GetFocus());
  DestroyWindow(dialog);
}

// ---------------------------------------------------------------- run alone

// In a process that expanded nothing before, ring_b.pk alone does not come
// out right: its blocks copy tokens that ring_a.pk left in the shared ring.
TEST(FreshState, SecondFileAloneDoesNotExpandRight) {
  ASSERT_FALSE(g_unpacked) << "run this test alone (--gtest_filter=FreshState.*)";
  std::string dir = WinPath(std::string(TEST_WORK_DIR) + "/unpack");
  test::MakeDirectories(dir);
  std::string destination = dir + "\\fresh_b";
  int result = Unpack(destination, Data("ring_b.pk"));
  bool right = result == 1 && ReadFileBytes(destination) == ReadFileBytes(Data("ring_b.bin"));
  EXPECT_FALSE(right) << LastErrorText;
}

}  // namespace
