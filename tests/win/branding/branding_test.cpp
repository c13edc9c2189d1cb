// The branded programs that setuppack media made (branding_check.sh reads
// them with pefile) as Windows itself reads and shows them: the version
// fields through GetFileVersionInfoW and VerQueryValueW, the icon through
// LoadIconW and the icon group, the dialog's line through the dialog
// manager, and setup.exe's own caption, message 1 and please-wait dialog,
// read as UTF-16 from the windows it shows.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "branding_test_config.h"
#include "test_support.h"

namespace {

using test::WinPath;

const wchar_t Caption[] = L"Пример Setup";
const wchar_t DialogLine[] = L"Подготовка к установке, подождите...";

std::wstring Branded(const char* name) {
  return test::Widen(WinPath(std::string(BRANDING_DATA_DIR "/") + name));
}

struct Window {
  std::wstring caption, text;  // the window's, and its first static text's
};

std::wstring TextOf(HWND window) {
  wchar_t text[4096] = {0};
  GetWindowTextW(window, text, 4096);
  return text;
}

BOOL CALLBACK FirstStaticText(HWND child, LPARAM lParam) {
  std::wstring* out = reinterpret_cast<std::wstring*>(lParam);
  wchar_t className[64];
  GetClassNameW(child, className, 64);
  if (out->empty() && _wcsicmp(className, L"Static") == 0) *out = TextOf(child);
  return TRUE;
}

struct Search {
  DWORD processId;
  bool box;  // a message box (it has an OK button), else the please-wait dialog
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam) {
  Search* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  wchar_t className[64];
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && IsWindowVisible(window) && GetClassNameW(window, className, 64) &&
      wcscmp(className, L"#32770") == 0 && (GetDlgItem(window, IDOK) != NULL) == search->box) {
    search->found = window;
  }
  return TRUE;
}

// Waits for the process's first message box (box) or please-wait dialog,
// reads it as UTF-16, and presses OK on a box. false when the process ends
// first or nothing comes within a minute.
bool ReadWindow(const test::Started& started, bool box, Window* seen) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(10)) {
    Search search{started.process.dwProcessId, box, NULL};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found != NULL) {
      seen->caption = TextOf(search.found);
      EnumChildWindows(search.found, FirstStaticText, reinterpret_cast<LPARAM>(&seen->text));
      if (box)
        SendMessageTimeoutW(GetDlgItem(search.found, IDOK), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, NULL);
      return true;
    }
    if (WaitForSingleObject(started.process.hProcess, 0) == WAIT_OBJECT_0) return false;
  }
  return false;
}

std::string Utf8(const std::wstring& text) { return test::Utf8(text); }

// ---------------------------------------------------------------- the file's properties

TEST(VersionInformation, WindowsReadsEachField) {
  const struct {
    const wchar_t* key;
    const wchar_t* value;
  } fields[] = {{L"ProductName", L"Пример"},
                {L"ProductVersion", L"2.5.1"},
                {L"FileVersion", L"2.5.1.77"},
                {L"CompanyName", L"ООО «Пример»"},
                {L"FileDescription", L"Установщик Пример"},
                {L"LegalCopyright", L"© 2026 ООО «Пример»"}};
  for (const wchar_t* name : {L"branded.exe", L"branded_media/setup.exe"}) {
    std::wstring path = Branded(Utf8(name).c_str());
    SCOPED_TRACE(Utf8(path));
    DWORD handle = 0, size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = NULL;
    WORD* translation = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    printf("%s: fixed file version %u.%u.%u.%u, product version %u.%u.%u.%u, translation %04X %u\n",
           Utf8(name).c_str(), HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS),
           LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
           LOWORD(fixed->dwProductVersionLS), translation[0], translation[1]);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(MAKELONG(5, 2), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(77, 1), fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(5, 2), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwProductVersionLS);
    EXPECT_EQ(0x0419, translation[0]);
    EXPECT_EQ(1200, translation[1]);
    for (const auto& field : fields) {
      wchar_t* value = NULL;
      std::wstring query = std::wstring(L"\\StringFileInfo\\041904B0\\") + field.key;
      ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
          << Utf8(field.key);
      printf("  %s = %s\n", Utf8(field.key).c_str(), Utf8(value).c_str());
      EXPECT_EQ(std::wstring(field.value), value) << Utf8(field.key);
    }
  }
}

TEST(Icon, WindowsFindsEachImageOfTheVendorsIcon) {
  std::string ico = test::ReadFileBytes(WinPath(BRANDING_DATA_DIR "/vendor.ico"));
  ASSERT_GT(ico.size(), 6u);
  HMODULE module = LoadLibraryExW(Branded("branded.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module);
  EXPECT_NE(nullptr, LoadIconW(module, MAKEINTRESOURCEW(5001)));
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(5001), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  ASSERT_NE(nullptr, group);
  BYTE* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
  size_t count = (unsigned char)ico[4];
  EXPECT_EQ(4u, count);
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = reinterpret_cast<const unsigned char*>(&ico[6 + 16 * i]);
    int size = entry[0] ? entry[0] : 256;
    DWORD bytes = entry[8] | entry[9] << 8 | entry[10] << 16 | (DWORD)entry[11] << 24;
    // The image Windows picks for that size is the vendor's image of it.
    int id = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, entry[6] == 4 ? 0 : LR_DEFAULTCOLOR);
    HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
    ASSERT_NE(nullptr, image) << size;
    EXPECT_EQ(bytes, SizeofResource(module, image)) << size;
    HICON icon = CreateIconFromResourceEx(static_cast<BYTE*>(LockResource(LoadResource(module, image))),
                                          SizeofResource(module, image), TRUE, 0x00030000, size, size, 0);
    EXPECT_NE(nullptr, icon) << size;
    if (icon) DestroyIcon(icon);
  }
  FreeLibrary(module);
}

