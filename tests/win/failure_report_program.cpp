// Fails on purpose, for the test win*.gtest.failure_report: a failing test
// program under Wine must report each failure and the summary, and end with 1,
// also when threads start and end after its first failure.
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(FailureReport, PassesFirst) { EXPECT_EQ(2, 1 + 1); }

TEST(FailureReport, FailsAnExpectation) { EXPECT_EQ(3, 1 + 1) << "first of three"; }

TEST(FailureReport, FailsUnderATraceAfterAThreadEnded) {
  SCOPED_TRACE("traced");
  int seen = 0;
  std::thread([&] { seen = 1; }).join();
  ASSERT_EQ(2, seen) << "second of three";
}

TEST(FailureReport, FailsInAnotherThread) {
  std::thread([] { ADD_FAILURE() << "third of three"; }).join();
}

TEST(FailureReport, PassesLast) { SUCCEED(); }

}  // namespace
