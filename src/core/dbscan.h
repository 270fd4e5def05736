// The haplotype and data-set classes. Every analysis step is an operation of
// CDataPoints, split over one source file per stage: input.cpp,
// preprocess.cpp, distance.cpp, clustering.cpp, scoring.cpp and
// permutation.cpp. Reading and preparing fill the data set; from then on it
// is read-only, and each position is clustered in a PositionState of its own,
// so that positions can be scanned in parallel.
#pragma once

#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text.h"

using CIntArray = std::vector<int>;
using INT2double = std::map<int, double>;

// Fraction of replicate maxima at least as large as the observed score: ties
// count against the observed score, and there is no +1, so 0 is possible.
double EmpiricalPValue(std::vector<double> maxima, double realscore);

// One haplotype (a point of the clustering); its alleles are kept packed by
// the data set.
class CMyPoint {
 public:
  int affected = 0;  // 1 case, 0 control (always 0 in the trait mode)
  double traitvalue = 0.0;
  double ptDensity = 0.0;
  int id = 0;  // identifier as written in the data file
};

using CMyPointArray = std::vector<CMyPoint>;

// A set of haplotypes as bits: bit h of word h / 64 for haplotype h.
using HaplotypeBits = std::vector<std::uint64_t>;

// Calls f(h) for every haplotype h of the set, in ascending order.
template <class F>
void ForEachHaplotype(const HaplotypeBits& bits, F f) {
  for (std::size_t w = 0; w < bits.size(); w++)
    for (std::uint64_t word = bits[w]; word; word &= word - 1)
      f(static_cast<int>(w * 64 + static_cast<unsigned>(__builtin_ctzll(word))));
}

// One cluster of a position. A haplotype can belong to more than one.
struct Cluster {
  int id = 0;
  HaplotypeBits members;
  int size = 0;
};

// Per permutation replicate, the largest value of each statistic over the
// positions scanned so far: the cluster score, and in the trait mode the
// single-marker T and Mann-Whitney Z. Every maximum starts at 0, as the best
// observed score does, so a scan that finds nothing gets a p-value of 1.
struct ReplicateMaxima {
  std::vector<double> cluster, singleT, singleZ;
  ReplicateMaxima() = default;
  ReplicateMaxima(int replicates, bool quantitative);
  // Takes the larger of each pair; a value that is not a number never wins.
  void Merge(const ReplicateMaxima& other);
};

// Results of the single-marker trait tests at one marker.
struct TraitTests {
  double T = 0.0;
  double WelthT = 0.0;
  int dofWelthT = 0;
  long long U = 0;
  double Z = 0.0;
};

// Allele-independent part of the window distance at one centre marker: the
// distance reads markers lo .. lo + w1.size() - 1, the centre pos, its right
// side pos+1 .. last and its left side pos-1 down to first.
struct WindowWeights {
  int pos = 0, first = 0, last = 0, lo = 0;
  std::vector<double> w1, w2;     // indexed by marker - lo
  double total = 0.0;             // S of the map-weighted distance
  double sum1 = 0.0, sum2 = 0.0;  // totals of the LD-weighted distance
  double W1(int k) const { return w1[k - lo]; }
  double W2(int k) const { return w2[k - lo]; }
  int Span() const { return static_cast<int>(w1.size()); }
};

// The clustering of one position. Haplotypes with identical alleles over the
// window form a window class: they have the same distance to everyone, so
// distances, neighbour counts and the cluster expansion work on classes.
struct PositionState {
  int pos = 0;
  int curpos = 0;  // first marker of the window
  double epslion = 0.2;
  double minNumPts = 6.0;
  int numCluster = 0;
  int numNoise = 0;

  int numWindowClasses = 0;
  std::vector<int> windowClass;  // class of each haplotype
  std::vector<int> classSize;
  std::vector<int> classMember;   // first haplotype of each class
  std::vector<int> classStart;    // members of class c: classMembers[classStart[c] .. classStart[c+1])
  std::vector<int> classMembers;  // ascending within each class
  // The weights of the window, and the allele codes of each class over it:
  // classCodes[c * span + (k - weights.lo)] for marker k.
  WindowWeights weights;
  std::vector<int> classCodes;

