// LauncherMain: the single pass from entry to exit.
#include "launcher.h"

#include "pack_format.h"  // ReadLE32
#include "unpack_file.h"

namespace {

// The full path of a pack file for a message: the same text as the path the
// launcher tried, in a buffer large enough for any SourceDir, so that a path
// too long for its 512-byte buffer is still named whole.
void PackPathForMessage(char* buffer, uint32_t size, const char* sourceDirectory, const char* name) {
  FormatBounded(buffer, size, sourceDirectory[0] != '\0' ? "%s\\%s" : "%s%s", sourceDirectory, name);
}

// A missing or damaged pack file: beep, then message textId naming the pack
// file in SourceDir (or name alone, when sourceDirectory is empty), caption
// "Setup". A missing one may mean that setup.exe was started alone from an
// archive: message 1 says to extract every file of the media first.
void ReportPackFile(UINT textId, const char* sourceDirectory, const char* name) {
  char shown[ArgumentsBufferSize];
  PackPathForMessage(shown, sizeof(shown), sourceDirectory, name);
  MessageBeep(MB_ICONHAND);
  ShowMessage(NULL, shown, textId, IDS_SETUP_CAPTION, MB_ICONHAND,
              textId == IDS_FILE_NOT_FOUND ? IDS_EXTRACT_ALL : 0);
}

void RemoveTempSetupDir(const char* tempSetupDir) {
  if (tempSetupDir[0] == '\0') return;  // could not be built: nothing to touch
  DeleteMatchingFiles(tempSetupDir, IsInstallFile);
  RemoveDirectoryA(tempSetupDir);  // only if empty; a failure is ignored
}

// Builds the path of a pack file in SourceDir into path (PathBufferSize
// bytes). When it does not fit or no such file is there (step 17): beep,
// message 1 naming it, clean-up, and 0, so that the launcher returns.
int FindPackFile(char* path, const char* sourceDirectory, const char* name, const char* tempSetupDir) {
  if (JoinPath(path, PathBufferSize, sourceDirectory, name) && FileExists(path)) return 1;
  ReportPackFile(IDS_FILE_NOT_FOUND, sourceDirectory, name);
  RemoveTempSetupDir(tempSetupDir);
  return 0;
}

// The entry of seal for the script (the installer's follows it), or NULL
// when the seal is unsealed. Any state but "unsealed" counts as sealed, so
// that a damaged seal refuses every pack file. (Not inlined: the block's
// address then stays in a register, and each byte read from it costs no
// relocation.)
__attribute__((noinline)) const uint8_t* ScriptSealEntry(const uint8_t* seal) {
  uint32_t differ = 0;
  for (uint32_t i = 0; i < SealStateSize; ++i)
    differ |= seal[SealStateOffset + i] ^ (uint8_t)SealStateUnsealed[i];
  return differ ? seal + SealEntriesOffset : NULL;
}

// A seal entry that names a range of the program's own file (its offset is
// not 0), not a pack file beside it.
int IsCarriedPackFile(const uint8_t* entry) { return (ReadLE32(entry) | ReadLE32(entry + 4)) != 0; }

// 1 when the range of the program's file (open as program) that a seal
// entry names is there whole, with the length and SHA-256 the entry holds:
// a download cut short or changed gives 0. Checked before anything is
// expanded, so that it is told apart from a failure to write the expansion.
int CarriedPackFileIntact(HANDLE program, const uint8_t* entry) {
  // The format measures files in 32 bits, and so does the program's file.
  if (ReadLE32(entry + 4) != 0) return 0;
  return SourceRangeMatches(program, ReadLE32(entry), ReadLE32(entry + SealEntryLengthOffset),
                            entry + SealEntryLengthOffset);
}

// Expands one pack file: the file at sourcePath, or, when program is open,
// the range of it that the seal entry names (sourcePath then names the
// program). sealEntry NULL: unsealed.
int ExpandPackFile(const char* destination, int destinationWhole, const char* sourcePath, HANDLE program,
                   const uint8_t* sealEntry) {
  if (!destinationWhole) return 0;
  const uint8_t* sealed = sealEntry ? sealEntry + SealEntryLengthOffset : NULL;
  if (program != INVALID_HANDLE_VALUE) {
    return UnpackFileFrom(destination, program, ReadLE32(sealEntry), ReadLE32(sealed), sourcePath, sealed);
  }
  return UnpackFile(destination, sourcePath, 0, NULL, 0, 0, sealed);
}

}  // namespace

