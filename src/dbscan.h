// The haplotype and data-set classes. Every analysis step is an operation of
// CDataPoints that reads and writes its fields; the operations are split over
// one source file per stage: input.cpp, preprocess.cpp, distance.cpp,
// clustering.cpp, scoring.cpp and permutation.cpp.
#pragma once

#include <cstdint>
#include <fstream>
#include <iosfwd>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "text.h"

using CIntArray = std::vector<int>;
using CSetInt = std::set<int>;
using INT2Set = std::map<int, CSetInt>;
using INT2double = std::map<int, double>;

// Fraction of replicate maxima at least as large as the observed score: ties
// count against the observed score, and there is no +1, so 0 is possible.
double EmpiricalPValue(std::vector<double> maxima, double realscore);

// One haplotype (a point of the clustering).
class CMyPoint {
 public:
  int type = 0;       // 0 not visited, -1 noise, else the cluster that labelled it last
  bool core = false;  // core point at the current position
  CIntArray value;    // allele per marker; 0 is a missing allele
  int affected = 0;   // 1 case, 0 control (always 0 in the trait mode)
  double traitvalue = 0.0;
  double ptDensity = 0.0;
  int id = 0;  // identifier as written in the data file

  // One member line of the cluster report: the alleles of markers start .. start+len-1.
  void Write(std::ostream& fout, int start, int len) const;
};

using CMyPointArray = std::vector<CMyPoint>;

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