  // Classes closer than the radius to class c: neighbourClasses[neighbourStart[c] .. neighbourStart[c+1]),
  // the neighbours each member of class c has, and whether they make it a core point.
  std::vector<int> neighbourStart, neighbourClasses, neighbourCount;
  std::vector<char> classCore;

  std::vector<int> type;   // per haplotype: 0 not visited, -1 noise, else the cluster that labelled it last
  std::vector<char> core;  // per haplotype: core point of a cluster
  HaplotypeBits coreBits;  // the same as a set, once the clustering is done
  std::vector<Cluster> clusters;  // ascending id

  // Scratch space that lives as long as the state.
  std::vector<std::uint64_t> classKeys;  // the packed window of each class
  std::vector<int> classSlots;
  std::vector<char> swept;
  std::vector<int> expandedIn, classQueue;
  std::vector<int> rankTally;
  // The alleles of a member line over the window, formatted once per class
  // while the report of the position is written (and forgotten when the
  // classes are formed anew): class c's text is memberText[first .. first +
  // length) of memberTextSpan[c] (length 0: not yet).
  mutable std::string memberText;
  mutable std::vector<std::pair<std::size_t, std::size_t>> memberTextSpan;
};

// What a permutation replicate shuffles: single haplotypes, as the classic
// run does, or individuals, the haplotypes that share an identifier moving
// together, so that the two haplotypes of a person keep one phenotype.
enum class PermutationUnit { kHaplotypes, kIndividuals };

// How much of the cluster report a run writes: every cluster above the
// threshold with its member lines, the clusters without their members, or nothing.
enum class ReportDetail { kFull, kClusters, kNone };

// The data set and the analysis steps of a run.
//
// Phenotype labels are read through a label order: haplotype h carries the
// observed phenotype of haplotype order[h]. The observed data use the identity
// order; a permutation replicate uses its own shuffle.
class CDataPoints {
 public:
  CDataPoints() = default;
  CDataPoints(const CDataPoints&) = delete;
  CDataPoints& operator=(const CDataPoints&) = delete;

  int dim = 0;  // markers
  int num = 0;  // haplotypes
  int g = 0;
  int q = 0;  // 1 in the quantitative-trait mode
  double epslion = 0.2;  // the fixed radius, and the radius until a position sets its own
  double epslionpercentile = 0.0;
  double minNumPtspercentile = 0.0;
  int curdim = 21;
  CMyPointArray data;
  int nCase = 0;
  int nCont = 0;
  std::vector<double> markerIntervalDist;
  int weightFuntionClass = -1;
  double weightFuntionParm[4] = {0.0, 0.0, 0.0, 0.0};
  std::vector<float> trulocation;
  int numberIndividuals = 500;
  int length1Chrom = 109;
  int length2Chrom = 109;
  int permutationTimes = 1000;
  float zsocreT = 1.0f;
  double Avetraitvalue = 0.0;
  double SumSqare = 0.0;
  std::vector<double> alleleFreC, alleleFreA, alleleFre;
  // |D'| of the marker pairs a window can hold: entry a * curdim + (b - a)
  // for a < b < a + curdim. Built only for the LD-weighted scheme 3.
  std::vector<double> LDMatrix;
  double aveDensity = 0.0;
  ReportDetail reportDetail = ReportDetail::kFull;
  PermutationUnit permutationUnit = PermutationUnit::kHaplotypes;
  // Per haplotype, the stratum whose haplotypes alone its label may go to in
  // a replicate; empty: one stratum of everyone.
  std::vector<int> stratumOf;
  // Haplotype h's member-line start: memberPrefixes[prefixStart[h] .. prefixStart[h + 1]).
  std::string memberPrefixes;
  std::vector<std::size_t> prefixStart;

