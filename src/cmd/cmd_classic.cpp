// The classic command: veltrane -s|-q datafile parameterfile [intervalfile].
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "scan.h"

namespace {

int PrintUsage(const char* caseControlLine) {
  std::fputs("USAGE: Veltrane.exe -option datafile parameterfile [interDistFile]\n\n", stdout);
  std::fputs("options:\n", stdout);
  std::fputs(caseControlLine, stdout);
  std::fputs("q:\tQTL mapping\n", stdout);
  return 2;
}

}  // namespace

int ClassicCommand(int argc, char** argv) {
  if (argc <= 3) return PrintUsage("s:\tsingle gene model\n");
  if (std::strlen(argv[1]) < 2 || (argv[1][1] != 'q' && argv[1][1] != 's')) return PrintUsage("s:\tsingle gene\n");
  ScanRequest request;
  request.quantitative = argv[1][1] == 'q';
  request.dataFile = argv[2];
  request.parameterFile = argv[3];
  // The interval file counts only when it is the last argument.
  if (argc == 5) request.intervalFile = argv[4];
  RunScan(request);
  return 0;
}
