// The dispatcher: a command word picks a command from the table; anything
// else is the classic command, whose first argument's second character picks
// the mode (so no command word has 's' or 'q' as its second character).
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "commands.h"
#include "options.h"
#include "text.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* summary;
};

// One row per command; each lives in its own cmd_*.cpp file.
const std::vector<Command> kCommands = {
    {"convert", ConvertCommand, "a phased VCF/BCF, phenotypes and a genetic map to the files of a classic run"},
    {"run", RunCommand, "convert, scan, and write a table, a summary and a locus plot, in one go"},
    {"plot", PlotCommand, "the locus plot of a results file"},
    {"part", PartCommand, "scan a row of positions into a part file, for a cluster or workflow"},
    {"merge", MergeCommand, "put part files together into the files of one whole run"},
};

int PrintOverview() {
  std::printf("%s: fine-mapping of a disease or trait locus from phased haplotypes\n\nCommands:\n", VersionLine());
  std::printf("  %-8s %s\n", "-s|-q", "datafile parameterfile [intervalfile]: the classic scan");
  for (const Command& command : kCommands) std::printf("  %-8s %s\n", command.name, command.summary);
  std::printf("\nEvery command takes --help.\n");
  return 0;
}

template <class Run>
int ReportErrors(Run run) {
  try {
    return run();
  } catch (const UsageError& e) {
    std::fprintf(stderr, "veltrane: %s\n", e.what());
    return 2;
  } catch (const RunError& e) {
    std::fprintf(stderr, "veltrane: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "veltrane: out of memory\n");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) a write fails with its own error and
  // the command stops as on any failed write, taking its temporaries back,
  // instead of being killed with them left behind.
  std::signal(SIGXFSZ, SIG_IGN);
  if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) return PrintOverview();
  if (argc == 2 && !std::strcmp(argv[1], "--version")) return std::printf("%s\n", VersionLine()) < 0;
  for (const Command& command : kCommands)
    if (argc >= 2 && !std::strcmp(argv[1], command.name))
      return ReportErrors([&] { return command.run(argc - 1, argv + 1); });
  return ReportErrors([&] { return ClassicCommand(argc, argv); });
}
