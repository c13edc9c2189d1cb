// The installer's process: started so that the launcher knows it, and waited
// for until the installer signals the completion event or the installation
// has ended, so that an installer that ends without a word (one that does
// not know the event, crashes or is cancelled) never leaves the launcher
// waiting for ever.
//
// The installation is the installer and every process it starts, directly or
// through others: they share a job object, whose completion port says when
// the last of them has ended. An installer that hands its work to a copy of
// itself in %TEMP% and exits is so waited for until the copy has ended.
// Where no job can be had (Windows 95, 98 and Me, NT 4, a launcher in a job
// that its system does not let it leave or nest), the launcher waits for the
// installer's own process and any process that runs its image.
#include "launcher.h"

#include "dll_search_path.h"  // KernelFunction

namespace {

// How long a started program is given to come up, as WinExec gives it (the
// time Wine's WinExec waits): the please-wait dialog stays until the
// installer waits for its first input or this has passed.
const DWORD InstallerStartTimeLimit = 30000;
// How often the launcher looks whether the installation still runs once
// the process it started has ended without the signal.
const DWORD InstallerPollInterval = 500;

typedef HANDLE(WINAPI* CreateJobObjectACall)(LPSECURITY_ATTRIBUTES attributes, LPCSTR name);
typedef BOOL(WINAPI* SetInformationJobObjectCall)(HANDLE job, JOBOBJECTINFOCLASS kind, LPVOID information,
                                                  DWORD size);
typedef BOOL(WINAPI* AssignProcessToJobObjectCall)(HANDLE job, HANDLE process);
typedef HANDLE(WINAPI* CreateIoCompletionPortCall)(HANDLE file, HANDLE port, ULONG_PTR key, DWORD threads);
typedef BOOL(WINAPI* GetQueuedCompletionStatusCall)(HANDLE port, LPDWORD bytes, PULONG_PTR key,
                                                    LPOVERLAPPED* overlapped, DWORD milliseconds);

// A job whose completion port receives its process messages, with process
// in it; the port, or NULL when the system gives no job or will not put
// process in one. Job and port live until the launcher ends: closing them
// would not end the installation, and nothing else needs them.
HANDLE JoinInstallationJob(HANDLE process) {
  CreateJobObjectACall createJob = reinterpret_cast<CreateJobObjectACall>(KernelFunction("CreateJobObjectA"));
  SetInformationJobObjectCall setInformation =
      reinterpret_cast<SetInformationJobObjectCall>(KernelFunction("SetInformationJobObject"));
  AssignProcessToJobObjectCall assign =
      reinterpret_cast<AssignProcessToJobObjectCall>(KernelFunction("AssignProcessToJobObject"));
  CreateIoCompletionPortCall createPort =
      reinterpret_cast<CreateIoCompletionPortCall>(KernelFunction("CreateIoCompletionPort"));
  // Systems with jobs (Windows 2000 and later) have the other three too.
  if (createJob == NULL) return NULL;
  HANDLE job = createJob(NULL, NULL);
  if (job == NULL) return NULL;
  HANDLE port = createPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job, port};
  // A process of the installation that asks to leave the job may: the job
  // only watches, and must not make such a start fail. (Wine 8 refuses
  // limits; the job still watches there.)
  JOBOBJECT_BASIC_LIMIT_INFORMATION limits;
  ZeroMemory(&limits, sizeof(limits));
  limits.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  setInformation(job, JobObjectBasicLimitInformation, &limits, sizeof(limits));
  if (port != NULL &&
      setInformation(job, JobObjectAssociateCompletionPortInformation, &association, sizeof(association)) &&
      assign(job, process)) {
    return port;
  }
  if (port != NULL) CloseHandle(port);
  CloseHandle(job);
  return NULL;
}

// 1 once the port has said that no process of the job runs any more; waits
// up to milliseconds for its next message.
int InstallationEnded(HANDLE port, DWORD milliseconds) {
  GetQueuedCompletionStatusCall next =
      reinterpret_cast<GetQueuedCompletionStatusCall>(KernelFunction("GetQueuedCompletionStatus"));
  DWORD message = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED detail = NULL;
  if (next == NULL) return 1;
  // A port that fails (rather than waits in vain) will say nothing more.
  if (!next(port, &message, &key, &detail, milliseconds)) return GetLastError() != WAIT_TIMEOUT;
  return message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
}

}  // namespace

int InstallerImageInUse(const char* installerPath) {
  if (installerPath == NULL || installerPath[0] == '\0') return 0;
  // A running image cannot be opened for writing, whatever the sharing asked
  // for (on Windows and under Wine alike); nothing is written.
  HANDLE file = CreateFileA(installerPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return 0;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION ? 1 : 0;
}

int StartInstaller(char* command, Installer* installer) {
  // As WinExec(command, SW_SHOW) starts it, but keeping its process, and
  // put in the installation's job before it runs, so that whatever it
  // starts is in the job too.
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, &process)) {
    return 0;
  }
  installer->port = JoinInstallationJob(process.hProcess);
  installer->process = process.hProcess;
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  WaitForInputIdle(process.hProcess, InstallerStartTimeLimit);
  return 1;
}

void WaitForInstaller(HANDLE event, const Installer* installer, const char* installerPath) {
  // The event comes first: when both are signalled, the signal counts.
  HANDLE both[2] = {event, installer->process};
  if (event != NULL && WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0) return;
  if (event == NULL) WaitForSingleObject(installer->process, INFINITE);
  // The process ended without the signal. What it started may still run
  // and signal later: wait for the signal as long as a process of the job
  // runs...
  if (installer->port != NULL) {
    while (!InstallationEnded(installer->port, InstallerPollInterval)) {
      if (event != NULL && WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return;
    }
  }
  // ...and as long as any process runs the installer's image: a copy of it
  // started outside the job (or, without a job, by it) may signal too.
  while (InstallerImageInUse(installerPath)) {
    if (event == NULL) {
      Sleep(InstallerPollInterval);
    } else if (WaitForSingleObject(event, InstallerPollInterval) == WAIT_OBJECT_0) {
      return;
    }
  }
}
