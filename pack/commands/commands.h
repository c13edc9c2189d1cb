// The commands of setuppack, one file a command: pack, unpack, test, list,
// extract, media, seal, scan. Each reads its options, calls the rooms below
// it (media/, rescue/, expand/, encode/, platform/), prints its result and
// returns its exit status (cli/status.h). No command includes another: what
// two share lives in file_pairs.h, expand_files.h or the room of its concern.
#pragma once

#include "commands/invocation.h"
#include "commands/verdicts.h"

int Pack(const Invocation& invocation);
int Unpack(const Invocation& invocation);
// test, list and scan fill verdicts (when not null: --json) instead of
// printing their results.
int Test(const Invocation& invocation, Verdicts* verdicts);
int List(const Invocation& invocation, Verdicts* verdicts);
int Extract(const Invocation& invocation);
int Seal(const Invocation& invocation);
int Scan(const Invocation& invocation, Verdicts* verdicts);
// programPath is argv[0], for finding the installed setup.exe where
// /proc/self/exe is not there.
int Media(const Invocation& invocation, const char* programPath);
