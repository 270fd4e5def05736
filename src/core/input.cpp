// Readers of the parameter file, the haplotype data file and the
// marker-interval file. Every irregularity is a RunError naming the file, the
// line and the offending token, raised before any output file is opened.
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <numeric>
#include <string_view>

#include "dbscan.h"

[[noreturn]] void Reject(const std::string& source, int line, const std::string& what) {
  throw RunError(source + ":" + std::to_string(line) + ": " + what);
}

std::string Grouped(long long value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t k = 0; k < digits.size(); k++) {
    if (k > 0 && (digits.size() - k) % 3 == 0 && digits[k - 1] != '-') grouped += ',';
    grouped += digits[k];
  }
  return grouped;
}

std::string Quoted(std::string_view token) {
  constexpr std::size_t kShown = 40;
  std::string shown(token.substr(0, kShown));
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return "'" + shown + (token.size() > kShown ? "...'" : "'");
}

// Whole-token numbers: a token with anything left over is malformed.
bool ParseInt(std::string_view token, int& out) {
  if (!token.empty() && token.front() == '+') {
    token.remove_prefix(1);
    if (!token.empty() && token.front() == '-') return false;
  }
  auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), out);
  return ec == std::errc() && end == token.data() + token.size() && !token.empty();
}

template <class Real>
static bool ParseReal(std::string_view token, Real& out) {
  std::string text(token);
  // strtod would skip leading white space; a number token starts with its first character.
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front())) ||
      text.find('\0') != std::string::npos)
    return false;
  char* end = nullptr;
  errno = 0;
  if constexpr (sizeof(Real) == sizeof(float))
    out = std::strtof(text.c_str(), &end);
  else
    out = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && std::isfinite(out);
}

