// Parameter-file reader on arbitrary bytes: it must either accept the file
// with every checked field in range, or raise a RunError with a one-line
// message naming the file.
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>

#include "dbscan.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  std::istringstream in{std::string(fuzz::AsText(bytes, size))};
  CDataPoints ds;
  try {
    ds.ReadParameter(in, "params.txt");
  } catch (const RunError& e) {
    const std::string message = e.what();
    fuzz::Require(message.rfind("params.txt:", 0) == 0, "a parameter error names the file");
    fuzz::Require(message.find_first_of("\n\r") == std::string::npos, "a parameter error is one line");
    return 0;
  }
  fuzz::Require(ds.minNumPtspercentile >= 0.0 && ds.minNumPtspercentile < 1.0, "density fraction in [0, 1)");
  fuzz::Require(ds.curdim >= 1, "window width at least 1");
  fuzz::Require(std::isfinite(ds.epslion) && std::isfinite(ds.epslionpercentile), "finite radius");
  fuzz::Require(std::isfinite(ds.zsocreT), "finite report threshold");
  for (double p : ds.weightFuntionParm) fuzz::Require(std::isfinite(p), "finite weighting parameters");
  if (ds.weightFuntionClass == 3) {
    const double p0 = ds.weightFuntionParm[0];
    fuzz::Require(p0 == 1.0 || p0 == 2.0 || p0 == 3.0, "scheme 3 has a first parameter of 1, 2 or 3");
  }
  // Every integer of an accepted file is written as one: walk the token
  // sequence independently of the reader.
  const std::vector<std::string_view> t = SplitFields(fuzz::AsText(bytes, size), " \t\n\r\v\f");
  auto integer = [&t](std::size_t i, const char* what) {
    if (i >= t.size()) return 0L;
    fuzz::Require(fuzz::IsIntegerText(t[i]), what);
    return std::strtol(std::string(t[i]).c_str(), nullptr, 10);
  };
  std::size_t i = 1;
  const long radiusMode = integer(i, "the radius mode of an accepted file is an integer");
  i += radiusMode == 1 || radiusMode == 2 ? 2 : 1;  // at the density label
  i += 3;                                           // at the window width
  integer(i, "the window width of an accepted file is an integer");
  i += 2;  // at the weighting scheme
  const long scheme = integer(i, "the weighting scheme of an accepted file is an integer");
  static const int kParameters[] = {0, 2, 2, 1, 4, 4, 2};
  i += 2 + (scheme >= 0 && scheme <= 6 ? kParameters[scheme] : 0);  // at the permutation count
  integer(i, "the permutation count of an accepted file is an integer");
  return 0;
}
