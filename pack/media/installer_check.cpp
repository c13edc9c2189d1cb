#include "media/installer_check.h"

#include <stdio.h>
#include <string.h>

#include "pack_format.h"

namespace {

const uint32_t MachineI386 = 0x14c, MachineAmd64 = 0x8664;
const uint32_t CharacteristicDll = 0x2000;

uint32_t ReadLE16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }

}  // namespace

std::string InstallerProblem(const std::vector<uint8_t>& installer, const std::string& name) {
  const uint8_t* p = installer.data();
  size_t size = installer.size();
  std::string file = "'" + name + "' ";
  if (size < 64 || p[0] != 'M' || p[1] != 'Z') {
    return file + "is not a Windows program (no MZ header): setup.exe cannot start it";
  }
  size_t header = ReadLE32(p + 60);
  if (header > size || size - header < 24 || memcmp(p + header, "PE\0\0", 4) != 0) {
    return file + "is not a Windows program (an MZ header but no PE header: an MS-DOS or 16-bit program, " +
           "which 64-bit Windows does not start)";
  }
  uint32_t machine = ReadLE16(p + header + 4), characteristics = ReadLE16(p + header + 22);
  if (characteristics & CharacteristicDll) return file + "is a DLL, not a program: setup.exe cannot start it";
  if (machine == MachineI386) return "";
  if (machine == MachineAmd64) {
    return file + "is a 64-bit program: the 32-bit setup.exe starts it with WinExec, which runs it only " +
           "on 64-bit Windows";
  }
  char code[8];
  snprintf(code, sizeof code, "%04x", (unsigned)machine);
  return file + "is a Windows program for another processor (machine 0x" + code +
         "): setup.exe starts it with WinExec, which runs it only where that processor's programs run";
}
