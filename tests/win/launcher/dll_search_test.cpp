// setup.exe's DLL search path, restricted at entry, against Wine's loader:
// copies of a DLL beside the program and in the current directory load by
// name before the restriction and not after it; system DLLs still load.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "dll_search_path.h"
#include "test_support.h"

namespace {

std::string ProgramDirectory() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  std::string program(path, length);
  return program.substr(0, program.rfind('\\'));
}

// Each name is asked for once: a DLL already loaded is found by its name
// whatever the search path.
TEST(DllSearchPath, PlantedDllsLoadBeforeTheRestrictionAndNotAfter) {
  std::string folder = test::FreshTestFolder("dll_search");
  ASSERT_FALSE(folder.empty());
  std::string planted = ProgramDirectory() + "\\planted_beside_a.dll";
  for (const char* name : {"planted_cwd_a.dll", "planted_cwd_b.dll"}) {
    ASSERT_TRUE(CopyFileA(planted.c_str(), (folder + "\\" + name).c_str(), FALSE)) << name;
  }
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));

  EXPECT_NE((HMODULE)NULL, LoadLibraryA("planted_beside_a.dll")) << "beside the program";
  EXPECT_NE((HMODULE)NULL, LoadLibraryA("planted_cwd_a.dll")) << "in the current directory";

  EXPECT_EQ((uint32_t)(DllSearchSystemOnly | DllSearchNoCurrentDirectory), RestrictDllSearchPath());
  EXPECT_EQ((HMODULE)NULL, LoadLibraryA("planted_beside_b.dll")) << "beside the program";
  EXPECT_EQ((HMODULE)NULL, LoadLibraryA("planted_cwd_b.dll")) << "in the current directory";
  // A full path is the caller's own choice and still loads.
  EXPECT_NE((HMODULE)NULL, LoadLibraryA((folder + "\\planted_cwd_b.dll").c_str()));
  EXPECT_NE((HMODULE)NULL, LoadLibraryA("version.dll")) << "a system DLL by name";
}

}  // namespace
