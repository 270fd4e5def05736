// A progress line on standard error for work that takes more than a second,
// shown only when standard error is a terminal.
#pragma once

#include <chrono>
#include <string>

class Progress {
 public:
  // what: the units counted, as in "positions"; total: how many there are.
  Progress(std::string what, long total, bool enabled = true);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(long done);

 private:
  using Clock = std::chrono::steady_clock;
  std::string what_;
  long total_;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_, lastShown_;
};
