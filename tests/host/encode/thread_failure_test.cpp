// A packing thread that runs out of memory, or that cannot start, fails the
// whole command with its reason and status 1, and leaves nothing behind:
// through faults planted in the real process (faults_shim.c) and through a
// real memory limit.
#include "setuppack_runner.h"

namespace {

class ThreadFailure : public SetuppackTest {
 protected:
  void SetUp() override {
    SetuppackTest::SetUp();
    Write("big", RandomBytes(3 << 20, 81));  // three segments: three threads at work
    Write("script", MixedBytes(5000, 82));
  }
  // Nothing but the inputs left in the folder: no temporary, and no media
  // folder made for the media that failed.
  void ExpectNothingLeft(const std::string& what) {
    EXPECT_EQ(Listing(), (std::vector<std::string>{"big", "script"})) << what;
  }
};

TEST_F(ThreadFailure, EachFailureFailsTheCommand) {
  if (SetuppackUnderTest() != SETUPPACK_PATH) GTEST_SKIP() << "faults are planted in this build's setuppack";
  const std::string shim = std::string("ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=") + FAULTS_SHIM;
  struct {
    const char* fault;
    const char* command;
    const char* message;
  } cases[] = {
      {"FAULT_THREADS_THAT_START=1", "-T 3 pack big big.pk",
       "setuppack: cannot start a thread: Resource temporarily unavailable\n"},
      {"FAULT_THREADS_THAT_START=0", "-q -T 2 media --script script --installer big --no-setup -o cd",
       "setuppack: cannot start a thread: Resource temporarily unavailable\n"},
      {"FAULT_MALLOC_IN_THREADS=1", "-T 3 pack big big.pk", "setuppack: out of memory\n"},
      {"FAULT_MALLOC_IN_THREADS=1", "-q -T 2 media --script script --installer big --no-setup -o cd",
       "setuppack: out of memory\n"},
  };
  for (const auto& c : cases) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's allocator is the one there: malloc is not replaced.
    if (std::string(c.fault).find("MALLOC") != std::string::npos) continue;
#endif
    Result r = Shell(shim + " " + c.fault + " \"$SP\" " + c.command);
    EXPECT_EQ(r.status, 1) << c.fault << " " << c.command << ": " << r.output;
    EXPECT_EQ(r.output, c.message) << c.fault << " " << c.command;
    ExpectNothingLeft(std::string(c.fault) + " " + c.command);
  }
}

// Under limits of address space from too little to start a thread to
// enough: each run packs whole, or fails as above, never with an abort.
TEST_F(ThreadFailure, MemoryLimits) {
  if (Shell("ulimit -v 262144; \"$SP\" --version").status != 0) {
    GTEST_SKIP() << "this build does not run under a limit of address space (sanitizers)";
  }
  int failed = 0, packed = 0;
  for (int megabytes = 16; megabytes <= 256; megabytes += 16) {
    std::string what = std::to_string(megabytes) + " MiB";
    Result r = Shell("ulimit -v " + std::to_string(megabytes * 1024) + "; \"$SP\" -T 3 pack big big.pk");
    if (r.status == 0) {
      ++packed;
      EXPECT_EQ(Run("unpack big.pk - | cmp - big").status, 0) << what;
      Shell("rm big.pk");
    } else {
      ++failed;
      EXPECT_EQ(r.status, 1) << what << ": " << r.output;
      EXPECT_TRUE(r.output == "setuppack: out of memory\n" ||
                  r.output.find("setuppack: cannot start a thread: ") == 0)
          << what << ": " << r.output;
    }
    ExpectNothingLeft(what);
  }
  EXPECT_GT(failed, 0);
  EXPECT_GT(packed, 0);
}

}  // namespace
