#include "vcf_reader.h"

#include <htslib/bgzf.h>
#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <istream>
#include <memory>
#include <unordered_set>

#include "genetic_map.h"
#include "progress.h"
#include "text.h"
#include "text_rows.h"

namespace {

struct HtsDeleter {
  void operator()(htsFile* p) const { hts_close(p); }
  void operator()(bcf_hdr_t* p) const { bcf_hdr_destroy(p); }
  void operator()(bcf1_t* p) const { bcf_destroy(p); }
  void operator()(hts_idx_t* p) const { hts_idx_destroy(p); }
  void operator()(tbx_t* p) const { tbx_destroy(p); }
  void operator()(hts_itr_t* p) const { hts_itr_destroy(p); }
};
template <class T>
using HtsPtr = std::unique_ptr<T, HtsDeleter>;

bool ParsePosition(std::string text, long long& out) {
  text.erase(std::remove(text.begin(), text.end(), ','), text.end());
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty() && out >= 1;
}

// Whether a file starts as gzip does, and as BGZF (gzip with a 'BC' extra
// field, as bgzipped VCF and BCF files are).
enum class Compression { kNone, kGzip, kBgzf };
Compression CompressionOf(std::istream& in) {
  unsigned char head[14] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  if (head[0] != 0x1f || head[1] != 0x8b) return Compression::kNone;
  return (head[3] & 4) && head[12] == 'B' && head[13] == 'C' ? Compression::kBgzf : Compression::kGzip;
}

// The header lines of a VCF, or the header text of a BCF, as far as they can
// be read; for a message about a header htslib refused.
std::string HeaderText(const std::string& path) {
  HtsPtr<htsFile> file(hts_open(path.c_str(), "r"));
  if (!file) return "";
  std::string text;
  if (hts_get_format(file.get())->format == bcf) {
    unsigned char start[9];  // "BCF", the version, the text's length
    if (bgzf_read(file->fp.bgzf, start, sizeof start) != sizeof start) return "";
    const std::uint32_t length = start[5] | start[6] << 8 | start[7] << 16 | static_cast<std::uint32_t>(start[8]) << 24;
    text.resize(std::min<std::uint32_t>(length, 1u << 28));
    text.resize(static_cast<std::size_t>(std::max<ssize_t>(bgzf_read(file->fp.bgzf, text.data(), text.size()), 0)));
    return text;
  }
  kstring_t line = KS_INITIALIZE;
  while (hts_getline(file.get(), '\n', &line) >= 0 && line.l > 0 && line.s[0] == '#') (text += line.s) += '\n';
  ks_free(&line);
  return text;
}

// Why htslib could not read a header: a sample named twice, or damage.
std::string HeaderProblem(const std::string& path) {
  const std::string text = HeaderText(path);
  const std::size_t at = text.rfind("#CHROM");
  if (at != std::string::npos) {
    const std::vector<std::string_view> columns = SplitFields(std::string_view(text).substr(at, text.find('\n', at) - at), "\t");
    std::unordered_set<std::string_view> seen;
    for (std::size_t c = 9; c < columns.size(); c++)
      if (!seen.insert(columns[c]).second) return "sample " + Quoted(columns[c]) + " is named twice in the header";
  }
  return "cannot read the VCF header: the file is damaged, truncated or malformed";
}

// The name a list of contigs gives a chromosome written with or without "chr".
std::string ContigName(const char** names, int count, const std::string& chrom) {
  std::string found = chrom;
  for (int k = 0; k < count; k++) {
    if (chrom == names[k]) return chrom;
    if (SameChromosome(chrom, names[k])) found = names[k];
  }
  return found;
}

// The records of a file in order, or of a region through the file's index.
class RecordStream {
 public:
  RecordStream(const std::string& path, const std::optional<Region>& region) : path_(path) {
    hts_set_log_level(HTS_LOG_OFF);  // failures are reported here, in one line
    std::ifstream plain = OpenInputFile(path, "genotype file");  // says why a file cannot be read
    file_.reset(hts_open(path.c_str(), "r"));
    if (!file_ || hts_get_format(file_.get())->category != variant_data) {
      // Debian compresses the BCF files of its packages' documentation once more.
      const Compression compression = CompressionOf(plain);
      if (compression == Compression::kBgzf)
        throw RunError(path + ": BGZF-compressed, but its contents cannot be read: the file is damaged or truncated");
      throw RunError(path + (compression == Compression::kGzip
                                 ? ": gzip-compressed, but no VCF or BCF inside (a BCF compressed once more? "
                                   "gunzip it first)"
                                 : ": not a VCF or BCF file"));
    }
    header_.reset(bcf_hdr_read(file_.get()));
    if (!header_) throw RunError(path + ": " + HeaderProblem(path));
    if (region) OpenIndex(*region);
    struct stat info;
    size_ = stat(path.c_str(), &info) == 0 ? info.st_size : 0;
  }
  ~RecordStream() { ks_free(&line_); }
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;

