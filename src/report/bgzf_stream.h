// A stream that writes BGZF (blocked gzip, as bgzip writes it) into another
// stream: gzip -dc, zcat and htslib read it, and tabix-style tools can seek in it.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

class BgzfStreamBuf : public std::streambuf {
 public:
  explicit BgzfStreamBuf(std::ostream& out);
  // Writes the last block and the empty end-of-file block; false if a write failed.
  bool Finish();

 protected:
  int_type overflow(int_type c) override;
  int sync() override;

 private:
  void WriteBlock();
  std::ostream& out_;
  std::string buffer_, block_;
};

class BgzfOstream : public std::ostream {
 public:
  explicit BgzfOstream(std::ostream& out) : std::ostream(nullptr), buf_(out) { rdbuf(&buf_); }
  // Ends the compressed data; sets badbit if a write failed.
  void Finish() {
    if (!buf_.Finish()) setstate(std::ios::badbit);
  }

 private:
  BgzfStreamBuf buf_;
};
