// The launcher: LauncherMain and its helpers.
//
// Every text joined from parts goes through FormatBounded, which never passes
// its buffer and says when a text was cut; a path that was cut is never used
// to create, delete or start anything.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "bounded_format.h"  // CopyBounded
#include "seal.h"
#include "settings.h"

// Fixed buffer sizes.
static const uint32_t PathBufferSize = 512;
static const uint32_t ArgumentsBufferSize = 1024;
static const uint32_t CommandBufferSize = 2048;
static const uint32_t MessageBodySize = 4096;
static const uint32_t MessageFormatSize = 1024;
static const uint32_t MessageCaptionSize = 256;

// Fixed names.
#define SETUP_TEMP_DIRECTORY_NAME "ZIMRO~SE.TUP"
#define SETUP_SCRIPT_SOURCE_NAME "INSTALL.SC_"
#define SETUP_SCRIPT_NAME "INSTALL.SCR"
#define SETUP_INSTALLER_SOURCE_NAME "INSTALL.EX_"
#define SETUP_INSTALLER_NAME "INSTALL.EXE"
// What a file is expanded under until it has been verified whole: names
// that contain INSTALL (so that the next start clears what a killed run
// left) and that nothing starts.
#define SETUP_SCRIPT_PART_NAME "INSTALL.SCR.TMP"
#define SETUP_INSTALLER_PART_NAME "INSTALL.EXE.TMP"
#define SETUP_COMPLETION_EVENT "TalvenorFinishComplete"
// The failure log of silent runs, in the temporary folder (GetTempPathA).
#define SETUP_FAILURE_LOG_NAME "ZIMRO~SE.LOG"

// setup.exe's exit codes for its own failures, when its settings ask for
// exit codes (the ones deployment tools know from Windows Installer).
enum : DWORD {
  ExitPackFileMissing = 2,    // ERROR_FILE_NOT_FOUND: a pack file is not there
  ExitSetupFailed = 1603,     // ERROR_INSTALL_FAILURE: media it cannot expand, an installer it cannot start
  ExitAlreadyRunning = 1618,  // ERROR_INSTALL_ALREADY_RUNNING: another setup is at work
};

// Resource ids (resources/setup.rc).
enum {
  IDD_PLEASE_WAIT = 4001,  // the please-wait dialog template
  IDI_SETUP = 5001,        // the icon group

  IDS_FILE_NOT_FOUND = 1,    // "File %s is not found. Further installation not possible."
  IDS_SETUP_CAPTION = 2,     // "Setup"
  IDS_FILE_ERROR = 3,        // "Error in %s file. Further installation not possible."
  IDS_FOLDER_UNUSABLE = 4,   // "Setup cannot use the folder %s: ..." (GetSourceDirectory gave none)
  IDS_DOWNLOAD_DAMAGED = 5,  // "%s is incomplete or damaged. ..." (a program that carries its pack files)
  IDS_EXTRACT_ALL = 6,       // added to message 1: extract every file of the media together first
  IDS_ALREADY_RUNNING = 7,   // "Setup is already running. ..." (another launcher owns TempSetupDir)
};

// The module instance received at entry; resources are loaded from it.
extern HINSTANCE LauncherInstance;

// The whole life of the process; returns 0 on every path, or, when the
// settings ask for exit codes, the installer's or one of the codes above.
int LauncherMain(HINSTANCE instance, const char* commandTail);

// The tail of a command line after the program name: a name that
// begins with a double quote runs to the next double quote (a lead byte of a
// double-byte character takes the byte after it along), any other name ends
// before the first character of code 32 or less; the characters of code 1 to
// 32 after it are skipped. isLeadByte is the code page's test (IsDBCSLeadByte
// for the real command line).
const char* CommandTail(const char* commandLine, int (*isLeadByte)(unsigned char byte));
// IsDBCSLeadByte as 1 or 0: the ANSI code page's lead bytes.
int AnsiLeadByte(unsigned char byte);
// The command tail within narrowLine, the system's narrow form of wideLine
// (GetCommandLineA of GetCommandLineW): the program name is found on the wide
// line, where a character that the narrow line writes as a double quote or a
// blank by best fit (U+FF02, U+3000) is no quote or blank, and the tail is the
// narrow line from the bytes that the system's conversion (CP_ACP, no flags)
// gives that name: byte for byte what follows it in narrowLine. Without a wide
// line (or name), CommandTail of narrowLine with AnsiLeadByte.
const char* NarrowCommandTail(const WCHAR* wideLine, const char* narrowLine);
// NarrowCommandTail of GetCommandLineW (where the system has it) and
// GetCommandLineA.
const char* ProcessCommandTail(void);

// WideCharToMultiByte without a default character of the caller's, called
// from here only (one base relocation in setup.exe for all its uses).
int WideToNarrow(UINT codePage, DWORD flags, const WCHAR* wide, int length, char* buffer, uint32_t size,
                 BOOL* usedDefault);
