// The two output files of a run, written so that a run that fails or is
// interrupted leaves the earlier files exactly as they were: the cluster
// report goes to a temporary file beside "output" that replaces it only at
// the end, and the results block is appended in one piece when the run succeeds.
#pragma once

#include <signal.h>

#include <fstream>
#include <string>

// Blocks SIGINT, SIGTERM and SIGHUP while it lives, so that files are put in
// place without interruption; a signal that came meanwhile is delivered after.
class SignalGuard {
 public:
  SignalGuard();
  ~SignalGuard();
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  sigset_t saved_;
};

class OutputFiles {
 public:
  // Opens the results file for appending and creates the temporary report.
  // Raises a RunError when either cannot be written.
  explicit OutputFiles(std::string resultsPath, std::string reportPath = "output");
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  std::ostream& Report() { return report_; }
  // Raises a RunError if a report write has failed (a full disk, say).
  void CheckReport();
  // Appends the results block, then puts the report in place of "output".
  void Commit(const std::string& resultsBlock);

 private:
  void Discard();
  [[noreturn]] void FailAndTakeBack(const std::string& path, const char* what, int error);
  std::string resultsPath_, reportPath_, tempPath_;
  int resultsFd_ = -1;
  bool resultsCreated_ = false;
  long long resultsSize_ = 0;
  std::ofstream report_;
  bool committed_ = false;
};

// Removes the unfinished files of the current run on SIGINT, SIGTERM, SIGHUP
// and fatal numerical errors.
void InstallInterruptCleanup();
