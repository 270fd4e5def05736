#include "output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "chisq.h"
#include "dbscan.h"

namespace {

// Paths the signal handler removes; plain buffers, since a handler may only
// make async-signal-safe calls.
char pendingReport[4096];
char pendingResults[4096];

void RemovePending() {
  if (pendingReport[0]) unlink(pendingReport);
  if (pendingResults[0]) unlink(pendingResults);
}

void OnInterrupt(int sig) {
  RemovePending();
  signal(sig, SIG_DFL);
  raise(sig);
}

void Remember(char (&slot)[4096], const std::string& path) {
  if (path.size() < sizeof slot) std::memcpy(slot, path.c_str(), path.size() + 1);
}

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
  throw RunError(path + ": " + what + ": " + std::strerror(error));
}

}  // namespace

SignalGuard::SignalGuard() {
  sigset_t block;
  sigemptyset(&block);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &saved_);
}

SignalGuard::~SignalGuard() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }

void InstallInterruptCleanup() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal the caller ignores (nohup, a background job) stays ignored.
    struct sigaction current;
    sigaction(sig, nullptr, &current);
    if (current.sa_handler != SIG_IGN) signal(sig, OnInterrupt);
  }
  setFatalCleanup(RemovePending);
}

OutputFiles::OutputFiles(std::string resultsPath, std::string reportPath)
    : resultsPath_(std::move(resultsPath)), reportPath_(std::move(reportPath)) {
  struct stat report;
  if (stat(reportPath_.c_str(), &report) == 0 && S_ISDIR(report.st_mode))
    Fail(reportPath_, "cannot replace the cluster report", EISDIR);
  // No interruption between creating a file and remembering to remove it.
  SignalGuard guard;
  struct stat before;
  resultsCreated_ = stat(resultsPath_.c_str(), &before) != 0;
  resultsFd_ = open(resultsPath_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (resultsFd_ < 0) Fail(resultsPath_, "cannot open the results file", errno);
  if (resultsCreated_) Remember(pendingResults, resultsPath_);

  std::vector<char> name(reportPath_.begin(), reportPath_.end());
  for (char c : std::string(".tmpXXXXXX")) name.push_back(c);
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    const int error = errno;
    Discard();
    Fail(reportPath_, "cannot create the cluster report", error);
  }
  tempPath_ = name.data();
  Remember(pendingReport, tempPath_);
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  report_.open(tempPath_, std::ios::binary | std::ios::trunc);
  if (!report_) {
    const int error = errno;
    Discard();
    Fail(tempPath_, "cannot write the cluster report", error);
  }
}

OutputFiles::~OutputFiles() {
  if (!committed_) Discard();
}

void OutputFiles::Discard() {
  if (report_.is_open()) report_.close();
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
  if (resultsFd_ >= 0) {
    if (resultsCreated_) unlink(resultsPath_.c_str());
    close(resultsFd_);
    resultsFd_ = -1;
  }
  pendingReport[0] = pendingResults[0] = '\0';
}

// Cuts the results file back to its size before the run, so that it holds
// only whole result blocks, then fails.
void OutputFiles::FailAndTakeBack(const std::string& path, const char* what, int error) {
  [[maybe_unused]] const int restored = ftruncate(resultsFd_, resultsSize_);
  Fail(path, what, error);
}

void OutputFiles::CheckReport() {
  if (!report_) Fail(reportPath_, "cannot write the cluster report", errno ? errno : EIO);
}

void OutputFiles::Commit(const std::string& resultsBlock) {
  report_.flush();
  CheckReport();
  report_.close();
  if (report_.fail()) Fail(reportPath_, "cannot write the cluster report", errno ? errno : EIO);

  SignalGuard guard;
  // Another run appending to the same file waits, so a block taken back is
  // only ever this run's own.
  if (flock(resultsFd_, LOCK_EX) != 0) Fail(resultsPath_, "cannot lock the results file", errno);
  struct stat current;
  fstat(resultsFd_, &current);
  resultsSize_ = current.st_size;
  for (std::size_t written = 0; written < resultsBlock.size();) {
    const ssize_t n = write(resultsFd_, resultsBlock.data() + written, resultsBlock.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) FailAndTakeBack(resultsPath_, "cannot write the results file", n < 0 ? errno : EIO);
    written += static_cast<std::size_t>(n);
  }
  if (rename(tempPath_.c_str(), reportPath_.c_str()) != 0)
    FailAndTakeBack(reportPath_, "cannot replace the cluster report", errno);
  close(resultsFd_);
  resultsFd_ = -1;
  committed_ = true;
  pendingReport[0] = pendingResults[0] = '\0';
}
