// The two output files of a run, written so that a run that fails or is
// interrupted leaves the earlier files exactly as they were: the cluster
// report goes to a temporary file beside "output" that replaces it only at
// the end, and the results block is appended in one piece when the run succeeds.
#pragma once

#include <signal.h>

#include <fstream>
#include <optional>
#include <string>

// A file written whole or not at all: the writes go to a temporary file beside
// the path, which takes the path's place only when the file is complete. Until
// then the temporary file is removed when the writer is destroyed or the run
// is interrupted (one such file at a time).
class ReplacingFile {
 public:
  // what: the file as messages name it, as "cluster report". Raises a
  // RunError when the temporary file cannot be created.
  ReplacingFile(std::string path, std::string what);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  std::ostream& Stream() { return stream_; }
  const std::string& Path() const { return path_; }
  // Raises a RunError if a write has failed (a full disk, say).
  void Check();
  // Flushes and closes the temporary file; raises a RunError if a write failed.
  void Close();
  // Puts the closed temporary file in place of the path: 0, or the errno of the failure.
  int Replace();
  // Close and Replace, raising a RunError on failure.
  void Commit();

 private:
  [[noreturn]] void Fail(const char* verb, int error);
  std::string path_, what_, tempPath_;
  std::ofstream stream_;
  bool replaced_ = false;
};

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

  std::ostream& Report() { return report_->Stream(); }
  // Raises a RunError if a report write has failed (a full disk, say).
  void CheckReport();
  // Appends the results block, then puts the report in place of "output".
  void Commit(const std::string& resultsBlock);

 private:
  void Discard();
  [[noreturn]] void FailAndTakeBack(const std::string& path, const char* what, int error);
  std::string resultsPath_, reportPath_;
  std::optional<ReplacingFile> report_;  // made once the results file is open
  int resultsFd_ = -1;
  bool resultsCreated_ = false;
  long long resultsSize_ = 0;
  bool committed_ = false;
};

// Removes the unfinished files of the current run on SIGINT, SIGTERM, SIGHUP,
// fatal numerical errors and an exit() before they are in place.
void InstallInterruptCleanup();
