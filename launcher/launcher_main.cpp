// LauncherMain: the single pass from entry to exit.
#include "launcher.h"

#include "pack_format.h"  // ReadLE32
#include "unpack_file.h"

namespace {

// A word of the command tail is one of the settings' silent switches: no
// dialog, no message box; failures go to the log.
int SilentRun;

// The full path of a pack file for a message: the same text as the path the
// launcher tried, in a buffer large enough for any SourceDir, so that a path
// too long for its 512-byte buffer is still named whole.
void PackPathForMessage(char* buffer, uint32_t size, const char* sourceDirectory, const char* name) {
  FormatBounded(buffer, size, sourceDirectory[0] != '\0' ? "%s\\%s" : "%s%s", sourceDirectory, name);
}

// A failure: beep, then message textId with text in place of its %s,
// caption "Setup"; in a silent run, a line in the failure log instead.
// Returns code, the exit code it gives. A missing pack file may mean that
// setup.exe was started alone from an archive: message 1 says to extract
// every file of the media first.
DWORD Report(DWORD code, UINT textId, const char* text) {
  if (SilentRun) {
    LogFailure(code, text, textId);
  } else {
    MessageBeep(MB_ICONHAND);
    ShowMessage(NULL, text, textId, IDS_SETUP_CAPTION, MB_ICONHAND,
                textId == IDS_FILE_NOT_FOUND ? IDS_EXTRACT_ALL : 0);
  }
  return code;
}

// Report of message textId naming a pack file in SourceDir (or name alone,
// when sourceDirectory is empty).
DWORD ReportPackFile(DWORD code, UINT textId, const char* sourceDirectory, const char* name) {
  char shown[ArgumentsBufferSize];
  PackPathForMessage(shown, sizeof(shown), sourceDirectory, name);
  return Report(code, textId, shown);
}

// Builds the path of a pack file in SourceDir into path (PathBufferSize
// bytes); 0 when it does not fit or no such file is there.
int FindPackFile(char* path, const char* sourceDirectory, const char* name) {
  return JoinPath(path, PathBufferSize, sourceDirectory, name) && FileExists(path);
}

// The please-wait dialog (modeless, no owner, creation parameter 0), or NULL
// in a silent run. Nothing depends on it: one that cannot be created (NULL)
// changes nothing else.
HWND OpenPleaseWait() {
  return SilentRun ? NULL
                   : CreateDialogParamA(LauncherInstance, MAKEINTRESOURCEA(IDD_PLEASE_WAIT), NULL,
                                        PleaseWaitDialogProc, 0);
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
  if ((ReadLE32(entry + 4) | ReadLE32(entry + SealEntryLengthOffset + 4)) != 0) return 0;
  return SourceRangeMatches(program, ReadLE32(entry), ReadLE32(entry + SealEntryLengthOffset),
                            entry + SealEntryLengthOffset);
}

// Expands one pack file under the temporary name part and gives it its
// final name only once it has expanded whole and passed its check record
// and seal, so that the installer's name never holds bytes that were not
// verified. On failure nothing of it is left. (Empty paths could not be
// built whole.) The source is the file at sourcePath or, when program is
// open, the range of it that the seal entry names (sourcePath then names the
// program). sealEntry NULL: unsealed. On failure *inTheWay names the entry
// of TempSetupDir that kept the file from being written under part or
// taking its name (a folder of that name, or a file that could not be
// deleted), when one is there.
int ExpandPackFile(const char* destination, const char* part, const char* sourcePath, HANDLE program,
                   const uint8_t* sealEntry, const char** inTheWay) {
  const uint8_t* sealed = sealEntry ? sealEntry + SealEntryLengthOffset : NULL;
  int expanded = 0;
  if (destination[0] != '\0' && part[0] != '\0') {
    expanded = program != INVALID_HANDLE_VALUE
                   ? UnpackFileFrom(part, program, ReadLE32(sealEntry), ReadLE32(sealed), sourcePath, sealed)
                   : UnpackFile(part, sourcePath, 0, NULL, 0, 0, sealed);
  }
  if (expanded) {
    // A virus scanner looking at the new file may keep it from being renamed
    // for a moment.
    for (int tries = 0; tries < 10; ++tries) {
      if (MoveFileA(part, destination)) return 1;
      Sleep(100);
    }
  }
  DeleteFileA(part);
  if (GetFileAttributesA(part) != INVALID_FILE_ATTRIBUTES) {
    *inTheWay = part;
  } else if (GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES) {
    *inTheWay = destination;
  }
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

// Steps 3 to 16 for the launcher that holds the completion event (NULL
// when another kind of object holds its name): it alone uses TempSetupDir.
// Returns the installer's exit code, or the code of the failure.
DWORD RunSetup(const char* sourceDir, const char* windowsDir, const char* tempSetupDir,
               const char* installerDestination, const char* commandTail, HANDLE event) {
  // 3. An existing directory is fine.
  if (tempSetupDir[0] != '\0') CreateDirectoryA(tempSetupDir, NULL);

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
  HWND pleaseWait = NULL;
  if (scriptSeal != NULL && IsCarriedPackFile(scriptSeal)) {
    // Both are read and checked against the seal first: a download cut
    // short or changed is reported as such, and nothing is expanded. A
    // large download takes a while to read: the dialog shows meanwhile.
    pleaseWait = OpenPleaseWait();
    program = OpenOwnProgram(LauncherInstance, scriptSource, PathBufferSize);
    CopyBounded(installerSource, scriptSource, PathBufferSize);
    shownDirectory = "";
    shownScript = shownInstaller = scriptSource;
    if (program == INVALID_HANDLE_VALUE || !CarriedPackFileIntact(program, scriptSeal) ||
        !CarriedPackFileIntact(program, installerSeal)) {
      if (program != INVALID_HANDLE_VALUE) CloseHandle(program);
      if (pleaseWait != NULL) DestroyWindow(pleaseWait);
      RemoveDirectoryA(tempSetupDir);
      return ReportPackFile(ExitSetupFailed, IDS_DOWNLOAD_DAMAGED, shownDirectory, scriptSource);
    }
  } else {
    // 5 and 6 (step 17 when one is missing). A pack path that does not fit
    // is reported missing, never used cut. TempSetupDir goes when empty:
    // nothing was written yet.
    const char* missing =
        !FindPackFile(scriptSource, sourceDir, SETUP_SCRIPT_SOURCE_NAME)         ? SETUP_SCRIPT_SOURCE_NAME
        : !FindPackFile(installerSource, sourceDir, SETUP_INSTALLER_SOURCE_NAME) ? SETUP_INSTALLER_SOURCE_NAME
                                                                                 : NULL;
    if (missing != NULL) {
      RemoveDirectoryA(tempSetupDir);
      return ReportPackFile(ExitPackFileMissing, IDS_FILE_NOT_FOUND, sourceDir, missing);
    }
  }

  // Paths in TempSetupDir that do not fit stay empty and fail the expansion.
  char scriptDestination[PathBufferSize];
  JoinPath(scriptDestination, PathBufferSize, tempSetupDir, SETUP_SCRIPT_NAME);
  char scriptPart[PathBufferSize];
  JoinPath(scriptPart, PathBufferSize, tempSetupDir, SETUP_SCRIPT_PART_NAME);

  // 7.
  char installerPart[PathBufferSize];
  JoinPath(installerPart, PathBufferSize, tempSetupDir, SETUP_INSTALLER_PART_NAME);
  // The please-wait dialog stays up while the files expand; the draining of
  // messages inside UnpackFile keeps it painted and answering.
  if (pleaseWait == NULL) pleaseWait = OpenPleaseWait();

  // 8. A failed expansion starts nothing: a partly written installer or
  // script must never run. The script is expanded first; when it fails, the
  // installer is not expanded. A sealed setup.exe expands only the pack
  // files it was sealed for. An entry of TempSetupDir that stands in the
  // way is named rather than media that may be whole.
  const char* failedPack = NULL;
  const char* inTheWay = NULL;
  if (!ExpandPackFile(scriptDestination, scriptPart, scriptSource, program, scriptSeal, &inTheWay)) {
    failedPack = shownScript;
  } else if (!ExpandPackFile(installerDestination, installerPart, installerSource, program, installerSeal,
                             &inTheWay)) {
    DeleteFileA(scriptDestination);
    failedPack = shownInstaller;
  }
  if (program != INVALID_HANDLE_VALUE) CloseHandle(program);
  if (failedPack != NULL) {
    // The dialog goes before the message box, which has no owner; what was
    // written is gone before it is shown.
    if (pleaseWait != NULL) DestroyWindow(pleaseWait);
    RemoveDirectoryA(tempSetupDir);
    if (inTheWay != NULL) return Report(ExitSetupFailed, IDS_FILE_ERROR, inTheWay);
    return ReportPackFile(ExitSetupFailed, IDS_FILE_ERROR, shownDirectory, failedPack);
  }

  // 9. Arguments that do not fit are never passed on cut: the start fails.
  char arguments[ArgumentsBufferSize];
  int argumentsWhole = BuildInstallerArguments(arguments, ArgumentsBufferSize, sourceDir, commandTail);

  // 11. The installer inherits the Windows directory as its current one.
  if (windowsDir[0] != '\0') SetCurrentDirectoryA(windowsDir);

  // 12. SW_SHOW whatever the launcher's own show state.
  char command[CommandBufferSize];
  Installer installer;
  int started = argumentsWhole &&
                BuildInstallerCommand(command, CommandBufferSize, installerDestination, arguments) &&
                StartInstaller(command, &installer);

  // 13. The installer has started (or failed to): the dialog goes.
  if (pleaseWait != NULL) DestroyWindow(pleaseWait);

  if (!started) {
    // 14. Nothing runs the files: they go before the message.
    DeleteFileA(scriptDestination);
    DeleteFileA(installerDestination);
    RemoveDirectoryA(tempSetupDir);
    return ReportPackFile(ExitSetupFailed, IDS_FILE_ERROR, shownDirectory, shownInstaller);
  }

  // 15. Until the signal, or until the installation has ended. Its exit
  // code, when the settings ask for it, once the installer's own process
  // has ended (after a signal it may still run).
  WaitForInstaller(event, &installer, installerDestination);
  DWORD code = 0;
  if (ExitCodesWanted()) {
    WaitForSingleObject(installer.process, INFINITE);
    GetExitCodeProcess(installer.process, &code);
  }
  CloseHandle(installer.process);
  Sleep(500);

  // 16. Files still in use are tried again for 10 s.
  CleanUpAfterInstaller(tempSetupDir, 20);
  return code;
}

}  // namespace

int LauncherMain(HINSTANCE instance, const char* commandTail) {
  // 1.
  LauncherInstance = instance;
  SilentRun = SilentSwitchGiven(commandTail);

  // 2. A SourceDir that cannot be read whole stays empty: no pack path is
  // built from it, and the script is reported missing. A folder that no
  // narrow path can name is reported as such; nothing is started or touched.
  char sourceDir[PathBufferSize];
  if (GetSourceDirectory(instance, sourceDir, PathBufferSize) == SourceDirUnusable) {
    DWORD code = Report(ExitSetupFailed, IDS_FOLDER_UNUSABLE, sourceDir);
    return ExitCodesWanted() ? (int)code : 0;
  }
  char windowsDir[PathBufferSize];
  UINT windowsLength = GetWindowsDirectoryA(windowsDir, PathBufferSize);
  if (windowsLength == 0 || windowsLength >= PathBufferSize) windowsDir[0] = '\0';

  // A TempSetupDir that cannot be built whole stays empty: nothing is
  // created or deleted, and the expansions fail.
  char tempSetupDir[PathBufferSize];
  JoinPath(tempSetupDir, PathBufferSize, windowsDir, SETUP_TEMP_DIRECTORY_NAME);
  char installerDestination[PathBufferSize];
  JoinPath(installerDestination, PathBufferSize, tempSetupDir, SETUP_INSTALLER_NAME);

  // 10, before anything in TempSetupDir is touched. The completion event is
  // opened or created in one step: the launcher that creates it owns the
  // folder until it has cleaned up. One that finds it already there, or
  // finds the installer of an earlier launcher still running in the folder,
  // leaves the folder alone and says that setup is already running. A name
  // that another kind of object holds gives no event: the launcher then
  // waits for the installer's process alone.
  HANDLE event = CreateEventA(NULL, FALSE, FALSE, SETUP_COMPLETION_EVENT);
  int otherLauncher = event != NULL && GetLastError() == ERROR_ALREADY_EXISTS;
  DWORD code;
  if (otherLauncher || InstallerImageInUse(installerDestination)) {
    code = Report(ExitAlreadyRunning, IDS_ALREADY_RUNNING, NULL);
  } else {
    code = RunSetup(sourceDir, windowsDir, tempSetupDir, installerDestination, commandTail, event);
  }
  if (event != NULL) CloseHandle(event);
  return ExitCodesWanted() ? (int)code : 0;
}