// The data set and all analysis state of a run.
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
  int numCluster = 0;
  int numNoise = 0;
  int g = 0;
  int q = 0;  // 1 in the quantitative-trait mode
  double epslion = 0.2;
  double epslionpercentile = 0.0;
  double minNumPts = 6.0;
  double minNumPtspercentile = 0.0;
  // Distances of the current position between window classes (haplotypes
  // with identical alleles over the window), numWindowClasses squared entries;
  // read through Distance().
  std::vector<double> distMatrix;
  int curpos = 0;
  int curdim = 21;
  CMyPointArray data;
  INT2Set clusters;
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
  std::vector<double> hap2lociFreC, hap2lociFreA, hap2lociFre;
  std::vector<double> LDMatrix;
  double aveDensity = 0.0;

  // Window classes of the current position.
  std::vector<int> windowClass;  // class of each haplotype
  std::vector<int> classSize;
  std::vector<int> classMember;  // first haplotype of each class
  std::vector<int> classStart;    // members of class c: classMembers[classStart[c] .. classStart[c+1])
  std::vector<int> classMembers;
  int numWindowClasses = 0;

  // Input files (input.cpp). sourceName names the file in error messages.
  void ReadParameter(std::istream& fpara, const std::string& sourceName = "parameter file");
  void Read(std::istream& fin, const std::string* intervalFile, int g,
            const std::string& sourceName = "data file");
  void ReadIntervalDist(const std::string* intervalFile);

  // Missing alleles, frequencies and linkage disequilibrium (preprocess.cpp).
  void ImputeMissing();
  void AlleleFreq(int pos, INT2double* alleleFreCase, INT2double* alleleFreCont);
  void CalculateFreq();
  void AlleleFrequency(int pos, double& freC, double& freA, double& fre);
  void HapFrequency(int pos1, int pos2, double& hfreC, double& hfreA, double& hfre);
  void LDdelta();

  // Weights and window distances, radius and density threshold (distance.cpp).
  double WeightFunction1(int anothermarker, int currentmarker) const;
  double WeightFunction2(int anothermarker, int currentmarker) const;
  double WeightFunction1LD(int anothermarker, int currentmarker) const;
  double WeightFunction2LD(int anothermarker, int currentmarker) const;
  double distance_Ham_MIL_Weighted(const CMyPoint* pt1, const CMyPoint* pt2, int pos) const;
  double distance_Ham_MIL_WeightedLD(const CMyPoint* pt1, const CMyPoint* pt2, int pos) const;
  void CalculateDist(int pos);
  void CalculateDistUsingLD(int pos);
  double Distance(int i, int j) const;
  void SetWindow(int pos);
  void DeterminEpslion();
  int DensityOfNB(int pos);

  // DBSCAN (clustering.cpp).
  void Reset();
  int ClusteringDBSCAN();
  int ExpandCluster(int index, int clusterID);
  int RegionQuery(int index, CIntArray& seeds) const;

  // Cluster scores, reports and single-marker tests (scoring.cpp).
  double Write(std::ostream& fout, int pos);
  void UpdateAverage();
  double T_StatOfACluster(const CSetInt& members, int& numCore, double& mean, double& var,
                          const int* order) const;
  double WriteQTLScore(std::ostream& fout, int pos);
  double ChiSQ(int index) const;
  TraitTests StatScore(int index, const int* order) const;
  double LocalScore(const int* order) const;
  double LocalQScore(int& clusterIndex, const int* order) const;
  const int* ObservedOrder() const { return identityOrder.data(); }

  // Permutation test (permutation.cpp).
  void Permutation(std::vector<int>& order);
  void DrawReplicates();
  void ScoreReplicates(int pos, ReplicateMaxima& maxima) const;

 private:
  // Allele-independent part of the window distance at one centre marker.
  struct WindowWeights {
    int pos = 0, first = 0, last = 0, lo = 0;
    std::vector<double> w1, w2;     // indexed by marker - lo
    double total = 0.0;             // S of the map-weighted distance
    double sum1 = 0.0, sum2 = 0.0;  // totals of the LD-weighted distance
    double W1(int k) const { return w1[k - lo]; }
    double W2(int k) const { return w2[k - lo]; }
  };
  // Shared weight of two haplotypes: R of the map-weighted distance, and the
  // identity and run scores of the LD-weighted one.
  struct Shared {
    double both = 0.0, identity = 0.0, run = 0.0;
  };
  double MapDistance(int a, int c) const;
  template <class W1, class W2>
  WindowWeights WindowWeightsOf(int pos, W1 weight1, W2 weight2) const;
  WindowWeights MapWeights(int pos) const;
  WindowWeights LDWeights(int pos) const;
  static Shared SharedWeight(const int* a, const int* b, const WindowWeights& w);
  static double RunDistance(const int* a, const int* b, const WindowWeights& w);
  double RunDistanceLD(const int* a, const int* b, const WindowWeights& w) const;
  void GroupWindowClasses(const WindowWeights& w);
  template <class PairDistance>
  void FillClassDistances(const WindowWeights& w, PairDistance pairDistance);
  long long PairsBetween(int c1, int c2) const;
  std::vector<int> NeighbourCounts() const;

  struct CaseControlScore {
    int n11 = 0, n12 = 0, numHap = 0, numCore = 0;
    bool emptyMargin = false;  // no cases, no controls, or nobody outside the cluster
    double chi = 0.0, ZScore = 0.0;
  };
  CaseControlScore ScoreCaseControlCluster(const CSetInt& members, const int* order) const;
  double CaseControlPositionScore(const int* order, std::ostream* report) const;
  double TraitPositionScore(const int* order, std::ostream* report, int* bestOrdinal) const;
  // Haplotypes carrying allele 1 at a marker, ascending: the in-group of the
  // single-marker trait tests, the same for every replicate.
  std::vector<int> AlleleOneGroup(int index) const;
  TraitTests GroupTraitTests(const std::vector<int>& group, const int* order) const;
  long long MannWhitneyU(const std::vector<int>& group, const int* order) const;
  void PrepareTraitRanks();

  void BuildAlleleBits();
  // Allele-1 carriers per marker and the cases, as bit sets over haplotypes.
  std::vector<std::uint64_t> alleleOneBits, caseBits;
  int casesCounted = 0;

  std::vector<int> identityOrder;
  // Trait ranks for the Mann-Whitney count: haplotypes with a strictly greater
  // trait, and the dense rank of the trait.
  std::vector<int> traitsAbove, traitRank;
  mutable std::vector<int> rankTally;

  // Permutation replicates: R label orders of num entries.
  std::vector<int> replicateOrder;
};
