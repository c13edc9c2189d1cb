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
#define SETUP_COMPLETION_EVENT "TalvenorFinishComplete"

// Resource ids (resources/setup.rc).
enum {
  IDD_PLEASE_WAIT = 4001,  // the please-wait dialog template
  IDI_SETUP = 5001,        // the icon group

  IDS_FILE_NOT_FOUND = 1,  // "File %s is not found. Further installation not possible."
  IDS_SETUP_CAPTION = 2,   // "Setup"
  IDS_FILE_ERROR = 3,      // "Error in %s file. Further installation not possible."
};

// The module instance received at entry; resources are loaded from it.
extern HINSTANCE LauncherInstance;

// The whole life of the process; returns 0 on every path.
int LauncherMain(HINSTANCE instance, const char* commandTail);

// The tail of a command line after the program name: a name that
// begins with a double quote runs to the next double quote (a lead byte of a
// double-byte character takes the byte after it along), any other name ends
// before the first character of code 32 or less; the characters of code 1 to
// 32 after it are skipped. isLeadByte is the code page's test (IsDBCSLeadByte
// for the real command line).
const char* CommandTail(const char* commandLine, int (*isLeadByte)(unsigned char byte));
// CommandTail of GetCommandLineA with the ANSI code page's lead bytes.
const char* ProcessCommandTail(void);

// Path operations. Each returns 1 when the result is whole.
int GetModuleDirectory(HMODULE module, char* buffer, uint32_t size);
void StripLastPathComponent(const char* path, char* buffer, uint32_t size);
int FileExists(const char* path);
typedef int (*FileNamePredicate)(char* name);
void DeleteMatchingFiles(const char* directory, FileNamePredicate predicate);
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

// The seal block of this setup.exe (seal_block.cpp).
extern const uint8_t SetupSeal[SealBlockSize];

// The please-wait dialog (please_wait_dialog.cpp). Its title buffer is
// process-wide and receives string IDS_SETUP_CAPTION at WM_INITDIALOG.
static const uint32_t PleaseWaitTitleSize = 256;
extern char PleaseWaitTitle[PleaseWaitTitleSize];
INT_PTR CALLBACK PleaseWaitDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// A message box with the string table's texts, no owner unless given.
int ShowMessage(HWND owner, const char* text, UINT textId, UINT captionId, UINT style);
