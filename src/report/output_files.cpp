#include "output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "chisq.h"
#include "dbscan.h"

namespace {

// Paths the signal handler removes; plain buffers, since a handler may only
// make async-signal-safe calls.
char pendingTemporary[4096];
char pendingResults[4096];

void RemovePending() {
  if (pendingTemporary[0]) unlink(pendingTemporary);
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
  // A run the runtime ends with exit() (a thread it cannot start) takes its
  // files back too.
  [[maybe_unused]] static const bool registered = std::atexit(RemovePending) == 0;
}

ReplacingFile::ReplacingFile(std::string path, std::string what) : path_(std::move(path)), what_(std::move(what)) {
  struct stat existing;
  if (stat(path_.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) Fail("cannot replace the ", EISDIR);
  std::vector<char> name(path_.begin(), path_.end());
  for (char c : std::string(".tmpXXXXXX")) name.push_back(c);
  name.push_back('\0');
  {
    // No interruption between creating the file and remembering to remove it.
    SignalGuard guard;
    const int fd = mkstemp(name.data());
    if (fd < 0) Fail("cannot create the ", errno);
    tempPath_ = name.data();
    Remember(pendingTemporary, tempPath_);
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
  }
  stream_.open(tempPath_, std::ios::binary | std::ios::trunc);
  if (!stream_) {
    const int error = errno;
    unlink(tempPath_.c_str());
    pendingTemporary[0] = '\0';
    Fail("cannot write the ", error);
  }
}

ReplacingFile::~ReplacingFile() {
  if (replaced_ || tempPath_.empty()) return;
  if (stream_.is_open()) stream_.close();
  unlink(tempPath_.c_str());
  pendingTemporary[0] = '\0';
}

void ReplacingFile::Fail(const char* verb, int error) {
  ::Fail(path_, (verb + what_).c_str(), error ? error : EIO);
}

void ReplacingFile::Check() {
  if (!stream_) Fail("cannot write the ", errno);
}

void ReplacingFile::Close() {
  stream_.flush();
  Check();
  stream_.close();
  if (stream_.fail()) Fail("cannot write the ", errno);
}

int ReplacingFile::Replace() {
  // On disk before it takes the path's place: a crash right after the rename
  // must not leave an empty file where the old one was.
  const int fd = open(tempPath_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int synced = fsync(fd) == 0 ? 0 : errno;
  close(fd);
  if (synced) return synced;
  if (rename(tempPath_.c_str(), path_.c_str()) != 0) return errno;
  replaced_ = true;
  pendingTemporary[0] = '\0';
  return 0;
}

void ReplacingFile::Commit() {
  Close();
  SignalGuard guard;
  if (const int error = Replace()) Fail("cannot replace the ", error);
}

OutputFiles::OutputFiles(std::string resultsPath, std::string reportPath)
    : resultsPath_(std::move(resultsPath)), reportPath_(std::move(reportPath)) {
  {
    // No interruption between creating a file and remembering to remove it.
    SignalGuard guard;
    struct stat before;
    resultsCreated_ = stat(resultsPath_.c_str(), &before) != 0;
    resultsFd_ = open(resultsPath_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (resultsFd_ < 0) Fail(resultsPath_, "cannot open the results file", errno);
    if (resultsCreated_) Remember(pendingResults, resultsPath_);
  }
  try {
    report_.emplace(reportPath_, "cluster report");
  } catch (...) {
    Discard();
    throw;
  }
}

OutputFiles::~OutputFiles() {
  if (!committed_) Discard();
}

void OutputFiles::Discard() {
  if (resultsFd_ >= 0) {
    if (resultsCreated_) unlink(resultsPath_.c_str());
    close(resultsFd_);
    resultsFd_ = -1;
  }
  pendingResults[0] = '\0';
}

// Cuts the results file back to its size before the run, so that it holds
// only whole result blocks, then fails.
void OutputFiles::FailAndTakeBack(const std::string& path, const char* what, int error) {
  [[maybe_unused]] const int restored = ftruncate(resultsFd_, resultsSize_);
  Fail(path, what, error);
}

void OutputFiles::CheckReport() { report_->Check(); }

void OutputFiles::Commit(const std::string& resultsBlock) {
  report_->Close();

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
  if (fsync(resultsFd_) != 0 && errno != EINVAL) FailAndTakeBack(resultsPath_, "cannot write the results file", errno);
  if (const int error = report_->Replace()) FailAndTakeBack(reportPath_, "cannot replace the cluster report", error);
  close(resultsFd_);
  resultsFd_ = -1;
  committed_ = true;
  pendingResults[0] = '\0';
}