bool ReadLine(std::istream& in, std::string& line) {
  if (!std::getline(in, line)) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool ParseDouble(std::string_view token, double& out) { return ParseReal(token, out); }
bool ParseFloat(std::string_view token, float& out) { return ParseReal(token, out); }

namespace {

// Whitespace-separated tokens of the parameter file with their line numbers.
class TokenReader {
 public:
  TokenReader(std::istream& in, std::string source) : in_(in), source_(std::move(source)) {}

  bool Next(std::string& token) {
    token.clear();
    int c;
    while ((c = in_.get()) != EOF && IsSpace(c))
      if (c == '\n') ++line_;
    if (c == EOF) return false;
    tokenLine_ = line_;
    token.push_back(static_cast<char>(c));
    while ((c = in_.peek()) != EOF && !IsSpace(c)) token.push_back(static_cast<char>(in_.get()));
    return true;
  }

  [[noreturn]] void Fail(const std::string& what) const { Reject(source_, tokenLine_, what); }
  [[noreturn]] void FailAtEnd(const std::string& what) const { throw RunError(source_ + ": " + what); }

 private:
  static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
  std::istream& in_;
  std::string source_;
  int line_ = 1;
  int tokenLine_ = 1;
};

// Reads label-value groups. Required values that are missing stop the run;
// optional ones that are missing keep the defaults.
class ParameterReader {
 public:
  ParameterReader(std::istream& in, const std::string& source) : tokens_(in, source) {}

  // Returns false at the end of the file, where an optional group may stop.
  template <class Number>
  bool Value(Number& out, const std::string& what, bool required) {
    std::string token;
    if (!tokens_.Next(token)) return Missing(what, required);
    last_ = token;
    if (!ParseNumber(token, out)) tokens_.Fail(what + " " + Quoted(token) + " is not " + Kind<Number>());
    return true;
  }

  bool Label(const char* what, bool required) {
    std::string token;
    return tokens_.Next(token) || Missing(what, required);
  }

  [[noreturn]] void Fail(const std::string& what) const { tokens_.Fail(what); }
  // The last value read, as written in the file.
  std::string LastValue() const { return Quoted(last_); }

 private:
  bool Missing(const std::string& what, bool required) {
    if (required) tokens_.FailAtEnd("the file ends before " + what);
    return false;
  }
  static bool ParseNumber(const std::string& t, int& out) { return ParseInt(t, out); }
  static bool ParseNumber(const std::string& t, double& out) { return ParseDouble(t, out); }
  static bool ParseNumber(const std::string& t, float& out) { return ParseFloat(t, out); }
  template <class Number>
  static const char* Kind() {
    return std::is_same_v<Number, int> ? "an integer" : "a finite number";
  }
  TokenReader tokens_;
  std::string last_;
};

int SchemeParameterCount(int scheme) {
  switch (scheme) {
    case 1: case 2: case 6: return 2;
    case 3: return 1;
    case 4: case 5: return 4;
    default: return 0;
  }
}

}  // namespace

std::vector<std::string_view> SplitFields(std::string_view line, std::string_view separators) {
  // A table of the separators: find_first_of would search the separator set
  // once per character of the line.
  bool isSeparator[256] = {};
  for (char c : separators) isSeparator[static_cast<unsigned char>(c)] = true;
  auto separator = [&](std::size_t i) { return isSeparator[static_cast<unsigned char>(line[i])]; };
  std::vector<std::string_view> fields;
  for (std::size_t at = 0; at < line.size();) {
    if (separator(at)) {
      at++;
      continue;
    }
    std::size_t end = at + 1;
    while (end < line.size() && !separator(end)) end++;
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

std::ifstream OpenInputFile(const std::string& path, const char* what) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error))
    throw RunError(path + ": cannot read the " + what + ": it is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw RunError(path + ": cannot open the " + what + ": " + std::strerror(errno));
  return in;
}

void CDataPoints::ReadParameter(std::istream& fpara, const std::string& sourceName) {
  ParameterReader in(fpara, sourceName);
  int radiusMode = 0;
  in.Label("the radius label", true);
  in.Value(radiusMode, "the radius mode", true);
  if (radiusMode == 1) in.Value(epslion, "the radius", true);
  if (radiusMode == 2) in.Value(epslionpercentile, "the radius percentile", true);

  in.Label("the density label", true);
  in.Value(minNumPtspercentile, "the density fraction", true);
  if (!(minNumPtspercentile >= 0.0 && minNumPtspercentile < 1.0))
    in.Fail("density fraction " + in.LastValue() + " must lie in [0, 1)");

  in.Label("the window label", true);
  in.Value(curdim, "the window width", true);
  if (curdim < 1) in.Fail("window width " + in.LastValue() + " must be at least 1");

  in.Label("the weighting label", true);
  in.Value(weightFuntionClass, "the weighting scheme", true);
  const int parameters = SchemeParameterCount(weightFuntionClass);
  for (int k = 0; k < parameters; k++)
    in.Value(weightFuntionParm[k],
             "parameter " + std::to_string(k + 1) + " of weighting scheme " + std::to_string(weightFuntionClass),
             true);
  const double p0 = weightFuntionParm[0];
  if (weightFuntionClass == 3 && p0 != 1.0 && p0 != 2.0 && p0 != 3.0)
    in.Fail("weighting scheme 3 needs a first parameter of 1, 2 or 3, found " + in.LastValue());

  // The permutation count and report threshold are optional: an early end of
  // the file keeps their defaults.
  if (!in.Label("the permutation label", false) || !in.Value(permutationTimes, "the permutation count", false))
    return;
  if (!in.Label("the threshold label", false)) return;
  in.Value(zsocreT, "the report threshold", false);
}

namespace {

bool IsDataSeparator(char c) { return c == ' ' || c == ',' || c == '\t'; }

// A haplotype line split at the data file's separators in one pass, its
// alleles parsed as they are met: the data file is read at the pace of its
// bytes. A malformed allele is kept to be reported after the field count,
// which is checked first.
struct HaplotypeLine {
  std::string_view id, phenotype, badAllele;
  int fields = 0, badMarker = 0;

  HaplotypeLine(std::string_view line, std::vector<int>& alleles) {
    alleles.clear();
    const char* at = line.data();
    const char* const end = at + line.size();
    for (;;) {
      while (at < end && IsDataSeparator(*at)) at++;
      if (at == end) return;
      const char* const start = at;
      while (at < end && !IsDataSeparator(*at)) at++;
      const std::string_view token(start, at - start);
      if (fields++ == 0)
        id = token;
      else if (fields == 2)
        phenotype = token;
      else
        alleles.push_back(Allele(token));
    }
  }

 private:
  int Allele(std::string_view token) {
    if (token.size() == 1 && token[0] >= '0' && token[0] <= '9') return token[0] - '0';
    int allele = 0;
    if ((!ParseInt(token, allele) || allele < 0) && badAllele.empty()) {
      badAllele = token;
      badMarker = fields - 2;
    }
    return allele;
  }
};

}  // namespace

void CDataPoints::Read(std::istream& fin, const std::string* intervalFile, int pairing,
                       const std::string& sourceName, std::vector<std::string>* phenotypeFields) {
  std::string line;
  int lineNo = 1;
  ReadLine(fin, line);  // header
  num = 0;
  numberIndividuals = 0;
  int expectedAlleles = -1;
  std::vector<int> alleleRow;
  while (ReadLine(fin, line)) {
    ++lineNo;
    const HaplotypeLine fields(line, alleleRow);
    if (fields.fields == 0) break;  // an empty line ends the data
    if (fields.fields < 2) Reject(sourceName, lineNo, "no phenotype after the identifier");
    if (fields.fields < 3) Reject(sourceName, lineNo, "no alleles after the phenotype");

    CMyPoint point;
    if (!ParseInt(fields.id, point.id))
      Reject(sourceName, lineNo, "identifier " + Quoted(fields.id) + " is not an integer");
    if (!SetPhenotype(point, fields.phenotype))
      Reject(sourceName, lineNo, "trait " + Quoted(fields.phenotype) + " is not a finite number");
    const int alleles = static_cast<int>(alleleRow.size());
    if (expectedAlleles < 0) expectedAlleles = alleles;
    if (alleles != expectedAlleles)
      Reject(sourceName, lineNo, "expected " + std::to_string(expectedAlleles) + " alleles, found " +
                                     std::to_string(alleles));
    if (!fields.badAllele.empty())
      Reject(sourceName, lineNo, "allele " + Quoted(fields.badAllele) + " of marker " +
                                     std::to_string(fields.badMarker) + " is not a non-negative integer");
    AddHaplotype(std::move(point), alleleRow);
    if (phenotypeFields) phenotypeFields->emplace_back(fields.phenotype);
  }
  if (fin.bad()) throw RunError(sourceName + ": read error");
  if (num == 0) throw RunError(sourceName + ": no haplotype line after the header");
  EndHaplotypes(expectedAlleles);
  if (pairing == 1) num /= 2;
  ReadIntervalDist(intervalFile);
}

bool CDataPoints::SetPhenotype(CMyPoint& point, std::string_view field) const {
  if (q == 0) {
    point.affected = field.front() == 'a' ? 1 : 0;
    return true;
  }
  float trait = 0.0f;
  if (!ParseFloat(field, trait)) return false;
  point.traitvalue = trait;
  return true;
}

void CDataPoints::AddHaplotype(CMyPoint&& point, std::span<const int> alleles) {
  if (data.empty()) {
    markerAlleles.assign(alleles.size(), {});
    smallAlleleCodes.assign(alleles.size() * kSmallAlleles, -1);
    WidenCodes(codeBits);
  }
  // Codes first: a new allele may widen the rows stored so far.
  std::vector<std::uint32_t>& codes = rowCodes;
  codes.resize(alleles.size());
  for (std::size_t k = 0; k < alleles.size(); k++) codes[k] = CodeOf(static_cast<int>(k), alleles[k]);
  const int h = static_cast<int>(data.size());
  if (q == 0) (point.affected ? nCase : nCont)++;
  data.push_back(std::move(point));
  if (h % 64 == 0) packedAlleles.resize(packedAlleles.size() + 64 * static_cast<std::size_t>(packedWords), 0);
  // The codes of a word are gathered before it is stored: no code straddles two words.
  const std::size_t perWord = 64 / codeBits;
  for (std::size_t first = 0; first < codes.size(); first += perWord) {
    std::uint64_t word = 0;
    for (std::size_t k = first; k < std::min(codes.size(), first + perWord); k++)
      word |= static_cast<std::uint64_t>(codes[k]) << ((k - first) * codeBits);
    packedAlleles[PackedIndex(h, first / perWord, packedWords)] = word;
  }
  num++;
  numberIndividuals++;
}

void CDataPoints::EndHaplotypes(int markers) {
  dim = markers;
  identityOrder.resize(data.size());
  std::iota(identityOrder.begin(), identityOrder.end(), 0);
  // A window wider than the marker row is clamped to the row.
  if (curdim > dim) curdim = dim;
}

void CDataPoints::SetIntervals(const std::vector<float>& centiMorgans) {
  markerIntervalDist.resize(centiMorgans.size());
  for (std::size_t i = 0; i < centiMorgans.size(); i++) markerIntervalDist[i] = centiMorgans[i] * 0.01;
}

void CDataPoints::ReadIntervalDist(const std::string* intervalFile) {
  markerIntervalDist.assign(dim - 1, 0.0);
  if (!intervalFile) {
    markerIntervalDist.assign(dim - 1, 0.0001);
    return;
  }
  std::ifstream in = OpenInputFile(*intervalFile, "marker-interval file");
  std::string line;
  ReadLine(in, line);
  if (in.bad()) throw RunError(*intervalFile + ": read error");
  const std::vector<std::string_view> fields = SplitFields(line);
  if (fields.size() != markerIntervalDist.size())
    Reject(*intervalFile, 1, "expected " + std::to_string(dim - 1) + " marker intervals, found " +
                                 std::to_string(fields.size()));
  std::vector<float> intervals(fields.size());
  for (std::size_t i = 0; i < fields.size(); i++)
    if (!ParseFloat(fields[i], intervals[i]))
      Reject(*intervalFile, 1, "interval " + Quoted(fields[i]) + " is not a finite number");
  SetIntervals(intervals);
}
