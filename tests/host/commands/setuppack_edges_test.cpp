// setuppack at the edges of its command line and of its file writing: a value
// option given as the last word, and a new file that another program puts
// in place while setuppack is writing it.
#include <fcntl.h>

#include "platform/file_io.h"
#include "setuppack_runner.h"

namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CommandLineTest : public SetuppackTest {};

TEST_F(CommandLineTest, AValueOptionAsTheLastWordIsAUsageError) {
  Write("s", {'s'});
  Write("i", {'i'});
  const struct {
    const char* args;
    const char* option;  // named in the message
  } cases[] = {
      {"media --script", "--script"},
      {"media --script s --installer", "--installer"},
      {"media --script s --installer i --no-setup -o", "-o"},
      {"media --script s --installer i --no-setup --output", "--output"},
      {"media --script s --installer i --setup", "--setup"},
      {"--script", "--script"},
      {"-f --installer", "--installer"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    Result r = Run(c.args);
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(Contains(r.output, c.option)) << r.output;
    EXPECT_EQ(Listing(), std::vector<std::string>({"i", "s"}));
  }
  // With its value joined to it, the same option may end the line.
  Result r = Run("media --script=s --installer=i --no-setup --output=out");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_TRUE(Exists("out/INSTALL.SC_"));
}

// A destination planned as new, written, and then taken by another program
// before it is put in place.
class NewDestinationTest : public SetuppackTest {};

TEST_F(NewDestinationTest, AFileThatAppearsWhileItIsWrittenIsLeftAlone) {
  const struct {
    const char* intruder;  // a shell command that makes `out`
    mode_t kind;
  } cases[] = {
      {"printf intruder > out", S_IFREG},
      {"printf intruder > elsewhere && ln -s elsewhere out", S_IFLNK},
      {"ln -s nowhere out", S_IFLNK},
      {"mkfifo out", S_IFIFO},
  };
  const std::vector<uint8_t> bytes = {'n', 'e', 'w'};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.intruder);
    ASSERT_EQ(Shell("rm -f out elsewhere").status, 0);
    Destination d;
    std::string error;
    ASSERT_TRUE(PlanDestination(Path("out"), false, &d, &error)) << error;
    ASSERT_EQ(d.mode, WriteMode::NewFile);
    DestinationWriter writer(d);
    ASSERT_TRUE(writer.Open(bytes.size(), &error)) << error;
    ASSERT_TRUE(writer.Write(bytes.data(), bytes.size(), &error)) << error;
    ASSERT_EQ(Shell(c.intruder).status, 0);
    EXPECT_FALSE(writer.Commit(&error));
    EXPECT_TRUE(Contains(error, "out")) << error;
    EXPECT_EQ(KindOf("out"), c.kind);
    if (c.kind == S_IFREG) {
      EXPECT_TRUE(Read("out") == std::vector<uint8_t>({'i', 'n', 't', 'r', 'u', 'd', 'e', 'r'}));
    }
    for (const std::string& name : Listing()) EXPECT_FALSE(Contains(name, ".partial-")) << name;
  }
  // The same steps with nothing in the way put the file in place.
  ASSERT_EQ(Shell("rm -f out").status, 0);
  Destination d;
  std::string error;
  ASSERT_TRUE(PlanDestination(Path("out"), false, &d, &error)) << error;
  EXPECT_TRUE(WriteDestination(d, bytes, &error)) << error;
  EXPECT_TRUE(Read("out") == bytes);
}

}  // namespace
