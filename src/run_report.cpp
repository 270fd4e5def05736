#include "run_report.h"

#include <cmath>
#include <cstdio>
#include <ostream>

#include "locus_plot.h"

namespace {

// Non-finite values in the spelling R's read.delim and pandas both read.
std::string Portable(const std::string& value) {
  if (value == "inf") return "Inf";
  if (value == "-inf") return "-Inf";
  if (value == "nan" || value == "-nan") return "NaN";
  return value;
}

std::string PValue(double minusLog10P) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", std::pow(10.0, -minusLog10P));
  return text;
}

void WriteBest(const BestMarker& best, const RunFacts& facts, std::ostream& out) {
  out << "  " << best.statistic << ": " << MarkerName(&facts.markers, best.marker) << ", marker " << best.marker
      << "\n    score " << Rounded(best.score) << ", -log10 p = " << Rounded(best.minusLog10P)
      << " (p = " << PValue(best.minusLog10P) << ")";
  if (best.permutationP) out << ", " << PermutationText(*best.permutationP, facts.permutations);
  out << '\n';
}

std::string Filters(const ConvertOptions& options) {
  std::string text;
  if (options.filters.region) text += ", --region " + options.filters.region->chrom + ":" +
                                      std::to_string(options.filters.region->from) + "-" +
                                      std::to_string(options.filters.region->to);
  if (options.filters.snpsOnly) text += ", --snps-only";
  if (options.filters.minMaf > 0) text += ", --min-maf " + Rounded(options.filters.minMaf);
  if (!options.includeIds.empty()) text += ", --include-ids " + options.includeIds;
  return text;
}

}  // namespace

void WriteScanTable(const MarkerTable& markers, const ResultsBlock& results, std::ostream& out) {
  out << "chrom\tpos\tid\tref\talt\tcM";
  for (const std::string& column : results.columns) out << '\t' << column;
  out << '\n';
  for (std::size_t r = 0; r < results.rows.size(); r++) {
    const MarkerRow& m = markers[r];
    out << m.chrom << '\t' << m.pos << '\t' << m.id << '\t' << m.ref << '\t' << m.alt << '\t' << m.cm;
    for (const std::string& value : results.rows[r]) out << '\t' << Portable(value);
    out << '\n';
  }
}

void WriteSummary(const RunFacts& facts, std::ostream& out) {
  const Conversion& c = facts.conversion;
  const std::size_t individuals = c.genotypes.samples.size();
  const MarkerRow &first = facts.markers.front(), &last = facts.markers.back();
  out << "Veltrane " << (c.quantitative ? "quantitative-trait" : "case-control") << " scan of chromosome "
      << first.chrom << "\n\nPredicted locus: " << MarkerName(&facts.markers, BestMarkers(facts.results)[0].marker)
      << "\n\nBest markers\n";
  for (const BestMarker& best : BestMarkers(facts.results)) WriteBest(best, facts, out);

  out << "\nData\n  individuals: " << individuals;
  if (!c.quantitative) out << " (" << c.cases << " cases, " << c.controls << " controls)";
  out << ", " << 2 * individuals << " haplotypes\n  markers: " << facts.markers.size() << ", " << first.chrom << ":"
      << first.pos << "-" << last.pos << ", " << first.cm << "-" << last.cm << " cM\n  genotypes: " << facts.options.vcf
      << Filters(facts.options) << "\n  phenotypes: " << c.phenotypeColumn << "\n  genetic positions: "
      << c.positionsFrom << "\n\nParameters (params.txt)\n";
  std::size_t at = 0;
  for (std::size_t end; (end = facts.parameters.find('\n', at)) != std::string::npos; at = end + 1)
    out << "  " << facts.parameters.substr(at, end - at) << '\n';
  if (at < facts.parameters.size()) out << "  " << facts.parameters.substr(at) << '\n';

  out << "\nLeft out\n";
  const std::vector<std::string> notes = ConversionNotes(c);
  for (const std::string& note : notes) out << "  " << note << '\n';
  if (notes.empty()) out << "  nothing\n";
  out << "\nFiles: scan.tsv (every marker), scan.svg (the plot), output and results (cluster report and results "
         "block, as a classic run writes them), params.txt, markers.tsv\n";
}
