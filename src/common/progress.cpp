#include "progress.h"

#include <unistd.h>

#include <cstdio>

Progress::Progress(std::string what, long total, bool enabled)
    : what_(std::move(what)), total_(total), enabled_(enabled && isatty(STDERR_FILENO)), start_(Clock::now()) {}

Progress::~Progress() {
  // Clears the line so that what follows starts on a clean one.
  if (shown_) std::fputs("\r\033[K", stderr);
}

void Progress::Update(long done) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  if (elapsed < 1.0 || (shown_ && now - lastShown_ < std::chrono::milliseconds(250))) return;
  lastShown_ = now;
  shown_ = true;
  const double left = done > 0 ? elapsed * static_cast<double>(total_ - done) / static_cast<double>(done) : 0.0;
  std::fprintf(stderr, "\rveltrane: %s %ld/%ld, %.0f s elapsed, about %.0f s left\033[K", what_.c_str(), done,
               total_, elapsed, left);
  std::fflush(stderr);
}