  // Input files (input.cpp). sourceName names the file in error messages.
  void ReadParameter(std::istream& fpara, const std::string& sourceName = "parameter file");
  // phenotypeFields, when given, receives each haplotype's phenotype field as written.
  void Read(std::istream& fin, const std::string* intervalFile, int g,
            const std::string& sourceName = "data file", std::vector<std::string>* phenotypeFields = nullptr);
  void ReadIntervalDist(const std::string* intervalFile);
  // The steps of Read, for data sets built in memory: a haplotype's phenotype
  // from its data-file field (false for a trait that is not a finite number),
  // each haplotype in turn, then the marker count; the marker intervals in cM.
  bool SetPhenotype(CMyPoint& point, std::string_view field) const;
  // alleles: one per marker, as in the data file (0 missing); the first
  // haplotype sets the marker count.
  void AddHaplotype(CMyPoint&& point, std::span<const int> alleles);
  void EndHaplotypes(int markers);
  void SetIntervals(const std::vector<float>& centiMorgans);

  // Missing alleles, frequencies and linkage disequilibrium (preprocess.cpp).
  void ImputeMissing();
  void AlleleFreq(int pos, INT2double* alleleFreCase, INT2double* alleleFreCont);
  void CalculateFreq();
  void AlleleFrequency(int pos, double& freC, double& freA, double& fre) const;
  void HapFrequency(int pos1, int pos2, double& hfreC, double& hfreA, double& hfre) const;
  void LDdelta();
  void UpdateAverage();
  // The start of every haplotype's member line (identifier, status, trait),
  // which no position changes, formatted once for the full cluster report.
  void FormatMemberPrefixes();

  // The allele of haplotype h at marker k as the data file gives it, and as a
  // code: the alleles of a marker are numbered in order of appearance.
  int Allele(int h, int k) const { return markerAlleles[k][AlleleCode(h, k)]; }
  std::uint32_t AlleleCode(int h, int k) const {
    const std::uint64_t bit = static_cast<std::uint64_t>(k) * codeBits;
    const std::uint64_t word = packedAlleles[PackedIndex(h, bit / 64, packedWords)];
    return static_cast<std::uint32_t>((word >> (bit % 64)) & CodeMask());
  }
  void SetAllele(int h, int k, int allele);
  // Bytes taken by the packed alleles.
  std::size_t AlleleBytes() const { return packedAlleles.size() * sizeof(std::uint64_t); }

  // Weights and window distances, radius and density threshold (distance.cpp).
  double WeightFunction1(int anothermarker, int currentmarker) const;
  double WeightFunction2(int anothermarker, int currentmarker) const;
  double WeightFunction1LD(int anothermarker, int currentmarker) const;
  double WeightFunction2LD(int anothermarker, int currentmarker) const;
  // The window distance of haplotypes h1 and h2, computed afresh.
  double distance_Ham_MIL_Weighted(int h1, int h2, int pos, int curpos) const;
  double distance_Ham_MIL_WeightedLD(int h1, int h2, int pos, int curpos) const;
  void SetWindow(PositionState& s, int pos) const;
  // The window classes and weights from which the distances of the position
  // are computed when needed (map-weighted and LD-weighted).
  void CalculateDist(PositionState& s) const;
  void CalculateDistUsingLD(PositionState& s) const;
  double Distance(const PositionState& s, int i, int j) const;
  double ClassDistance(const PositionState& s, int c1, int c2) const;
  void DeterminEpslion(PositionState& s) const;
  int DensityOfNB(PositionState& s) const;

  // DBSCAN (clustering.cpp).
  void Reset(PositionState& s) const;
  int ClusteringDBSCAN(PositionState& s) const;
  int ExpandCluster(PositionState& s, int index, int clusterID) const;

  // Cluster scores, reports and single-marker tests (scoring.cpp). Mode s
  // reads the labels as the set of haplotypes carrying a case label.
  double Write(const PositionState& s, std::ostream& fout) const;
  double WriteQTLScore(const PositionState& s, std::ostream& fout) const;
  double T_StatOfACluster(const PositionState& s, const Cluster& cluster, int& numCore, double& mean,
                          double& var, const int* order) const;
  double ChiSQ(int index) const;
  TraitTests StatScore(PositionState& s, int index, const int* order) const;
  double LocalScore(const PositionState& s, const HaplotypeBits& cases) const;
  double LocalQScore(const PositionState& s, int& clusterIndex, const int* order) const;
  // The cluster that gives the position its score (the largest |chi-square|,
  // or the largest T), as an index into s.clusters; -1 when none does.
  int BestCluster(const PositionState& s) const;
  const int* ObservedOrder() const { return identityOrder.data(); }
  const HaplotypeBits& ObservedCases() const { return caseBits; }

