// The commands behind the dispatcher in main.cpp. Each takes the words from
// its command word on (argv[0] is the command word) and returns the exit
// status; a RunError becomes "veltrane: message" and status 1, a UsageError
// status 2.
#pragma once

// veltrane -s|-q datafile parameterfile [intervalfile]: takes the whole
// command line, program name included.
int ClassicCommand(int argc, char** argv);
// veltrane part: the scan of a row of positions, written as a part file.
int PartCommand(int argc, char** argv);
// veltrane merge: part files put together into the files of one whole run.
int MergeCommand(int argc, char** argv);

// From a phased VCF/BCF: convert writes the files of a classic run, run
// converts, scans and reports in one go, plot draws a results file.
int ConvertCommand(int argc, char** argv);
int RunCommand(int argc, char** argv);
int PlotCommand(int argc, char** argv);
