#include "commands/invocation.h"

#include "encode/segments.h"
#include "platform/file_io.h"

bool RedrawsProgress(const Invocation& in) { return !in.quiet && StandardErrorIsTerminal(); }

unsigned PackThreads(const Invocation& in) { return in.threads != 0 ? in.threads : AllProcessors(); }