  // Permutation test (permutation.cpp).
  void Permutation(std::vector<int>& order);
  void DrawReplicates();
  void ScoreReplicates(PositionState& s, ReplicateMaxima& maxima) const;

 private:
  // Shared weight of two haplotypes: R of the map-weighted distance, and the
  // identity and run scores of the LD-weighted one.
  struct Shared {
    double both = 0.0, identity = 0.0, run = 0.0;
  };
  double MapDistance(int a, int c) const;
  template <class W1, class W2>
  WindowWeights WindowWeightsOf(int pos, int curpos, W1 weight1, W2 weight2) const;
  WindowWeights MapWeights(int pos, int curpos) const;
  WindowWeights LDWeights(int pos, int curpos) const;
  // a, b: the allele codes of two haplotypes at markers w.lo onwards.
  static Shared SharedWeight(const int* a, const int* b, const WindowWeights& w);
  static double RunDistance(const int* a, const int* b, const WindowWeights& w);
  double RunDistanceLD(const int* a, const int* b, const WindowWeights& w) const;
  void GroupWindowClasses(PositionState& s, const WindowWeights& w) const;
  void PrepareClasses(PositionState& s, WindowWeights&& w) const;
  static long long PairsBetween(const PositionState& s, int c1, int c2);
  void FindNeighbourClasses(PositionState& s) const;
  // Per marker of the window (indexed marker - lo), the weight a match adds
  // to the shared score, and that it adds while in the unbroken run from
  // the centre; and the total the shared score is taken from.
  struct ShareWeights {
    std::vector<double> identity, run;
    double total = 0.0;
  };
  ShareWeights ShareWeightsOf(const WindowWeights& w) const;

  struct CaseControlScore {
    int n11 = 0, n12 = 0, numHap = 0, numCore = 0;
    bool emptyMargin = false;  // no cases, no controls, or nobody outside the cluster
    double chi = 0.0, ZScore = 0.0;
  };
  CaseControlScore ScoreCaseControlCluster(const PositionState& s, const Cluster& cluster,
                                           const HaplotypeBits& cases) const;
  // bestIndex, when given, receives the index of the cluster of the largest |chi-square|.
  double CaseControlPositionScore(const PositionState& s, const HaplotypeBits& cases, std::ostream* report,
                                  int* bestIndex) const;
  double TraitPositionScore(const PositionState& s, const int* order, std::ostream* report, int* bestOrdinal) const;
  void WriteMembers(const PositionState& s, const Cluster& cluster, std::ostream& report) const;
  // Puts one member line of the cluster report at `at` (alleles: those of
  // the window, each followed by a tab, then the line end) and returns its end.
  char* PutMember(char* at, int h, std::string_view alleles, bool core) const;
  // Haplotype h's alleles over the window of the position, as PutMember takes them.
  std::string_view MemberAlleles(const PositionState& s, int h) const;
  // Haplotypes carrying allele 1 at a marker and the others, ascending: the
  // groups of the single-marker trait tests, the same for every replicate.
  struct AlleleGroups {
    std::vector<int> in, out;
  };
  AlleleGroups AlleleOneGroups(int index) const;
  TraitTests GroupTraitTests(PositionState& s, const AlleleGroups& groups, const int* order) const;
  long long MannWhitneyU(PositionState& s, const AlleleGroups& groups, const int* order) const;
  long long PairsLeavingGroup(PositionState& s, const std::vector<int>& group, const std::vector<int>& countOf,
                              const int* order) const;
  void PrepareTraitRanks();

