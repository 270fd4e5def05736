// Readers of the parameter file, the data file and the marker-interval file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "test_util.h"

namespace {

// A file with the given content, removed at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    std::string pattern = ::testing::TempDir() + "veltrane-XXXXXX";
    const int fd = mkstemp(pattern.data());
    close(fd);
    path = pattern;
    std::ofstream(path, std::ios::binary) << content;
  }
  ~TempFile() { std::remove(path.c_str()); }
  std::string path;
};

template <class F>
std::string RunErrorOf(F read) {
  try {
    read();
  } catch (const RunError& e) {
    return e.what();
  }
  ADD_FAILURE() << "the input was accepted";
  return "";
}

// One label and its value group per line, in file order.
std::string ParameterText(const std::vector<std::string>& values) {
  const char* labels[] = {"radius", "density", "window", "scheme", "permutations", "threshold"};
  std::string text;
  for (std::size_t i = 0; i < values.size(); i++) text += std::string(labels[i]) + " " + values[i] + "\n";
  return text;
}

void ReadParameterText(CDataPoints& ds, const std::string& text) {
  std::istringstream in(text);
  ds.ReadParameter(in, "params.txt");
}

TEST(ParameterFile, WorkedExample) {
  CDataPoints ds;
  ReadParameterText(ds, ParameterText({"2 0.05", "0.1", "21", "1 -30 1", "1000", "2.0"}));
  EXPECT_EQ(ds.epslionpercentile, 0.05);
  EXPECT_EQ(ds.epslion, 0.2);
  EXPECT_EQ(ds.minNumPtspercentile, 0.1);
  EXPECT_EQ(ds.curdim, 21);
  EXPECT_EQ(ds.weightFuntionClass, 1);
  EXPECT_EQ(ds.weightFuntionParm[0], -30.0);
  EXPECT_EQ(ds.weightFuntionParm[1], 1.0);
  EXPECT_EQ(ds.permutationTimes, 1000);
  EXPECT_EQ(ds.zsocreT, 2.0f);
}

TEST(ParameterFile, FixedRadiusAndSinglePrecisionThreshold) {
  CDataPoints ds;
  ReadParameterText(ds, ParameterText({"1 0.3", "0", "9", "0", "0", "1.7"}));
  EXPECT_EQ(ds.epslion, 0.3);
  EXPECT_EQ(ds.epslionpercentile, 0.0);
  EXPECT_EQ(ds.permutationTimes, 0);
  EXPECT_EQ(static_cast<double>(ds.zsocreT), 1.7000000476837158);
}

TEST(ParameterFile, RadiusModeWithoutValueShiftsTheTokens) {
  CDataPoints ds;  // 0.3 is the label of the density fraction
  ReadParameterText(ds, "radius 0 0.3 0.1 window 9 scheme 0 permutations 5 threshold 1.5");
  EXPECT_EQ(ds.epslion, 0.2);
  EXPECT_EQ(ds.minNumPtspercentile, 0.1);
  EXPECT_EQ(ds.curdim, 9);
  EXPECT_EQ(ds.permutationTimes, 5);
  CDataPoints shifted;  // the label "density" is read as the density fraction
  const std::string message = RunErrorOf([&] {
    ReadParameterText(shifted, ParameterText({"3 0.3", "0.1", "9", "0"}));
  });
  EXPECT_EQ(message.rfind("params.txt:2: ", 0), 0u) << message;
  EXPECT_NE(message.find("density", 14), std::string::npos) << message;
}

TEST(ParameterFile, EachSchemeReadsItsOwnNumberOfParameters) {
  const double values[] = {2.0, -3.5, 4.25, 0.5};
  for (auto [scheme, count] :
       {std::pair{0, 0}, {1, 2}, {2, 2}, {3, 1}, {4, 4}, {5, 4}, {6, 2}, {7, 0}, {-1, 0}}) {
    std::string group = std::to_string(scheme);
    for (int k = 0; k < count; k++) group.append(" ").append(std::to_string(values[k]));
    CDataPoints ds;
    ReadParameterText(ds, ParameterText({"1 0.3", "0.1", "9", group, "17", "1.5"}));
    EXPECT_EQ(ds.weightFuntionClass, scheme);
    for (int k = 0; k < 4; k++) EXPECT_EQ(ds.weightFuntionParm[k], k < count ? values[k] : 0.0) << scheme;
    EXPECT_EQ(ds.permutationTimes, 17) << scheme;
    EXPECT_EQ(ds.zsocreT, 1.5f) << scheme;
  }
}

TEST(ParameterFile, EndingAfterTheSchemeKeepsTheDefaults) {
  CDataPoints ds;
  ReadParameterText(ds, ParameterText({"1 0.3", "0.1", "9", "4 1 2 3 4"}));
  EXPECT_EQ(ds.permutationTimes, 1000);
  EXPECT_EQ(ds.zsocreT, 1.0f);
  CDataPoints withCount;
  ReadParameterText(withCount, ParameterText({"1 0.3", "0.1", "9", "0", "25"}));
  EXPECT_EQ(withCount.permutationTimes, 25);
  EXPECT_EQ(withCount.zsocreT, 1.0f);
}

