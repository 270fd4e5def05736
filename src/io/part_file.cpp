// A part file is text, one keyed line after another in a fixed order, then the
// report blocks and results lines as counted bytes, then a checksum of all
// that comes before it:
//
//   veltrane part file 2        3 for a scan adjusted for covariates
//   mode s                      s or q
//   permute individuals         or haplotypes: what the replicates shuffled
//   data-checksum HEX           16 hex digits, FileChecksum of the data file
//   parameter-checksum HEX
//   interval-checksum HEX       or "none"
//   covariate-checksum HEX      version 3 only: FileChecksum of the covariate table
//   covariate-names NAME...     version 3 only: the columns, separated by tabs
//   markers M
//   haplotypes N
//   replicates R
//   positions FROM TO           the positions FROM .. TO-1
//   no-radius COUNT             positions where the radius was 0
//   no-cluster COUNT            positions where nothing clustered
//   best-cluster POS SCORE      POS -1: no candidate in this part
//   best-single POS SCORE
//   best-mann-whitney POS SCORE
//   maxima-cluster V...         R values (per replicate, the largest over the part)
//   maxima-t V...               R values in mode q, none in mode s
//   maxima-z V...
//   report BYTES                then BYTES bytes of cluster report
//   results BYTES               then BYTES bytes: TO-FROM results lines
//   adjusted-cluster-z V...     version 3 only: TO-FROM values, per position its largest cluster Z
//   adjusted-single-z V...      TO-FROM values
//   adjusted-maxima-cluster V...  R values (per replicate, the largest over the part)
//   adjusted-maxima-single V...   R values
//   end HEX                     FNV-1a checksum of every byte before this line
//
// Version 1 files have no permute line; their replicates shuffled haplotypes.
// A scan without covariates is written in version 2, as before there were any.
//
// Scores are hexadecimal floating point ("%a"), so they come back bit for
// bit, -0 and NaN included.
#include "part_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <ostream>

#include "text.h"

namespace {

constexpr const char* kMagic = "veltrane part file 2";
constexpr const char* kFirstVersion = "veltrane part file 1";
constexpr const char* kAdjustedVersion = "veltrane part file 3";

class Fnv1a {
 public:
  void Add(std::string_view bytes) {
    for (unsigned char c : bytes) hash_ = (hash_ ^ c) * 0x100000001b3ULL;
  }
  std::uint64_t Value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

std::string Hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

std::string HexFloat(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

void WriteBest(std::string& out, const char* key, const BestPosition& best) {
  out += std::string(key) + " " + std::to_string(best.pos) + " " + HexFloat(best.score) + "\n";
}

void WriteValues(std::string& out, const char* key, const std::vector<double>& values) {
  out += key;
  for (double v : values) {
    out += ' ';
    out += HexFloat(v);
  }
  out += "\n";
}

void WriteBlock(std::string& out, const char* key, const std::string& bytes) {
  out += std::string(key) + " " + std::to_string(bytes.size()) + "\n" + bytes;
}

// Reads the keyed lines of a part file in order, keeping the line number for
// messages and the checksum of everything read.
class PartReader {
 public:
  PartReader(std::istream& in, const std::string& source) : in_(in), source_(source) {}

  [[noreturn]] void Fail(const std::string& what) const { Reject(source_, line_, what); }

  // The first line, which says what the file is: its version.
  int Version() {
    ++line_;
    if (!std::getline(in_, text_) || in_.eof()) Fail("not a veltrane part file");
    checksum_.Add(text_);
    checksum_.Add("\n");
    for (const char* magic : {kFirstVersion, kMagic, kAdjustedVersion})
      if (text_ == magic) return text_.back() - '0';
    Fail("not a veltrane part file");
  }

  // What follows key and a space on the next line, verbatim.
  std::string Rest(const std::string& key) {
    Next("'" + key + "'");
    if (text_.compare(0, key.size() + 1, key + " ") != 0)
      Fail("expected '" + key + "', found " + Quoted(text_.substr(0, text_.find(' '))));
    return text_.substr(key.size() + 1);
  }

  // The fields of the next line, which must start with key and hold count
  // values after it (any number when count < 0).
  std::vector<std::string_view> Line(const std::string& key, int count = 1) {
    Next("'" + key + "'");
    std::vector<std::string_view> fields = SplitFields(text_, " ");
    if (fields.empty() || fields[0] != key)
      Fail("expected '" + key + "', found " + Quoted(fields.empty() ? text_ : fields[0]));
    fields.erase(fields.begin());
    if (count >= 0 && static_cast<int>(fields.size()) != count)
      Fail("'" + key + "' takes " + std::to_string(count) + " value" + (count == 1 ? "" : "s") + ", found " +
           std::to_string(fields.size()));
    return fields;
  }

  int Integer(std::string_view token, int least, int most) const {
    int value = 0;
    if (!ParseInt(token, value) || value < least || value > most)
      Fail(Quoted(token) + " is not a whole number from " + std::to_string(least) + " to " + std::to_string(most));
    return value;
  }

  int IntegerLine(const std::string& key, int least, int most) { return Integer(Line(key)[0], least, most); }

  double Real(std::string_view token) const {
    const std::string text(token);
    char* end = nullptr;
    // strtod would skip leading white space; a number token starts with its first character.
    const bool starts = !text.empty() && !std::isspace(static_cast<unsigned char>(text.front()));
    const double value = starts ? std::strtod(text.c_str(), &end) : 0.0;
    if (!starts || end != text.c_str() + text.size()) Fail(Quoted(token) + " is not a number");
    return value;
  }

  std::uint64_t Checksum(std::string_view token) const {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value, 16);
    if (token.size() != 16 || error != std::errc() || end != token.data() + token.size())
      Fail(Quoted(token) + " is not a checksum of 16 hexadecimal digits");
    return value;
  }

  std::uint64_t ChecksumLine(const std::string& key) { return Checksum(Line(key)[0]); }

  BestPosition Best(const std::string& key, int from, int to) {
    const std::vector<std::string_view> fields = Line(key, 2);
    BestPosition best;
    best.pos = Integer(fields[0], -1, to - 1);
    if (best.pos >= 0 && best.pos < from) Fail("the best position lies outside the part's positions");
    best.score = Real(fields[1]);
    return best;
  }

  std::vector<double> Values(const std::string& key, int count) {
    std::vector<double> values;
    for (std::string_view token : Line(key, count)) values.push_back(Real(token));
    return values;
  }

  // A block of counted bytes, which ends at the end of a line.
  std::string Block(const std::string& key) {
    const std::string_view size = Line(key)[0];
    std::uint64_t bytes = 0;
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), bytes);
    if (error != std::errc() || end != size.data() + size.size()) Fail(Quoted(size) + " is not a byte count");
    std::string block;
    char buffer[65536];
    while (block.size() < bytes) {
      in_.read(buffer, static_cast<std::streamsize>(std::min<std::uint64_t>(sizeof buffer, bytes - block.size())));
      if (in_.gcount() == 0) Fail("the file ends inside the " + key + " block: a truncated part file");
      block.append(buffer, static_cast<std::size_t>(in_.gcount()));
    }
    if (!block.empty() && block.back() != '\n') Fail("the " + key + " block does not end at the end of a line");
    checksum_.Add(block);
    line_ += static_cast<int>(std::count(block.begin(), block.end(), '\n'));
    return block;
  }

