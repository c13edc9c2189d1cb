// Signals and the standard streams on POSIX systems: SIGPIPE, SIGINT,
// SIGTERM and SIGHUP, and the last word on standard output.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/posix/system.h"

std::atomic<TemporaryName*> temporaries{nullptr};

namespace {

void RemoveTemporariesAndDie(int signal) {
  for (TemporaryName* t = temporaries; t; t = t->next) unlink(t->path.c_str());
  ::signal(signal, SIG_DFL);
  raise(signal);
}

}  // namespace

void Remember(TemporaryName* name) {
  name->next = temporaries.load();
  temporaries = name;
}

void Forget(TemporaryName* name) {
  for (std::atomic<TemporaryName*>* link = &temporaries; *link; link = &(*link).load()->next) {
    if (*link == name) {
      *link = name->next.load();
      return;
    }
  }
}

bool FinishStandardOutput(std::string* error) {
  bool earlierFailure = ferror(stdout) != 0;
  errno = 0;
  if (fflush(stdout) != 0 || earlierFailure) {
    *error = errno ? SystemError("standard output") : "standard output: an earlier write failed";
    return false;
  }
  // close() reports what a file system kept back (NFS); a standard output
  // that was never open is no failure.
  if (close(1) != 0 && errno != EBADF) {
    *error = SystemError("standard output");
    return false;
  }
  return true;
}

void InstallSignalHandlers() {
  signal(SIGPIPE, SIG_IGN);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = RemoveTemporariesAndDie;
    sigaction(s, &action, nullptr);
  }
}

bool StandardErrorIsTerminal() { return isatty(2); }