TEST(ParameterFile, RejectsMalformedOrOutOfRangeValues) {
  struct Case {
    int line;
    std::string value, token;
  };
  const Case cases[] = {
      {1, "xyz", "xyz"},       {1, "1 abc", "abc"}, {2, "0.1x", "0.1x"}, {2, "1.0", "1.0"},
      {2, "-0.25", "-0.25"},   {3, "2.5", "2.5"},   {3, "0", "0"},       {4, "one", "one"},
      {4, "1 -30 nan", "nan"}, {5, "1e3", "1e3"},   {6, "high", "high"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> values = {"1 0.3", "0.1", "9", "1 -30 1", "100", "1.7"};
    values[c.line - 1] = c.value;
    CDataPoints ds;
    const std::string message = RunErrorOf([&] { ReadParameterText(ds, ParameterText(values)); });
    const std::string where = "params.txt:" + std::to_string(c.line) + ": ";
    EXPECT_EQ(message.rfind(where, 0), 0u) << message;
    EXPECT_NE(message.find(c.token, where.size()), std::string::npos) << message;
  }
}

// A first parameter of scheme 3 other than 1, 2 or 3 is the offending token.
TEST(ParameterFile, SchemeThreeRejectionNamesTheParameter) {
  CDataPoints ds;
  const std::string message = RunErrorOf([&] {
    ReadParameterText(ds, ParameterText({"1 0.3", "0.1", "9", "3 1.5", "100", "1.7"}));
  });
  EXPECT_EQ(message.rfind("params.txt:4: ", 0), 0u) << message;
  EXPECT_NE(message.find("1.5"), std::string::npos) << message;
}

TEST(ParameterFile, RejectsAFileThatEndsBeforeTheSchemeIsComplete) {
  for (const std::string& text : {std::string(), ParameterText({"1 0.3", "0.1", "9"}),
                                  ParameterText({"1 0.3", "0.1", "9", "5 1 2 3"})}) {
    CDataPoints ds;
    const std::string message = RunErrorOf([&] { ReadParameterText(ds, text); });
    EXPECT_EQ(message.rfind("params.txt:", 0), 0u) << message;
    EXPECT_NE(message.find("ends before"), std::string::npos) << message;
  }
}

TEST(DataFile, WorkedExample) {
  CDataPoints ds;
  ReadText(ds, "ID Status 1 2 3\n1 a 1 2 1\n1 a 1 1 0\n2 c 2 2 1\n2 c 1 2 2\n");
  EXPECT_EQ(ds.num, 4);
  EXPECT_EQ(ds.numberIndividuals, 4);
  EXPECT_EQ(ds.dim, 3);
  EXPECT_EQ(ds.nCase, 2);
  EXPECT_EQ(ds.nCont, 2);
  EXPECT_EQ(ds.curdim, 3);  // the default window of 21 is clamped to the row
  const std::vector<std::vector<int>> alleles = {{1, 2, 1}, {1, 1, 0}, {2, 2, 1}, {1, 2, 2}};
  for (int h = 0; h < 4; h++) {
    EXPECT_EQ(ds.data[h].id, h < 2 ? 1 : 2);
    EXPECT_EQ(ds.data[h].affected, h < 2 ? 1 : 0);
    EXPECT_EQ(ds.data[h].traitvalue, 0.0);
    EXPECT_EQ(ds.data[h].value, alleles[h]);
  }
  EXPECT_EQ(ds.markerIntervalDist, std::vector<double>(2, 0.0001));
}

TEST(DataFile, OnlyALowerCaseAMarksACase) {
  for (auto [status, affected] :
       {std::pair{"a", 1}, {"affected", 1}, {"A", 0}, {"1", 0}, {"2", 0}, {"c", 0}}) {
    CDataPoints ds;
    ReadText(ds, std::string("h\n1 ") + status + " 1 2\n");
    EXPECT_EQ(ds.data[0].affected, affected) << status;
    EXPECT_EQ(ds.nCase, affected) << status;
    EXPECT_EQ(ds.nCont, 1 - affected) << status;
  }
}

TEST(DataFile, SeparatorsAndLineEnds) {
  CDataPoints ds;
  ReadText(ds, "h\r\n3, a,1 2\t1\r\n4 c 2 2 2");  // CRLF, and a last line without a line break
  ASSERT_EQ(ds.num, 2);
  EXPECT_EQ(ds.data[0].id, 3);
  EXPECT_EQ(ds.data[0].affected, 1);
  EXPECT_EQ(ds.data[0].value, (std::vector<int>{1, 2, 1}));
  EXPECT_EQ(ds.data[1].value, (std::vector<int>{2, 2, 2}));
}

TEST(DataFile, AnEmptyLineEndsTheData) {
  for (const char* empty : {"\n", " ,\t\n", "\r\n"}) {
    CDataPoints ds;
    ReadText(ds, std::string("h\n1 a 1 2\n") + empty + "2 c 1 2\nnot a haplotype\n");
    EXPECT_EQ(ds.num, 1);
  }
}

TEST(DataFile, TraitsAreSinglePrecision) {
  CDataPoints ds;
  ds.q = 1;
  ReadText(ds, "h\n1 0.1 1 2\n2 1.5 2 2\n");
  EXPECT_EQ(ds.data[0].traitvalue, 0.10000000149011612);
  EXPECT_EQ(ds.data[1].traitvalue, 1.5);
  EXPECT_EQ(ds.data[0].affected, 0);
  EXPECT_EQ(ds.nCase + ds.nCont, 0);
}

TEST(DataFile, RejectsMalformedLines) {
  struct Case {
    int q;
    std::string body, where, token;
  };
  const Case cases[] = {
      {0, "1\n", "data.txt:2: ", "phenotype"},
      {0, "1 a 1 2\n2 a\n", "data.txt:3: ", "allele"},
      {0, "xyz a 1 2\n", "data.txt:2: ", "xyz"},
      {0, "1.5 a 1 2\n", "data.txt:2: ", "1.5"},
      {0, "1 a 1 xyz\n", "data.txt:2: ", "xyz"},
      {0, "1 a 1 -2\n", "data.txt:2: ", "-2"},
      {0, "1 a 1 2\n2 c 1\n", "data.txt:3: ", "expected 2 alleles, found 1"},
      {1, "1 abc 1 2\n", "data.txt:2: ", "abc"},
      {1, "1 nan 1 2\n", "data.txt:2: ", "nan"},
      {1, "1 1e40 1 2\n", "data.txt:2: ", "1e40"},
      {0, "", "data.txt: ", "haplotype"},
      {0, "\n1 a 1 2\n", "data.txt: ", "haplotype"},
  };
  for (const Case& c : cases) {
    CDataPoints ds;
    ds.q = c.q;
    const std::string message = RunErrorOf([&] { ReadText(ds, "header\n" + c.body); });
    EXPECT_EQ(message.rfind(c.where, 0), 0u) << message;
    EXPECT_NE(message.find(c.token, c.where.size()), std::string::npos) << message;
  }
}

TEST(DataFile, RejectsAFileThatCannotBeRead) {
  const std::string missing = ::testing::TempDir() + "no-such-veltrane-file";
  const std::string notFound = RunErrorOf([&] { OpenInputFile(missing, "data file"); });
  EXPECT_EQ(notFound.rfind(missing + ": cannot open the data file", 0), 0u) << notFound;
  const std::string folder = RunErrorOf([&] { OpenInputFile(::testing::TempDir(), "data file"); });
  EXPECT_NE(folder.find("is a directory"), std::string::npos) << folder;
}

TEST(IntervalFile, FirstLineScaledByOneHundredth) {
  TempFile intervals("1, 0.1\t2.5\r\n7 7 7\n");
  CDataPoints ds;
  ReadText(ds, "h\n1 a 1 2 1 2\n", &intervals.path);
  ASSERT_EQ(ds.markerIntervalDist.size(), 3u);
  EXPECT_EQ(ds.markerIntervalDist[0], 0.01);
  EXPECT_EQ(ds.markerIntervalDist[1], static_cast<double>(0.1f) * 0.01);
  EXPECT_EQ(ds.markerIntervalDist[2], 0.025);
}

TEST(IntervalFile, WithoutAFileEveryIntervalIsOneTenThousandth) {
  std::string line = "1 a";
  for (int k = 0; k < 50; k++) line += " 1";
  CDataPoints ds;
  ReadText(ds, "h\n" + line + "\n");
  EXPECT_EQ(ds.markerIntervalDist, std::vector<double>(49, 0.0001));
}

TEST(IntervalFile, RejectsAMissingFileAndWrongLines) {
  const std::string missing = ::testing::TempDir() + "no-such-veltrane-intervals";
  CDataPoints ds;
  EXPECT_EQ(RunErrorOf([&] { ReadText(ds, "h\n1 a 1 2 1\n", &missing); }).rfind(missing + ": cannot open", 0),
            0u);
  for (auto [line, token] : {std::pair{"1\n", "found 1"}, {"1 2 3\n", "found 3"}, {"1 xyz\n", "xyz"}}) {
    TempFile intervals(line);
    CDataPoints other;
    const std::string error = RunErrorOf([&] { ReadText(other, "h\n1 a 1 2 1\n", &intervals.path); });
    EXPECT_EQ(error.rfind(intervals.path + ":1: ", 0), 0u) << error;
    EXPECT_NE(error.find(token), std::string::npos) << error;
  }
}

}  // namespace
