#include "bgzf_stream.h"

#include <zlib.h>

#include <cstdint>

#include "text.h"

namespace {

// At most this much input per block, so that even incompressible data fits
// the 64 KiB a block may hold.
constexpr std::size_t kBlockInput = 0xff00;
constexpr std::size_t kHeader = 18, kFooter = 8;

void PutLittleEndian(std::string& out, std::size_t at, std::uint32_t value, int bytes) {
  for (int b = 0; b < bytes; b++) out[at + b] = static_cast<char>((value >> (8 * b)) & 0xff);
}

}  // namespace

BgzfStreamBuf::BgzfStreamBuf(std::ostream& out) : out_(out), buffer_(kBlockInput, '\0') {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

void BgzfStreamBuf::WriteBlock() {
  const std::size_t input = pptr() - pbase();
  // The gzip header with the BC extra field that holds the block size.
  static const char kHeaderBytes[kHeader] = {31, -117, 8, 4, 0, 0, 0, 0, 0, -1, 6, 0, 'B', 'C', 2, 0, 0, 0};
  block_.assign(kHeaderBytes, kHeader);
  block_.resize(kHeader + compressBound(input) + kFooter);
  z_stream z{};
  // Raw deflate (negative window bits): the gzip framing is written here.
  if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw RunError("cannot start compression");
  z.next_in = reinterpret_cast<Bytef*>(pbase());
  z.avail_in = static_cast<uInt>(input);
  z.next_out = reinterpret_cast<Bytef*>(block_.data() + kHeader);
  z.avail_out = static_cast<uInt>(block_.size() - kHeader - kFooter);
  const int status = deflate(&z, Z_FINISH);
  const std::size_t compressed = z.total_out;
  deflateEnd(&z);
  if (status != Z_STREAM_END) throw RunError("cannot compress the report");
  block_.resize(kHeader + compressed + kFooter);
  PutLittleEndian(block_, 16, static_cast<std::uint32_t>(block_.size() - 1), 2);
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(pbase()), static_cast<uInt>(input));
  PutLittleEndian(block_, kHeader + compressed, static_cast<std::uint32_t>(crc), 4);
  PutLittleEndian(block_, kHeader + compressed + 4, static_cast<std::uint32_t>(input), 4);
  out_.write(block_.data(), static_cast<std::streamsize>(block_.size()));
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

BgzfStreamBuf::int_type BgzfStreamBuf::overflow(int_type c) {
  WriteBlock();
  if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
  return out_ ? traits_type::not_eof(c) : traits_type::eof();
}

int BgzfStreamBuf::sync() { return out_ ? 0 : -1; }

bool BgzfStreamBuf::Finish() {
  if (pptr() > pbase()) WriteBlock();
  // An empty block marks the end, so that a truncated file can be told from a whole one.
  WriteBlock();
  return static_cast<bool>(out_);
}
