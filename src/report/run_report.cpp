#include "run_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

#include "locus_plot.h"
#include "text.h"

namespace {

// Non-finite values in the spelling R's read.delim and pandas both read.
std::string Portable(const std::string& value) {
  if (value == "inf") return "Inf";
  if (value == "-inf") return "-Inf";
  if (value == "nan" || value == "-nan") return "NaN";
  return value;
}

// A value of an added column, as a stream prints it, in the portable spelling.
std::string Cell(double value) {
  std::ostringstream text;
  text << value;
  return Portable(text.str());
}

std::string PValue(double minusLog10P) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2g", std::pow(10.0, -minusLog10P));
  return text;
}

void WriteBest(const BestMarker& best, const RunFacts& facts, std::ostream& out) {
  out << "  " << best.statistic << ": " << MarkerName(&facts.markers, best.marker) << ", marker " << Grouped(best.marker)
      << "\n    score " << Rounded(best.score) << ", -log10 p = " << Rounded(best.minusLog10P)
      << " (p = " << PValue(best.minusLog10P) << ")";
  if (best.permutationP) out << ", " << PermutationText(*best.permutationP, facts.permutations);
  out << '\n';
}

// Where markers first .. last lie: "20:2,760,004-2,790,112 (30,108 bp, 0.0412 cM)".
std::string Stretch(const RunFacts& facts, int first, int last) {
  const MarkerRow &a = facts.markers[first], &b = facts.markers[last];
  const std::vector<long long>& cm = facts.conversion.microCm;
  return a.chrom + ":" + Grouped(a.pos) + "-" + Grouped(b.pos) + " (" + Grouped(b.pos - a.pos) + " bp, " +
         CentiMorgans(cm[last] - cm[first]) + " cM)";
}

void WriteSignal(const RunFacts& facts, std::ostream& out) {
  const Signal& signal = facts.mapping.signal;
  const char* adjusted = facts.adjusted ? "covariate-adjusted " : "";
  out << "Signal: " << (signal.Detected() ? "yes" : "none detected") << ", ";
  if (signal.permutation)
    out << adjusted << "cluster score " << PermutationText(signal.p, facts.permutations) << '\n';
  else
    out << "smallest " << adjusted << "single-marker p times " << Grouped(static_cast<long long>(facts.markers.size()))
        << " markers = " << PValue(-std::log10(signal.p)) << " (no permutation test)\n";
}

void WriteWhere(const RunFacts& facts, std::ostream& out) {
  const FineMapping& mapping = facts.mapping;
  if (mapping.set.empty()) {
    out << "Where: no credible set without a signal\n";
    return;
  }
  const auto [first, last] = std::minmax_element(mapping.set.begin(), mapping.set.end());
  out << "Where: " << Rounded(100 * mapping.settings.level) << "% credible set of " << Grouped(static_cast<long long>(mapping.set.size()))
      << (mapping.set.size() == 1 ? " marker, " : " markers, ") << Stretch(facts, *first, *last)
      << "\n  most probable " << MarkerName(&facts.markers, mapping.set.front()) << ", PIP "
      << Rounded(mapping.pip[mapping.set.front()]) << "; among the " << Grouped(mapping.candidates)
      << " markers of minor-allele frequency >= " << Rounded(mapping.settings.minMaf) << " within "
      << Grouped(mapping.settings.window) << " bp of the lead marker, one causal variant, prior SD "
      << Rounded(mapping.settings.priorSd) << (facts.conversion.quantitative ? " trait SDs per allele" : " of the log odds ratio")
      << " (credible-set.tsv)\n";
}

// The risk haplotype: carriers, effect, shared segment and consensus alleles.
void WriteWhat(const RunFacts& facts, std::ostream& out) {
  if (!facts.risk) {
    out << "What: no cluster formed at the predicted position\n";
    return;
  }
  const RiskHaplotype& r = *facts.risk;
  out << "What: risk haplotype, cluster " << r.clusterId << " at " << MarkerName(&facts.markers, r.position) << ": ";
  if (facts.conversion.quantitative)
    out << Grouped(static_cast<long long>(r.members.size())) << " haplotypes of trait mean " << Rounded(r.meanInside)
        << " against " << Rounded(r.meanOutside) << " for the rest, difference " << Rounded(r.effect);
  else
    out << Grouped(r.caseMembers) << " of " << Grouped(r.cases) << " case haplotypes and " << Grouped(r.controlMembers)
        << " of " << Grouped(r.controls) << " control haplotypes, odds ratio " << Rounded(r.effect);
  out << " (95% CI " << Rounded(r.low) << " to " << Rounded(r.high) << ")\n  members share "
      << Stretch(facts, r.sharedFirst, r.sharedLast) << " around the centre (median; risk-haplotype.tsv)\n  alleles:";
  for (int k = 0; k < r.width; k++) {
    const MarkerRow& m = facts.markers[r.first + k];
    out << (k ? ", " : " ") << (m.id == "." ? Grouped(m.pos) : m.id) << ' ' << (r.consensus[k] ? m.alt : m.ref);
  }
  out << '\n';
}