  const bcf_hdr_t* Header() const { return header_.get(); }
  long long Size() const { return size_; }

  // Reads the next record; false at the end.
  bool Next(bcf1_t* record) {
    int status;
    if (!iterator_) {
      status = bcf_read(file_.get(), header_.get(), record);
    } else if (bcfIndex_) {
      status = bcf_itr_next(file_.get(), iterator_.get(), record);
    } else {
      status = tbx_itr_next(file_.get(), tabix_.get(), iterator_.get(), &line_);
      if (status >= 0 && vcf_parse1(&line_, header_.get(), record) < 0) status = -2;
    }
    if (status < -1) throw RunError(path_ + ": cannot read the record after " + last_ + ": malformed or truncated file");
    if (status >= 0) last_ = Site(bcf_seqname_safe(header_.get(), record), record->pos + 1);
    return status >= 0;
  }

  // How far into the file reading has come, in bytes.
  long long Offset() const {
    return file_->is_bgzf ? bgzf_tell(file_->fp.bgzf) >> 16 : htell(file_->fp.hfile);
  }

 private:
  // Seeks to the region when the file has an index; otherwise the caller
  // reads through the file and keeps the records inside the region.
  void OpenIndex(const Region& region) {
    const hts_pos_t from = region.from - 1, to = region.to;
    int count = 0;
    if (hts_get_format(file_.get())->format == bcf) {
      bcfIndex_.reset(bcf_index_load3(path_.c_str(), nullptr, HTS_IDX_SILENT_FAIL));
      const char** names = bcf_hdr_seqnames(header_.get(), &count);
      const std::string chrom = ContigName(names, count, region.chrom);
      free(names);
      if (bcfIndex_) iterator_.reset(bcf_itr_queryi(bcfIndex_.get(), Tid(bcf_hdr_name2id(header_.get(), chrom.c_str())), from, to));
    } else if (file_->is_bgzf) {
      tabix_.reset(tbx_index_load3(path_.c_str(), nullptr, HTS_IDX_SILENT_FAIL));
      if (tabix_) {
        const char** names = tbx_seqnames(tabix_.get(), &count);
        const std::string chrom = ContigName(names, count, region.chrom);
        free(names);
        iterator_.reset(tbx_itr_queryi(tabix_.get(), Tid(tbx_name2id(tabix_.get(), chrom.c_str())), from, to));
      }
    }
    if ((bcfIndex_ || tabix_) && !iterator_) throw RunError(path_ + ": cannot query the index for the region");
  }

  // A chromosome the index does not know has no records.
  static int Tid(int tid) { return tid < 0 ? HTS_IDX_NONE : tid; }

  std::string path_;
  HtsPtr<htsFile> file_;
  HtsPtr<bcf_hdr_t> header_;
  HtsPtr<hts_idx_t> bcfIndex_;
  HtsPtr<tbx_t> tabix_;
  HtsPtr<hts_itr_t> iterator_;
  kstring_t line_ = KS_INITIALIZE;
  std::string last_ = "the header";
  long long size_ = 0;
};

// A structural variant (<DEL>, <*>) or an allele missing by a deletion.
bool IsSymbolic(const char* allele) { return allele[0] == '<' || (allele[0] == '*' && !allele[1]); }

// Whether a marker repeats one kept before it: the same position and alleles.
bool Repeats(const std::vector<Marker>& markers, const Marker& next) {
  for (auto m = markers.rbegin(); m != markers.rend() && m->pos == next.pos; ++m)
    if (m->ref == next.ref && m->alt == next.alt) return true;
  return false;
}

// CHROM:FROM-TO as the user wrote it, or CHROM for a whole chromosome.
std::string RegionText(const Region& region) {
  if (region.from == 1 && region.to == std::numeric_limits<int>::max()) return region.chrom;
  return region.chrom + ":" + std::to_string(region.from) + "-" + std::to_string(region.to);
}

// The contigs a header names, for a message: at most ten.
std::string ContigList(const bcf_hdr_t* header) {
  int count = 0;
  const char** names = bcf_hdr_seqnames(header, &count);
  std::string list;
  for (int k = 0; k < std::min(count, 10); k++) list += (k ? ", " : "") + Quoted(names[k]);
  free(names);
  if (count > 10) list += " and " + std::to_string(count - 10) + " more";
  return count ? "its contigs are " + list : "it names no contig";
}

bool IsBase(const char* allele) {
  return allele[0] && !allele[1] && std::string_view("ACGTacgt").find(allele[0]) != std::string_view::npos;
}

// The shortest decimal that reads back as the single-precision INFO value, so
// that 7.10763 stays 7.10763 and not 7.1076297760009766.
double AsWritten(float value) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  double out = value;
  std::from_chars(text, result.ptr, out);
  return out;
}

