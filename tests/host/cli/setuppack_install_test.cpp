// setuppack as a packager installs it (cmake --install of the host build)
// and its manual page.
#include <regex>
#include <sstream>
#include <set>

#include "setuppack_runner.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(SetuppackTest, InstallPutsProgramManualAndSetupExeIntoAPrefixThatMayMove) {
  Result r = Shell("'" CMAKE_COMMAND "' --install '" HOST_BUILD_DIR "' --prefix prefix");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(access(Path("prefix/bin/setuppack").c_str(), X_OK), 0);
  EXPECT_TRUE(Read("prefix/share/man/man1/setuppack.1") == ReadFileBytes(MANUAL_PAGE));
  std::string configured = INSTALLED_SETUP_EXE;
  if (configured.empty()) {
    // This build installs none (SETUPPACK_SETUP_EXE is empty): stand in for
    // what the install would have put there.
    EXPECT_FALSE(Exists("prefix/share/setuppack/setup.exe"));
    ASSERT_EQ(Shell("mkdir -p prefix/share/setuppack").status, 0);
    Write("prefix/share/setuppack/setup.exe", {'M', 'Z', 9});
  } else {
    EXPECT_TRUE(Read("prefix/share/setuppack/setup.exe") == ReadFileBytes(configured));
  }
  std::vector<uint8_t> setup = Read("prefix/share/setuppack/setup.exe");
  ASSERT_FALSE(setup.empty());

  // media finds it beside its program, after the prefix moved, and says so.
  Write("script", MixedBytes(3000, 21));
  Write("installer", MixedBytes(9000, 22));
  ASSERT_EQ(Shell("mv prefix moved").status, 0);
  r = Shell("moved/bin/setuppack media --script script --installer installer -o cd --no-seal");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Contains(r.output, "setup.exe: copied from " + Path("moved/share/setuppack/setup.exe") +
                                     " (installed with setuppack)"))
      << r.output;
  EXPECT_TRUE(Read("cd/setup.exe") == setup);
  EXPECT_EQ(Run("test cd/INSTALL.SC_ cd/INSTALL.EX_").status, 0);

  // Without one, media says how to get one and writes nothing, unless asked
  // for the pack files alone.
  ASSERT_EQ(Shell("rm moved/share/setuppack/setup.exe").status, 0);
  r = Shell("moved/bin/setuppack media --script script --installer installer -o cd2");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.output, "no setup.exe")) << r.output;
  EXPECT_TRUE(Contains(r.output, "--setup EXE")) << r.output;
  EXPECT_TRUE(Contains(r.output, "--no-setup")) << r.output;
  EXPECT_FALSE(Exists("cd2"));
  r = Shell("moved/bin/setuppack media --script script --installer installer -o cd2 --no-setup");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(Listing("cd2"), std::vector<std::string>({"INSTALL.EX_", "INSTALL.SC_"}));
}

TEST_F(SetuppackTest, ManualPageRendersWithoutWarningsAndDocumentsEveryOptionAndCommand) {
  if (Shell("command -v groff && command -v man").status != 0) {
    GTEST_SKIP() << "groff or man is missing (scripts/install-deps.sh installs groff-base and man-db)";
  }
  Result groff = Shell("groff -man -ww -z '" MANUAL_PAGE "'");
  EXPECT_EQ(groff.status, 0);
  EXPECT_EQ(groff.output, "");
  Result man =
      Shell("LC_ALL=C MANWIDTH=80 man --warnings -l '" MANUAL_PAGE "' 2>warnings >text; cat warnings");
  EXPECT_EQ(man.status, 0);
  EXPECT_EQ(man.output, "");
  std::string text;
  for (uint8_t c : Read("text")) text += (char)c;
  for (const char* section :
       {"SYNOPSIS", "COMMANDS", "OPTIONS", "EXIT STATUS", "EXAMPLES", "THE ORDER RULE", "THE CHECK RECORD"}) {
    EXPECT_TRUE(Contains(text, "\n" + std::string(section) + "\n")) << section;
  }
  // Every option and command that --help names.
  Result help = Run("--help");
  std::set<std::string> words;
  std::regex option("(^|[ ,\\[|])(--?[a-zA-Z][-a-zA-Z]*)");
  for (auto m = std::sregex_iterator(help.output.begin(), help.output.end(), option);
       m != std::sregex_iterator(); ++m) {
    words.insert((*m)[2]);
  }
  std::regex command("^(usage:)? +setuppack (\\[OPTION\\]\\.\\.\\. )?([a-z]+) ");
  std::istringstream lines(help.output);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, command)) words.insert("setuppack " + std::string(m[3]));
  }
  EXPECT_GE(words.size(), 20u);
  for (const std::string& w : words) {
    if (w.compare(0, 10, "setuppack ") == 0) {
      std::string name = w.substr(10);
      EXPECT_TRUE(Contains(text, "\n       " + name + " ") || Contains(text, "\n       " + name + "\n")) << w;
    } else {
      EXPECT_TRUE(Contains(text, w)) << w;
    }
  }
}

}  // namespace