// The predicted locus, and the markers that share its score.
void WritePredicted(const RunFacts& facts, std::ostream& out) {
  const BestMarker best = BestMarkers(facts.results)[0];
  out << "Predicted locus: " << MarkerName(&facts.markers, best.marker) << '\n';
  int first = -1, last = -1, tied = 0;
  for (std::size_t r = 0; r < facts.results.values.size(); r++)
    if (facts.results.Value(r, 2) == best.score) {
      if (first < 0) first = static_cast<int>(r);
      last = static_cast<int>(r);
      tied++;
    }
  if (tied > 1)
    out << "  " << Grouped(tied) << " markers share its cluster score " << Rounded(best.score) << ", "
        << Stretch(facts, first, last) << '\n';
  else
    out << "  the only marker of its cluster score " << Rounded(best.score) << '\n';
}

// The adjusted scan's best positions, and its permutation p-values on one line for scripts.
void WriteAdjusted(const RunFacts& facts, std::ostream& out) {
  const AdjustedScanResult& a = *facts.adjusted;
  const Conversion& c = facts.conversion;
  out << "\nCovariate-adjusted scan: adjusted for " << c.covariateLabel << "; "
      << Grouped(static_cast<long long>(c.genotypes.samples.size())) << " individuals\n  null model: "
      << (c.quantitative ? "linear" : "logistic") << " regression on an intercept and " << c.covariateNames.size()
      << (c.covariateNames.size() == 1 ? " covariate" : " covariates") << " of " << facts.options.covar << '\n';
  if (c.strataCount > 0)
    out << (c.quantitative ? "  replicates: residuals permuted within the strata\n"
                           : "  replicates: case labels drawn from the fitted probabilities, which the strata do not restrict\n");
  struct Statistic {
    const char* name;
    const BestPosition& best;
    const std::vector<double>& z;
    std::optional<double> permutationP;
  };
  for (const Statistic& s : {Statistic{"adjusted cluster Z", a.cluster, a.clusterZ, a.clusterP},
                             Statistic{"adjusted single-marker Z", a.single, a.singleZ, a.singleP}}) {
    if (s.best.pos < 0)
      out << "  " << s.name << ": nothing scored\n";
    else
      WriteBest({s.name, s.best.pos, s.z[s.best.pos], TwoSidedMinusLog10P(s.z[s.best.pos]), s.permutationP}, facts, out);
  }
  WriteAdjustedPValues(a, out);
}

std::string Filters(const ConvertOptions& options) {
  std::string text;
  if (options.filters.region) text += ", --region " + options.filters.region->chrom + ":" +
                                      std::to_string(options.filters.region->from) + "-" +
                                      std::to_string(options.filters.region->to);
  if (options.filters.snpsOnly) text += ", --snps-only";
  if (options.filters.minMaf > 0) text += ", --min-maf " + Rounded(options.filters.minMaf);
  if (options.filters.minMac != 1) text += ", --min-mac " + std::to_string(options.filters.minMac);
  if (!options.includeIds.empty()) text += ", --include-ids " + options.includeIds;
  return text;
}

}  // namespace

void WriteScanTable(const MarkerTable& markers, const ResultsBlock& results, const std::vector<TableColumn>& added,
                    std::ostream& out) {
  out << "chrom\tpos\tid\tref\talt\tcM";
  for (const std::string& column : results.columns) out << '\t' << column;
  for (const TableColumn& column : added) out << '\t' << column.name;
  out << '\n';
  for (std::size_t r = 0; r < results.rows.size(); r++) {
    const MarkerRow& m = markers[r];
    out << m.chrom << '\t' << m.pos << '\t' << m.id << '\t' << m.ref << '\t' << m.alt << '\t' << m.cm;
    for (const std::string& value : results.rows[r]) out << '\t' << Portable(value);
    for (const TableColumn& column : added) out << '\t' << Cell(column.values[r]);
    out << '\n';
  }
}