std::string GenotypeText(const std::int32_t* gt) {
  auto allele = [](std::int32_t a) { return bcf_gt_is_missing(a) ? std::string(".") : std::to_string(bcf_gt_allele(a)); };
  return allele(gt[0]) + (bcf_gt_is_phased(gt[1]) ? "|" : "/") + allele(gt[1]);
}

class VcfConverter {
 public:
  VcfConverter(const std::string& path, const VcfFilters& filters) : path_(path), filters_(filters) {}

  // Reads the haplotypes of one record into the last marker, or raises a
  // RunError naming the record and the sample.
  void ReadHaplotypes(const bcf_hdr_t* header, bcf1_t* record, const std::vector<int>& kept, Genotypes& out) {
    const int values = bcf_get_genotypes(header, record, &gt_, &gtSize_);
    const int ploidy = values > 0 ? values / bcf_hdr_nsamples(header) : 0;
    if (ploidy <= 0) Fail(out.markers.back(), "the record has no GT genotypes");
    BitRow& alt = out.alt.emplace_back();
    alt.reserve(2 * kept.size());
    for (int sample : kept) {
      const std::int32_t* gt = gt_ + sample * ploidy;
      // Named only when a genotype is refused: quoting it for every genotype took a quarter of a run.
      auto who = [&] { return " of sample " + Quoted(header->samples[sample]); };
      if (ploidy != 2 || gt[1] == bcf_int32_vector_end) Fail(out.markers.back(), "the genotype" + who() + " is not diploid");
      if (bcf_gt_is_missing(gt[0]) || bcf_gt_is_missing(gt[1]))
        Fail(out.markers.back(), "missing genotype " + GenotypeText(gt) + who());
      if (!bcf_gt_is_phased(gt[1])) Fail(out.markers.back(), "unphased genotype " + GenotypeText(gt) + who());
      for (int h = 0; h < 2; h++) {
        if (bcf_gt_allele(gt[h]) >= record->n_allele)
          Fail(out.markers.back(), "genotype " + GenotypeText(gt) + who() + " names allele " +
                                       std::to_string(bcf_gt_allele(gt[h])) + ", but the record has one ALT allele");
        alt.push_back(bcf_gt_allele(gt[h]) != 0);
        out.markers.back().altCount += alt.back();
      }
    }
  }

  // Whether a record passes the filters on its alleles and ID, counting the others.
  bool Wanted(const bcf1_t* record, SkippedRecords& skipped) const {
    if (record->n_allele < 2) return ++skipped.noAlt, false;
    if (record->n_allele > 2) return ++skipped.multiAllelic, false;
    if (IsSymbolic(record->d.allele[1])) return ++skipped.symbolic, false;
    if (filters_.snpsOnly && !(IsBase(record->d.allele[0]) && IsBase(record->d.allele[1])))
      return ++skipped.notSnp, false;
    if (filters_.ids && !filters_.ids->count(record->d.id)) return ++skipped.notListed, false;
    return true;
  }

  bool InRegion(const std::string& chrom, long long pos) const {
    const std::optional<Region>& r = filters_.region;
    return !r || (SameChromosome(chrom, r->chrom) && pos >= r->from && pos <= r->to);
  }

  // Markers stay on one chromosome, in position order.
  void CheckOrder(const std::vector<Marker>& markers, const Marker& next) const {
    if (markers.empty()) return;
    const Marker& last = markers.back();
    if (next.chrom != last.chrom)
      Fail(next, "a second chromosome after " + Site(last) + "; convert one chromosome at a time (--region)");
    if (next.pos < last.pos) Fail(next, "comes after " + Site(last) + "; records must be in position order");
  }

  // Whether a marker's minor allele is frequent enough, counting the others.
  bool Common(const Marker& marker, int haplotypes, SkippedRecords& skipped) const {
    const int minor = std::min(marker.altCount, haplotypes - marker.altCount);
    if (minor < filters_.minMac) return ++(minor == 0 ? skipped.monomorphic : skipped.fewMinor), false;
    const double af = haplotypes ? static_cast<double>(marker.altCount) / haplotypes : 0.0;
    if (std::min(af, 1.0 - af) < filters_.minMaf) return ++skipped.rare, false;
    return true;
  }

