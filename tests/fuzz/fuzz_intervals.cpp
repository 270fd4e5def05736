// Marker-interval reader on arbitrary bytes. The first byte sets the number of
// markers (1 to 64); the remaining bytes are the interval file, handed over by
// name as the program does. The reader must either fill dim - 1 finite
// intervals or raise a RunError with a one-line message naming the file.
#include <cmath>
#include <string>

#include "dbscan.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  static const std::string path = fuzz::ScratchDir() + "/intervals.txt";
  fuzz::WriteFile(path, fuzz::AsText(bytes + 1, size - 1));
  CDataPoints ds;
  ds.dim = 1 + bytes[0] % 64;
  try {
    ds.ReadIntervalDist(&path);
  } catch (const RunError& e) {
    const std::string message = e.what();
    fuzz::Require(message.rfind(path + ":", 0) == 0, "an interval error names the file");
    fuzz::Require(message.find_first_of("\n\r") == std::string::npos, "an interval error is one line");
    return 0;
  }
  fuzz::Require(ds.markerIntervalDist.size() == static_cast<std::size_t>(ds.dim - 1), "dim - 1 intervals");
  for (double d : ds.markerIntervalDist) fuzz::Require(std::isfinite(d), "finite intervals");
  return 0;
}