// wide (zero-terminated) into buffer in codePage: 1 when every character is
// written as itself (WC_NO_BEST_FIT_CHARS, no default character used), 0
// when one is not or the result does not fit (the buffer then holds what was
// written, with the default character for the ones the code page lacks).
// Where the system refuses that test (UTF-8, which writes every character as
// itself; Windows NT 4), the plain conversion counts as exact.
int NarrowExactly(UINT codePage, const WCHAR* wide, char* buffer, uint32_t size);

// What GetSourceDirectory found.
enum {
  SourceDirMissing = 0,   // no folder (empty buffer), as GetModuleDirectory
  SourceDirFound = 1,     // the folder, in a form the narrow file functions open
  SourceDirUnusable = 2,  // none; buffer names the folder for a message
};
// SourceDir from the module's wide file name: its folder as the ANSI code
// page writes it exactly, else its short (8.3) form, each only when the pack
// file paths in it stay within MAX_PATH and it holds no double quote (it is
// passed to the installer in quotes). Without a wide name (the Windows 95
// family) it is GetModuleDirectory's.
int GetSourceDirectory(HMODULE module, char* buffer, uint32_t size);

// Opens the program's own file for reading, sharing it with other readers
// only, by its wide name where the system has one; name (size bytes) receives the file's name as the ANSI
// code page writes it, for messages. INVALID_HANDLE_VALUE when it cannot be opened (name may then be empty).
HANDLE OpenOwnProgram(HMODULE module, char* name, uint32_t size);

// Path operations. Each returns 1 when the result is whole.
int GetModuleDirectory(HMODULE module, char* buffer, uint32_t size);
void StripLastPathComponent(const char* path, char* buffer, uint32_t size);
int FileExists(const char* path);
typedef int (*FileNamePredicate)(char* name);
// Deletes the files of directory (one level) that predicate accepts.
// Returns how many matching files it could not delete. Files are found and
// deleted by the names the file system gives them (the wide functions, where
// the system has them): the predicate sees each name as the ANSI code page
// writes it, with the code page's default character, never a best-fit one,
// for the characters it lacks, and no path is ever built from that form.
uint32_t DeleteMatchingFiles(const char* directory, FileNamePredicate predicate);
// The clean-up once the installer is done: INSTALL files still in use (an
// installer that exits late) are tried again every half second, retries
// times; what then remains, and the directory, is removed when Windows
// restarts, where the system allows it (administrator rights).
void CleanUpAfterInstaller(const char* directory, uint32_t retries);
int IsInstallFile(char* name);

// "%s\%s" of directory and name into buffer; 0 (and an empty buffer) when the
// directory is empty or the result does not fit.
int JoinPath(char* buffer, uint32_t size, const char* directory, const char* name);

// Installer arguments: a double quote, sourceDirectory, a double quote and,
// when tail is not empty, one blank and the tail. 0 when it does not fit.
int BuildInstallerArguments(char* buffer, uint32_t size, const char* sourceDirectory, const char* tail);
// Installer command: "%s %s" of installer path and arguments; the path is put
// in double quotes when it contains a blank, so that WinExec cannot start a
// shorter prefix of it. 0 when it
// does not fit.
int BuildInstallerCommand(char* buffer, uint32_t size, const char* installerPath, const char* arguments);

// The installer's process (installer_process.cpp).
struct Installer {
  HANDLE process;
  HANDLE port;  // the completion port of the installation's job; NULL without one
};
// Starts command as WinExec(command, SW_SHOW) does, in a job of its own
// where the system gives one, returning only once the program waits for
// input (or after 30 s); 0 when it cannot be started.
int StartInstaller(char* command, Installer* installer);
// 1 while a process runs the image at installerPath (it cannot be opened
// for writing then), else 0.
int InstallerImageInUse(const char* installerPath);
// Waits until event (NULL: none) is signalled, or the installation has
// ended: the installer's process, every process of its job and every
// process that runs installerPath.
void WaitForInstaller(HANDLE event, const Installer* installer, const char* installerPath);

// The seal block of this setup.exe (seal_block.cpp).
extern const uint8_t SetupSeal[SealBlockSize];
// Its settings (seal_block.cpp too).
extern const uint8_t SetupSettings[SettingsBlockSize];

// Unattended runs (unattended.cpp).
// 1 when the settings ask for exit codes.
int ExitCodesWanted(void);
// 1 when a word of the command tail is one of the settings' silent switches
// (letter case aside): the run then shows nothing.
int SilentSwitchGiven(const char* tail);
// Appends a line to the failure log: the time, the code setup.exe returns
// (0 unless the settings ask for exit codes), and message textId
// with text in place of its %s.
void LogFailure(DWORD code, const char* text, UINT textId);

// The please-wait dialog (please_wait_dialog.cpp). Its title buffer is
// process-wide and receives string IDS_SETUP_CAPTION at WM_INITDIALOG.
static const uint32_t PleaseWaitTitleSize = 256;
extern char PleaseWaitTitle[PleaseWaitTitleSize];
INT_PTR CALLBACK PleaseWaitDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A message box with the string table's texts, no owner unless given;
// string addedId, when not 0, follows the body.
int ShowMessage(HWND owner, const char* text, UINT textId, UINT captionId, UINT style, UINT addedId = 0);
