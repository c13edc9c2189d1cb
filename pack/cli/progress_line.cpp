#include "cli/progress_line.h"

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

ProgressLine::ProgressLine(bool shown, const std::string& name, uint64_t total, double (*clock)(), FILE* out)
    : shown_(shown), name_(name), total_(total), clock_(clock), out_(out), start_(clock()) {}

ProgressLine::~ProgressLine() {
  if (shown_ && width_ > 0) fprintf(out_, "\r%*s\r", (int)width_, "");
}

void ProgressLine::Update(uint64_t done) {
  if (!shown_) return;
  double now = clock_();
  if (lastDrawn_ >= 0 && now - lastDrawn_ < RedrawSeconds) return;
  lastDrawn_ = now;
  Draw(done, now);
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
