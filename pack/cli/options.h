// setuppack's command line: options before or after the command word, as
// people put them; "--" ends the options, so that a file may be called --best.
//
// cli/ is the top of setuppack: setuppack.cpp alone includes the commands
// (commands/commands.h) and runs the one named. The parser fills the
// Invocation that every command takes (commands/invocation.h); what the
// commands take from cli/ is only the exit statuses and error values
// (status.h), which every room may use.
#pragma once

#include <string>

#include "commands/invocation.h"

// Reads argv into *invocation. False, with the message in *error, for a
// usage error.
bool ParseCommandLine(int argc, char** argv, Invocation* invocation, std::string* error);

// False, with the message in *error, when an option was given to a command
// it means nothing to (--best to unpack, --script to pack).
bool CheckOptionsApply(const Invocation& invocation, std::string* error);

// The --help text, and the version it shows (the project's, from CMake).
extern const char UsageText[];
extern const char VersionText[];