INT_PTR CALLBACK NoCommands(HWND, UINT, WPARAM, LPARAM) { return 0; }

TEST(DialogTemplate, TheDialogManagerShowsTheTranslatedLine) {
  HMODULE module = LoadLibraryExW(Branded("branded.exe").c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module);
  HWND dialog = CreateDialogParamW(module, MAKEINTRESOURCEW(4001), NULL, NoCommands, 0);
  ASSERT_NE(nullptr, dialog);
  std::wstring line;
  EnumChildWindows(dialog, FirstStaticText, reinterpret_cast<LPARAM>(&line));
  EXPECT_EQ(std::wstring(DialogLine), line);
  DestroyWindow(dialog);
  FreeLibrary(module);
}

// ---------------------------------------------------------------- setup.exe as it runs

class BrandedSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test::FreshTestFolder("branding");
    ASSERT_FALSE(folder_.empty());
    test::RemoveTree(test::TempSetupDir());
  }
  void Copy(const std::string& from, const char* to) {
    ASSERT_TRUE(CopyFileA(from.c_str(), (folder_ + "\\" + to).c_str(), FALSE)) << from;
  }
  test::Started Start() {
    std::string program = folder_ + "\\setup.exe";
    return test::StartProgram(program, "\"" + program + "\"");
  }
  std::string folder_;
};

TEST_F(BrandedSetup, ShowsTheTranslatedMessageUnderTheProductsCaption) {
  Copy(WinPath(BRANDING_DATA_DIR "/branded_media/setup.exe"), "setup.exe");  // alone: INSTALL.SC_ is missing
  test::Started started = Start();
  ASSERT_TRUE(started.ok);
  Window box;
  ASSERT_TRUE(ReadWindow(started, true, &box));
  test::Finish(started, 60);
  printf("box: caption \"%s\", text \"%s\"\n", Utf8(box.caption).c_str(), Utf8(box.text).c_str());
  EXPECT_EQ(std::wstring(Caption), box.caption);
  std::wstring expected = L"Файл " + test::Widen(folder_) + L"\\INSTALL.SC_ не найден. Установка невозможна.";
  EXPECT_EQ(expected, box.text.substr(0, expected.size()));
}

TEST_F(BrandedSetup, ShowsAJapaneseMessage) {
  Copy(WinPath(BRANDING_DATA_DIR "/japanese_media/setup.exe"), "setup.exe");
  test::Started started = Start();
  ASSERT_TRUE(started.ok);
  Window box;
  ASSERT_TRUE(ReadWindow(started, true, &box));
  test::Finish(started, 60);
  printf("box: caption \"%s\", text \"%s\"\n", Utf8(box.caption).c_str(), Utf8(box.text).c_str());
  EXPECT_EQ(L"例 セットアップ", box.caption);
  std::wstring expected = L"ファイル " + test::Widen(folder_) + L"\\INSTALL.SC_ が見つかりません。";
  EXPECT_EQ(expected, box.text.substr(0, expected.size()));
}

TEST_F(BrandedSetup, ThePleaseWaitDialogShowsTheCaptionAndTheTranslatedLine) {
  // An unsealed copy, beside the large pack files of the please-wait tests:
  // the dialog stays while they expand.
  Copy(WinPath(BRANDING_DATA_DIR "/unsealed_media/setup.exe"), "setup.exe");
  Copy(test::Data("bigsample.SC_"), "INSTALL.SC_");
  Copy(test::Data("bigstandin.EX_"), "INSTALL.EX_");
  test::Started started = Start();
  ASSERT_TRUE(started.ok);
  Window dialog;
  EXPECT_TRUE(ReadWindow(started, false, &dialog));
  test::SetupRun run = test::Finish(started, 300);
  EXPECT_TRUE(run.finished);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(std::wstring(Caption), dialog.caption);
  EXPECT_EQ(std::wstring(DialogLine), dialog.text);
}

TEST_F(BrandedSetup, SignedItRunsItsInstaller) {
  Copy(WinPath(BRANDING_SIGNED_EXE), "setup.exe");
  std::string report = folder_ + "\\report";
  ASSERT_TRUE(test::MakeDirectories(report));
  SetEnvironmentVariableA("STANDIN_REPORT", report.c_str());
  test::Started started = Start();
  test::SetupRun run = test::Finish(started, 120);
  SetEnvironmentVariableA("STANDIN_REPORT", NULL);
  EXPECT_TRUE(run.finished);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ("1", test::ReadReport(report)["signalled"]);
}

}  // namespace
