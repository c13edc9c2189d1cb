// The progress line of long work, as xz -v and zstd show it: one line on
// standard error, redrawn at most four times a second, with the bytes done of
// the total, the rate and the time left.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

class ProgressLine {
 public:
  // Seconds of the steady clock, from a fixed start.
  static double SteadySeconds();
  // total 0: not known (a pipe); the line then shows no share or time left.
  // The clock and the stream are the tests' to give.
  ProgressLine(bool shown, const std::string& name, uint64_t total, double (*clock)() = SteadySeconds,
               FILE* out = stderr);
  ~ProgressLine();  // clears the line
  void Update(uint64_t done);
  // For callbacks that take a context pointer.
  static void Report(void* line, uint64_t done) { static_cast<ProgressLine*>(line)->Update(done); }

 private:
  void Draw(uint64_t done, double now);
  bool shown_;
  std::string name_;
  uint64_t total_;
  double (*clock_)();
  FILE* out_;
  double start_;
  double lastDrawn_ = -1;
  size_t width_ = 0;  // of the line drawn last, to clear it
};
