// The installer check at the bounds of its headers: the MZ header, and the PE
// signature with its 20-byte file header after it.
#include "media/installer_check.h"

#include <gtest/gtest.h>
#include <string.h>

#include "test_data.h"

namespace {

// A program of 88 bytes cut to `size`: an MZ header of 64 bytes whose field
// at 60 puts the PE header at 64; there "PE\0\0", then the 20-byte file
// header: machine i386 (0x14c at 68), characteristics 0 at 86 (a program,
// not a DLL).
std::vector<uint8_t> ProgramOfSize(size_t size) {
  std::vector<uint8_t> file(88, 0);
  memcpy(&file[0], "MZ", 2);
  WriteLE32(&file[60], 64);
  memcpy(&file[64], "PE\0\0", 4);
  file[68] = 0x4c, file[69] = 0x01;
  file.resize(size);
  return file;
}

TEST(InstallerCheck, ThePeHeaderMustHoldItsFileHeader) {
  const std::string noPeHeader = "an MZ header but no PE header";
  const struct {
    size_t size;
    const char* says;  // "" for a program setup.exe starts
  } cases[] = {
      {63, "no MZ header"},      // shorter than an MZ header
      {68, noPeHeader.c_str()},  // the signature, and nothing of the file header
      {87, noPeHeader.c_str()},  // its characteristics' second byte missing
      {88, ""},                  // signature and the whole 20-byte file header
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> file = ProgramOfSize(c.size);
    std::string problem = InstallerProblem(file, "install.exe");
    if (*c.says == '\0') {
      EXPECT_EQ(problem, "") << c.size << " bytes";
    } else {
      EXPECT_NE(problem.find(c.says), std::string::npos) << c.size << " bytes: " << problem;
    }
  }
}

}  // namespace