  // Reads the next whole line into text_; what says what was expected there.
  void Next(const std::string& what) {
    checksumBefore_ = checksum_.Value();
    ++line_;
    if (!std::getline(in_, text_) || in_.eof()) Fail("the file ends before " + what + ": a truncated part file");
    checksum_.Add(text_);
    checksum_.Add("\n");
  }

  // The closing line: the checksum of everything before it, then nothing.
  void End() {
    if (Checksum(Line("end")[0]) != checksumBefore_)
      Fail("the checksum does not match the contents: a damaged part file");
    if (in_.peek() != std::char_traits<char>::eof()) Reject(source_, line_ + 1, "unexpected text after the end");
  }

 private:
  std::istream& in_;
  const std::string& source_;
  std::string text_;
  int line_ = 0;
  Fnv1a checksum_;
  std::uint64_t checksumBefore_ = 0;
};

int LineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// The names of the covariate-names line: non-empty, separated by tabs.
std::vector<std::string> CovariateNames(PartReader& reader) {
  const std::string text = reader.Rest("covariate-names");
  std::vector<std::string> names;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find('\t', at)) != std::string::npos; at = end + 1)
    names.push_back(text.substr(at, end - at));
  names.push_back(text.substr(at));
  if (std::find(names.begin(), names.end(), "") != names.end()) reader.Fail("an empty covariate name");
  return names;
}

PartInputs ReadInputs(PartReader& reader, int version) {
  PartInputs inputs;
  const std::string_view mode = reader.Line("mode")[0];
  if (mode != "s" && mode != "q") reader.Fail("the mode " + Quoted(mode) + " is neither 's' nor 'q'");
  inputs.quantitative = mode == "q";
  if (version >= 2) {
    const std::string_view unit = reader.Line("permute")[0];
    if (unit != "individuals" && unit != "haplotypes")
      reader.Fail("the shuffle " + Quoted(unit) + " is neither 'individuals' nor 'haplotypes'");
    inputs.individuals = unit == "individuals";
  }
  inputs.data = reader.ChecksumLine("data-checksum");
  inputs.parameters = reader.ChecksumLine("parameter-checksum");
  const std::string_view intervals = reader.Line("interval-checksum")[0];
  if (intervals != "none") inputs.intervals = reader.Checksum(intervals);
  if (version == 3) {
    inputs.covariates = reader.ChecksumLine("covariate-checksum");
    inputs.covariateNames = CovariateNames(reader);
  }
  constexpr int kMost = 2147483647;
  inputs.markers = reader.IntegerLine("markers", 1, kMost);
  inputs.haplotypes = reader.IntegerLine("haplotypes", 1, kMost);
  inputs.replicates = reader.IntegerLine("replicates", 0, kMost);
  return inputs;
}

}  // namespace

