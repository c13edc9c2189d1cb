// What media says of the installer it packs: setup.exe starts it with
// WinExec, so a file that is no 32-bit Windows program makes media that
// expand well and then fail, or run only on some Windows.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Why setup.exe may not start installer (named name), as one line; empty
// when it is a 32-bit Windows program.
std::string InstallerProblem(const std::vector<uint8_t>& installer, const std::string& name);
