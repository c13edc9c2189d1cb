#include "commands/progress_line.h"

#include <stdio.h>

#include <chrono>

namespace {

std::string Megabytes(double bytes) {
  char text[32];
  snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
  return text;
}

const double RedrawSeconds = 0.25;

}  // namespace

double ProgressLine::SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

ProgressLine::ProgressLine(bool redrawn, bool summedUp, const std::string& name, uint64_t total,
                           double (*clock)(), FILE* out)
    : redrawn_(redrawn),
      summedUp_(summedUp),
      name_(name),
      total_(total),
      clock_(clock),
      out_(out),
      start_(clock()) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Clear() {
  if (redrawn_ && width_ > 0) fprintf(out_, "\r%*s\r", (int)width_, "");
  width_ = 0;
}

void ProgressLine::Update(uint64_t done) {
  if (!redrawn_) return;
  double now = clock_();
  if (lastDrawn_ >= 0 && now - lastDrawn_ < RedrawSeconds) return;
  lastDrawn_ = now;
  Draw(done, now);
}

void ProgressLine::Finish(uint64_t in, uint64_t out) {
  Clear();
  if (!summedUp_) return;
  // The share is of the larger size: what packing kept, what expanding undid.
  uint64_t larger = in > out ? in : out;
  fflush(stdout);  // after the results written before it, as on a terminal
  fprintf(out_, "%s: %llu -> %llu bytes (%.1f%%) in %.2f s\n", name_.c_str(), (unsigned long long)in,
          (unsigned long long)out, larger ? 100.0 * (double)(in < out ? in : out) / (double)larger : 100.0,
          clock_() - start_);
}

void ProgressLine::Draw(uint64_t done, double now) {
  double seconds = now - start_;
  double rate = seconds > 0 ? done / seconds : 0;
  std::string line = name_ + ": ";
  char text[64];
  if (total_ > 0) {
    snprintf(text, sizeof text, "%3u%% ", (unsigned)(done * 100 / total_));
    line += text + Megabytes((double)done) + " of " + Megabytes((double)total_);
  } else {
    line += Megabytes((double)done);
  }
  if (rate > 0) {
    line += ", " + Megabytes(rate) + "/s";
    if (total_ > done) {
      unsigned left = (unsigned)((total_ - done) / rate + 0.5);
      snprintf(text, sizeof text, ", %u:%02u left", left / 60, left % 60);
      line += text;
    }
  }
  size_t width = line.size();
  if (width < width_) line.append(width_ - width, ' ');
  fprintf(out_, "\r%s", line.c_str());
  fflush(out_);
  width_ = width;
}