int LauncherMain(HINSTANCE instance, const char* commandTail) {
  // 1.
  LauncherInstance = instance;

  // 2. A SourceDir that cannot be read whole stays empty: no pack path is
  // built from it, and the script is reported missing. A folder that no
  // narrow path can name is reported as such; nothing is started or touched.
  char sourceDir[PathBufferSize];
  if (GetSourceDirectory(instance, sourceDir, PathBufferSize) == SourceDirUnusable) {
    char noDirectory[1] = {'\0'};  // the folder alone, not joined to one
    ReportPackFile(IDS_FOLDER_UNUSABLE, noDirectory, sourceDir);
    return 0;
  }
  char windowsDir[PathBufferSize];
  UINT windowsLength = GetWindowsDirectoryA(windowsDir, PathBufferSize);
  if (windowsLength == 0 || windowsLength >= PathBufferSize) windowsDir[0] = '\0';

  // 3. A TempSetupDir that cannot be built whole stays empty: nothing is
  // created or deleted, and the expansions fail.
  char tempSetupDir[PathBufferSize];
  if (JoinPath(tempSetupDir, PathBufferSize, windowsDir, SETUP_TEMP_DIRECTORY_NAME)) {
    CreateDirectoryA(tempSetupDir, NULL);  // an existing directory is fine
  }

  // 4. Whatever a previous run left.
  DeleteMatchingFiles(tempSetupDir, IsInstallFile);

  // Where the pack files are read from: a sealed program whose seal names
  // ranges of its own file carries them (setuppack media --single-file) and
  // never reads pack files from its folder; any other reads them there.
  // Messages name the pack file in SourceDir, or the program that carries it.
  const uint8_t* scriptSeal = ScriptSealEntry(SetupSeal);
  const uint8_t* installerSeal = scriptSeal ? scriptSeal + SealEntrySize : NULL;
  char scriptSource[PathBufferSize];
  char installerSource[PathBufferSize];
  const char* shownDirectory = sourceDir;
  const char* shownScript = SETUP_SCRIPT_SOURCE_NAME;
  const char* shownInstaller = SETUP_INSTALLER_SOURCE_NAME;
  HANDLE program = INVALID_HANDLE_VALUE;
  if (scriptSeal != NULL && IsCarriedPackFile(scriptSeal)) {
    // Both are read and checked against the seal first: a download cut
    // short or changed is reported as such, and nothing is expanded.
    program = OpenOwnProgram(instance, scriptSource, PathBufferSize);
    CopyBounded(installerSource, scriptSource, PathBufferSize);
    shownDirectory = "";
    shownScript = shownInstaller = scriptSource;
    if (program == INVALID_HANDLE_VALUE || !CarriedPackFileIntact(program, scriptSeal) ||
        !CarriedPackFileIntact(program, installerSeal)) {
      ReportPackFile(IDS_DOWNLOAD_DAMAGED, shownDirectory, scriptSource);
      if (program != INVALID_HANDLE_VALUE) CloseHandle(program);
      RemoveTempSetupDir(tempSetupDir);
      return 0;
    }
  } else {
    // 5. A pack path that does not fit is reported missing, never used cut.
    if (!FindPackFile(scriptSource, sourceDir, SETUP_SCRIPT_SOURCE_NAME, tempSetupDir)) return 0;
    // 6.
    if (!FindPackFile(installerSource, sourceDir, SETUP_INSTALLER_SOURCE_NAME, tempSetupDir)) return 0;
  }

  // 7.
  char scriptDestination[PathBufferSize];
  int scriptDestinationWhole = JoinPath(scriptDestination, PathBufferSize, tempSetupDir, SETUP_SCRIPT_NAME);
  char installerDestination[PathBufferSize];
  int installerDestinationWhole =
      JoinPath(installerDestination, PathBufferSize, tempSetupDir, SETUP_INSTALLER_NAME);
  // The please-wait dialog (modeless, no owner, creation parameter 0) stays
  // up while the files expand; the draining of messages inside UnpackFile
  // keeps it painted and answering. Nothing below depends on it: one that
  // cannot be created (NULL) changes nothing else.
  HWND pleaseWait =
      CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PLEASE_WAIT), NULL, PleaseWaitDialogProc, 0);

  // 8. A failed expansion starts nothing: a partly written installer or
  // script must never run. The script is expanded first; when it fails, the
  // installer is not expanded. A sealed setup.exe expands only the pack
  // files it was sealed for.
  const char* failedPack = NULL;
  if (!ExpandPackFile(scriptDestination, scriptDestinationWhole, scriptSource, program, scriptSeal)) {
    failedPack = shownScript;
  } else if (!ExpandPackFile(installerDestination, installerDestinationWhole, installerSource, program,
                             installerSeal)) {
    failedPack = shownInstaller;
  }
  if (program != INVALID_HANDLE_VALUE) CloseHandle(program);
  if (failedPack != NULL) {
    // The dialog goes before the message box, which has no owner.
    if (pleaseWait != NULL) DestroyWindow(pleaseWait);
    ReportPackFile(IDS_FILE_ERROR, shownDirectory, failedPack);
    RemoveTempSetupDir(tempSetupDir);
    return 0;
  }

  // 9. Arguments that do not fit are never passed on cut: the start fails.
  char arguments[ArgumentsBufferSize];
  int argumentsWhole = BuildInstallerArguments(arguments, ArgumentsBufferSize, sourceDir, commandTail);

  // 10. The completion event, opened or created in one step, so that of two
  // launchers started together only one waits. A name that another kind of
  // object holds gives no event: nobody could say when the installer is
  // done, so it counts as pre-existing (no wait, no clean-up).
  HANDLE waitHandle = CreateEventA(NULL, FALSE, FALSE, SETUP_COMPLETION_EVENT);
  int eventPreExisted = waitHandle == NULL || GetLastError() == ERROR_ALREADY_EXISTS;
  if (eventPreExisted && waitHandle != NULL) {
    CloseHandle(waitHandle);
    waitHandle = NULL;
  }

  // 11. The installer inherits the Windows directory as its current one.
  if (windowsDir[0] != '\0') SetCurrentDirectoryA(windowsDir);

  // 12. SW_SHOW whatever the launcher's own show state.
  char command[CommandBufferSize];
  int started = 0;
  if (argumentsWhole && BuildInstallerCommand(command, CommandBufferSize, installerDestination, arguments)) {
    started = WinExec(command, SW_SHOW) > 31 ? 1 : 0;
  }

  // 13. The installer has started (or failed to): the dialog goes.
  if (pleaseWait != NULL) DestroyWindow(pleaseWait);

  if (!started) {
    // 14.
    ReportPackFile(IDS_FILE_ERROR, shownDirectory, shownInstaller);
  } else {
    // 15. No wait handle (the event pre-existed): only the pause remains.
    if (waitHandle != NULL) WaitForSingleObject(waitHandle, INFINITE);
    Sleep(500);
  }

  // 16. Files still in use are tried again for 10 s.
  if (!eventPreExisted) {
    CleanUpAfterInstaller(tempSetupDir, 20);
    CloseHandle(waitHandle);
  }
  return 0;
}
