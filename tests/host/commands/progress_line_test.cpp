// The progress line as its reader sees it, on a clock the test moves.
#include "commands/progress_line.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

double seconds = 0;  // the test's clock
double TestClock() { return seconds; }

// The lines drawn (each redraw begins with a carriage return), read back
// from the stream the line was written to.
std::vector<std::string> LinesIn(FILE* stream) {
  fflush(stream);
  rewind(stream);
  std::string text;
  for (int c; (c = fgetc(stream)) != EOF;) text += (char)c;
  std::vector<std::string> lines;
  for (size_t at = text.find('\r'); at != std::string::npos;) {
    size_t next = text.find('\r', at + 1);
    lines.push_back(text.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
    at = next;
  }
  if (!lines.empty() && lines.back().empty()) lines.pop_back();  // after the clearing's last return
  return lines;
}

TEST(ProgressLine, RedrawsAtMostFourTimesASecondAndCountsTheTimeLeftFromWhatIsLeft) {
  FILE* stream = tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    seconds = 100;
    ProgressLine line(true, false, "big.bin", 100000000, TestClock, stream);  // 100 MB
    // At 10 s, 25 MB done: 2.5 MB/s, and 75 MB left take 30 s (the whole
    // 100 MB would take 40).
    seconds = 110;
    line.Update(25000000);
    // Within a quarter of a second of that drawing: not drawn again.
    seconds = 110.1;
    line.Update(26000000);
    seconds = 110.249;
    line.Update(27000000);
    // A quarter of a second after it: drawn. 50 MB in 10.25 s, and 50 MB left.
    seconds = 110.25;
    line.Update(50000000);
  }
  std::vector<std::string> lines = LinesIn(stream);
  fclose(stream);
  ASSERT_EQ(lines.size(), 3u) << "two drawings and the clearing at the end";
  EXPECT_EQ(lines[0], "big.bin:  25% 25.0 MB of 100.0 MB, 2.5 MB/s, 0:30 left");
  EXPECT_EQ(lines[1].substr(0, lines[1].find_last_not_of(' ') + 1),
            "big.bin:  50% 50.0 MB of 100.0 MB, 4.9 MB/s, 0:10 left");
  EXPECT_EQ(lines[2].find_first_not_of(' '), std::string::npos) << "the clearing is blank";
}

TEST(ProgressLine, AnUnknownTotalShowsNoShareAndNoTimeLeft) {
  FILE* stream = tmpfile();
  ASSERT_NE(stream, nullptr);
  {
    seconds = 5;
    ProgressLine line(true, false, "-", 0, TestClock, stream);
    seconds = 7;
    line.Update(4000000);
  }
  std::vector<std::string> lines = LinesIn(stream);
  fclose(stream);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "-: 4.0 MB, 2.0 MB/s");
}

}  // namespace