std::uint64_t FileChecksum(const std::string& path, const char* what) {
  std::ifstream in = OpenInputFile(path, what);
  Fnv1a checksum;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
    checksum.Add(std::string_view(buffer, static_cast<std::size_t>(in.gcount())));
  if (in.bad()) throw RunError(path + ": read error");
  return checksum.Value();
}

void WritePart(std::ostream& out, const Part& part) {
  const PartInputs& in = part.inputs;
  const ScanTally& tally = part.tally;
  std::string text = std::string(part.adjusted ? kAdjustedVersion : kMagic) + "\n";
  text += std::string("mode ") + (in.quantitative ? "q" : "s") + "\n";
  text += std::string("permute ") + (in.individuals ? "individuals" : "haplotypes") + "\n";
  text += "data-checksum " + Hex(in.data) + "\n";
  text += "parameter-checksum " + Hex(in.parameters) + "\n";
  text += "interval-checksum " + (in.intervals ? Hex(*in.intervals) : "none") + "\n";
  if (part.adjusted) {
    text += "covariate-checksum " + Hex(in.covariates.value_or(0)) + "\n";
    text += "covariate-names";
    for (std::size_t k = 0; k < in.covariateNames.size(); k++) (text += k ? '\t' : ' ') += in.covariateNames[k];
    text += "\n";
  }
  text += "markers " + std::to_string(in.markers) + "\n";
  text += "haplotypes " + std::to_string(in.haplotypes) + "\n";
  text += "replicates " + std::to_string(in.replicates) + "\n";
  text += "positions " + std::to_string(part.from) + " " + std::to_string(part.to) + "\n";
  text += "no-radius " + std::to_string(tally.zeroRadius) + "\n";
  text += "no-cluster " + std::to_string(tally.noCluster) + "\n";
  WriteBest(text, "best-cluster", tally.cluster);
  WriteBest(text, "best-single", tally.single);
  WriteBest(text, "best-mann-whitney", tally.singleU);
  WriteValues(text, "maxima-cluster", tally.maxima.cluster);
  WriteValues(text, "maxima-t", tally.maxima.singleT);
  WriteValues(text, "maxima-z", tally.maxima.singleZ);
  WriteBlock(text, "report", part.report);
  WriteBlock(text, "results", part.results);
  if (part.adjusted) {
    WriteValues(text, "adjusted-cluster-z", part.adjusted->clusterZ);
    WriteValues(text, "adjusted-single-z", part.adjusted->singleZ);
    WriteValues(text, "adjusted-maxima-cluster", part.adjusted->clusterMaxima);
    WriteValues(text, "adjusted-maxima-single", part.adjusted->singleMaxima);
  }
  Fnv1a checksum;
  checksum.Add(text);
  out << text << "end " << Hex(checksum.Value()) << "\n";
}

Part ReadPartFile(std::istream& in, const std::string& sourceName) {
  PartReader reader(in, sourceName);
  const int version = reader.Version();
  Part part;
  part.inputs = ReadInputs(reader, version);
  const PartInputs& inputs = part.inputs;
  const std::vector<std::string_view> range = reader.Line("positions", 2);
  part.from = reader.Integer(range[0], 0, inputs.markers);
  part.to = reader.Integer(range[1], part.from, inputs.markers);
  ScanTally& tally = part.tally;
  tally.positions = part.to - part.from;
  tally.zeroRadius = reader.IntegerLine("no-radius", 0, tally.positions);
  tally.noCluster = reader.IntegerLine("no-cluster", 0, tally.positions);
  tally.cluster = reader.Best("best-cluster", part.from, part.to);
  tally.single = reader.Best("best-single", part.from, part.to);
  tally.singleU = reader.Best("best-mann-whitney", part.from, part.to);
  const int traitReplicates = inputs.quantitative ? inputs.replicates : 0;
  tally.maxima.cluster = reader.Values("maxima-cluster", inputs.replicates);
  tally.maxima.singleT = reader.Values("maxima-t", traitReplicates);
  tally.maxima.singleZ = reader.Values("maxima-z", traitReplicates);
  part.report = reader.Block("report");
  part.results = reader.Block("results");
  if (LineCount(part.results) != tally.positions)
    reader.Fail("the results block has " + std::to_string(LineCount(part.results)) + " lines for " +
                std::to_string(tally.positions) + " positions");
  if (version == 3)
    part.adjusted = AdjustedTally{reader.Values("adjusted-cluster-z", tally.positions),
                                  reader.Values("adjusted-single-z", tally.positions),
                                  reader.Values("adjusted-maxima-cluster", inputs.replicates),
                                  reader.Values("adjusted-maxima-single", inputs.replicates)};
  reader.End();
  return part;
}