  // The alleles of markers first .. first+count-1 of haplotype h as packed
  // codes, in words words.
  void WindowKey(int h, int first, int count, std::uint64_t* words) const;

  // The codes of markers w.lo .. of haplotype h, one int each.
  std::vector<int> WindowCodes(int h, const WindowWeights& w) const;

  void BuildAlleleBits();
  // The code of allele 1 at marker k, or -1 when no haplotype carries it.
  int AlleleOneCode(int k) const;
  // Alleles as codes of codeBits bits per marker (1, 2, 4, 8, 16 or 32, so
  // that no code straddles two words), packed haplotype by haplotype in rows
  // of packedWords words, one of them spare so that a window can be read two
  // words at a time. markerAlleles[k][code] is the allele a code stands for.
  // The rows are stored in tiles of 64 haplotypes, word j of the tile's rows
  // side by side: a position reads one word of every haplotype, and so walks
  // the tiles in order instead of touching a cache line per haplotype.
  std::vector<std::uint64_t> packedAlleles;
  int codeBits = 1, packedWords = 0;
  static std::size_t PackedIndex(std::size_t h, std::size_t word, std::size_t words) {
    return ((h / 64) * words + word) * 64 + h % 64;
  }
  std::vector<std::vector<int>> markerAlleles;
  // The codes of alleles 0 .. kSmallAlleles-1 at marker k:
  // smallAlleleCodes[k * kSmallAlleles + allele], -1 until the allele is met.
  // Reading looks the common alleles up here, without a search or a branch
  // on the allele.
  static constexpr int kSmallAlleles = 16;
  std::vector<std::int32_t> smallAlleleCodes;
  std::uint64_t CodeMask() const { return (std::uint64_t{1} << codeBits) - 1; }
  // Inline: called once per allele while a data set is read.
  std::uint32_t CodeOf(int k, int allele) {
    if (allele >= 0 && allele < kSmallAlleles) {
      const std::int32_t code = smallAlleleCodes[static_cast<std::size_t>(k) * kSmallAlleles + allele];
      if (code >= 0) return static_cast<std::uint32_t>(code);
    } else {
      const std::vector<int>& alleles = markerAlleles[k];
      for (std::size_t c = 0; c < alleles.size(); c++)
        if (alleles[c] == allele) return static_cast<std::uint32_t>(c);
    }
    return NewCode(k, allele);
  }
  std::uint32_t NewCode(int k, int allele);
  void PutCode(int h, int k, std::uint32_t code) {
    const std::uint64_t bit = static_cast<std::uint64_t>(k) * codeBits;
    std::uint64_t& word = packedAlleles[PackedIndex(h, bit / 64, packedWords)];
    word = (word & ~(CodeMask() << (bit % 64))) | static_cast<std::uint64_t>(code) << (bit % 64);
  }
  void WidenCodes(int bits);
  std::vector<std::uint32_t> rowCodes;  // scratch of AddHaplotype
  // Allele-1 carriers per marker and the cases, as bit sets over haplotypes.
  std::vector<std::uint64_t> alleleOneBits;
  HaplotypeBits caseBits;
  int casesCounted = 0;

  std::vector<int> identityOrder;
  std::vector<double> traits;  // trait of each haplotype, for the replicate sums
  // Trait ranks for the Mann-Whitney count: haplotypes with a strictly greater
  // or smaller trait, and the dense rank of the trait.
  std::vector<int> traitsAbove, traitsBelow, traitRank;

  // Permutation replicates: R label orders of num entries, and in mode s the
  // cases of each as a bit set.
  std::vector<int> replicateOrder;
  std::vector<HaplotypeBits> replicateCases;

  // The units a replicate moves (individuals, or single haplotypes) of one
  // stratum with the same number of haplotypes, and the arrangement the last
  // shuffle left them in: unit i carries the labels of unit arrangement[i].
  struct ShuffleGroup {
    std::vector<std::vector<int>> haplotypes;
    std::vector<int> arrangement;
  };
  std::vector<ShuffleGroup> ShuffleGroups() const;
  void ShuffleUnits(std::vector<ShuffleGroup>& groups, std::vector<int>& order);
};
