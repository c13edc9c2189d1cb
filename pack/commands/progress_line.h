// How long work shows itself on standard error, as xz -v and zstd do: on a
// terminal, one line redrawn at most four times a second with the bytes
// done of the total, the rate and the time left; with -v, one line for each
// file when it ends (its sizes, their ratio and the time taken), which is
// all that goes to a log file or a pipe: no carriage returns there.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

class ProgressLine {
 public:
  // redrawn: the line that is redrawn (a terminal, without -q); summed up:
  // the line at the end (-v). total 0: not known (a pipe); the redrawn line
  // then shows no share or time left.
  // The clock (seconds from a fixed start) and the stream are the tests' to give.
  ProgressLine(bool redrawn, bool summedUp, const std::string& name, uint64_t total,
               double (*clock)() = SteadySeconds, FILE* out = stderr);
  // Seconds of the steady clock.
  static double SteadySeconds();
  ~ProgressLine();  // clears the redrawn line
  void Update(uint64_t done);
  // The file is done: from bytes in to bytes out (packed or expanded).
  void Finish(uint64_t in, uint64_t out);
  // For callbacks that take a context pointer.
  static void Report(void* line, uint64_t done) { static_cast<ProgressLine*>(line)->Update(done); }

 private:
  void Draw(uint64_t done, double now);
  void Clear();
  bool redrawn_, summedUp_;
  std::string name_;
  uint64_t total_;
  double (*clock_)();
  FILE* out_;
  double start_;
  double lastDrawn_ = -1;
  size_t width_ = 0;  // of the line drawn last, to clear it
};