  ~VcfConverter() { free(gt_); }

 private:
  [[noreturn]] void Fail(const Marker& m, const std::string& what) const {
    throw RunError(path_ + ": " + Site(m) + ": " + what);
  }

  const std::string& path_;
  const VcfFilters& filters_;
  std::int32_t* gt_ = nullptr;
  int gtSize_ = 0;
};

Marker MarkerOf(const bcf_hdr_t* header, bcf1_t* record) {
  Marker marker;
  marker.chrom = bcf_seqname_safe(header, record);
  marker.pos = record->pos + 1;
  marker.id = record->d.id;
  marker.ref = record->d.allele[0];
  marker.alt = record->d.allele[1];
  float* cm = nullptr;
  int size = 0;
  if (bcf_get_info_float(header, record, "CM", &cm, &size) > 0 && !bcf_float_is_missing(cm[0]))
    marker.infoCm = AsWritten(cm[0]);
  free(cm);
  return marker;
}

}  // namespace

std::string Site(const std::string& chrom, long long pos) {
  const std::string quoted = Quoted(chrom);
  return quoted.substr(1, quoted.size() - 2) + ":" + std::to_string(pos);
}

std::optional<Region> ParseRegion(const std::string& text) {
  Region region;
  const std::size_t colon = text.rfind(':');
  region.chrom = text.substr(0, colon);
  if (region.chrom.empty()) return std::nullopt;
  if (colon == std::string::npos) return region;
  const std::string range = text.substr(colon + 1);
  const std::size_t dash = range.find('-');
  if (dash == std::string::npos || !ParsePosition(range.substr(0, dash), region.from) ||
      !ParsePosition(range.substr(dash + 1), region.to) || region.to < region.from)
    return std::nullopt;
  return region;
}

Genotypes ReadVcf(const std::string& path, const VcfFilters& filters,
                  const std::function<bool(const std::string&)>& keepSample, bool showProgress) {
  RecordStream stream(path, filters.region);
  const bcf_hdr_t* header = stream.Header();
  Genotypes out;
  out.samplesInFile = bcf_hdr_nsamples(header);
  if (out.samplesInFile == 0) throw RunError(path + ": no samples: the header has no genotype columns");
  std::vector<int> kept;
  for (int s = 0; s < out.samplesInFile; s++)
    if (keepSample(header->samples[s])) {
      kept.push_back(s);
      out.samples.emplace_back(header->samples[s]);
    }
  VcfConverter converter(path, filters);
  Progress progress("kB of " + std::filesystem::path(path).filename().string() + " read", stream.Size() / 1024,
                    showProgress);
  HtsPtr<bcf1_t> record(bcf_init());
  long inRegion = 0;
  std::unordered_set<std::string> listedFound;
  while (stream.Next(record.get())) {
    progress.Update(stream.Offset() / 1024);
    bcf_unpack(record.get(), BCF_UN_STR);
    if (!converter.InRegion(bcf_seqname_safe(header, record.get()), record->pos + 1)) continue;
    inRegion++;
    if (filters.ids && filters.ids->count(record->d.id)) listedFound.insert(record->d.id);
    if (!converter.Wanted(record.get(), out.skipped)) continue;
    Marker marker = MarkerOf(header, record.get());
    converter.CheckOrder(out.markers, marker);
    if (Repeats(out.markers, marker)) {
      out.skipped.repeated++;
      continue;
    }
    out.markers.push_back(std::move(marker));
    converter.ReadHaplotypes(header, record.get(), kept, out);
    if (!converter.Common(out.markers.back(), 2 * static_cast<int>(kept.size()), out.skipped)) {
      out.markers.pop_back();
      out.alt.pop_back();
    }
  }
  if (filters.region && inRegion == 0)
    throw RunError(path + ": no record in --region " + RegionText(*filters.region) + "; " + ContigList(header));
  if (filters.ids) out.idsNotFound = static_cast<long>(filters.ids->size() - listedFound.size());
  return out;
}

std::unordered_set<std::string> ReadMarkerIds(std::istream& in, const std::string& sourceName) {
  std::unordered_set<std::string> ids;
  ForEachRow(in, sourceName, " \t", [&](const Fields& fields, int lineNo) {
    if (fields.size() > 1) Reject(sourceName, lineNo, "expected one marker ID, found " + std::to_string(fields.size()) + " fields");
    ids.emplace(fields.front());
  });
  if (ids.empty()) throw RunError(sourceName + ": no marker ID in the list");
  return ids;
}