std::vector<TableColumn> AdjustedScanColumns(const AdjustedScanResult& adjusted) {
  return {{"AdjustedClusterZ", adjusted.clusterZ},
          {"AdjustedClusterMinusLog10P", TwoSidedMinusLog10P(adjusted.clusterZ)},
          {"AdjustedSingleZ", adjusted.singleZ},
          {"AdjustedSingleMinusLog10P", TwoSidedMinusLog10P(adjusted.singleZ)}};
}

void WriteAdjustedScanTable(const AdjustedScanResult& adjusted, std::ostream& out) {
  const std::vector<TableColumn> columns = AdjustedScanColumns(adjusted);
  out << "index";
  for (const TableColumn& column : columns) out << '\t' << column.name;
  out << '\n';
  for (std::size_t r = 0; r < adjusted.clusterZ.size(); r++) {
    out << r;
    for (const TableColumn& column : columns) out << '\t' << Cell(column.values[r]);
    out << '\n';
  }
}

void WriteAdjustedPValues(const AdjustedScanResult& a, std::ostream& out) {
  if (a.clusterP) out << "Adjusted permutation p-value: cluster " << *a.clusterP << ", single-marker " << *a.singleP << '\n';
}

void WriteSummary(const RunFacts& facts, std::ostream& out) {
  const Conversion& c = facts.conversion;
  const std::size_t individuals = c.genotypes.samples.size();
  const MarkerRow &first = facts.markers.front(), &last = facts.markers.back();
  out << "Veltrane " << (c.quantitative ? "quantitative-trait" : "case-control") << " scan of chromosome "
      << first.chrom << "\n\n";
  WriteSignal(facts, out);
  WriteWhere(facts, out);
  WriteWhat(facts, out);
  out << '\n';
  WritePredicted(facts, out);
  out << "\nBest markers\n";
  for (const BestMarker& best : BestMarkers(facts.results)) WriteBest(best, facts, out);
  if (facts.adjusted) WriteAdjusted(facts, out);

  out << "\nData\n  individuals: " << Grouped(static_cast<long long>(individuals));
  if (!c.quantitative) out << " (" << Grouped(c.cases) << " cases, " << Grouped(c.controls) << " controls)";
  out << ", " << Grouped(2 * static_cast<long long>(individuals)) << " haplotypes\n  markers: "
      << Grouped(static_cast<long long>(facts.markers.size())) << ", " << first.chrom << ":" << Grouped(first.pos) << "-"
      << Grouped(last.pos) << ", " << first.cm << "-" << last.cm << " cM\n  genotypes: " << facts.options.vcf
      << Filters(facts.options) << "\n  phenotypes: " << c.phenotypeColumn << "\n  genetic positions: "
      << c.positionsFrom << "\n\nParameters (params.txt)\n";
  std::size_t at = 0;
  for (std::size_t end; (end = facts.parameters.find('\n', at)) != std::string::npos; at = end + 1)
    out << "  " << facts.parameters.substr(at, end - at) << '\n';
  if (at < facts.parameters.size()) out << "  " << facts.parameters.substr(at) << '\n';
  out << "  shuffled: " << (facts.permutesIndividuals ? "individuals, both haplotypes together" : "single haplotypes");
  if (c.strataCount > 0)
    out << ", within " << (c.strataCount == 1 ? "one stratum" : "the " + Grouped(c.strataCount) + " strata") << " of "
        << facts.options.within;
  out << '\n';

  out << "\nLeft out\n";
  const std::vector<std::string> notes = ConversionNotes(c);
  for (const std::string& note : notes) out << "  " << note << '\n';
  if (notes.empty()) out << "  nothing\n";
  out << "\nFiles: scan.tsv (every marker), credible-set.tsv (the 95% set), risk-haplotype.tsv (its members), "
         "scan.svg (the plot), ";
  if (facts.reportFile)
    out << facts.reportFile << " and results (cluster report and results block, as a classic run writes them)";
  else
    out << "results (the results block, as a classic run writes it)";
  out << ", params.txt, markers.tsv\n";
}
