// Names of files and folders that scan --extract makes from names it found
// (in disc images, in other people's folders): safe to make on every system.
#pragma once

#include <string>

// name, or "_" + name when Windows reserves it for a device: CON, PRN, AUX,
// NUL, COM1 to COM9 and LPT1 to LPT9, in any letter case, alone or with any
// extension, and with spaces before it ("NUL.SC_", "con", "Com1.tar.gz").
// Opened there, such a name is the device, not a file.
std::string NotADeviceName(const std::string& name);
