// Options of the commands: "--name VALUE", "--name=VALUE" and flags. Every
// command also takes --help and --version; each lists the others it reads,
// --quiet with what it silences, and --threads N if it scans.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A command line that does not parse: exit status 2, with a pointer to --help.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  const char* name;   // without the leading dashes
  const char* value;  // placeholder of its value, as "FILE"; nullptr for a flag
  const char* help;
};

class CommandLine {
 public:
  // synopsis: the usage line after "veltrane COMMAND"; about: what the command does.
  CommandLine(std::string command, std::string synopsis, std::string about, std::vector<OptionSpec> options);

  // Lets Parse take words that are not options (file names, say) in any place.
  void AcceptOperands() { acceptOperands_ = true; }

  // Parses the words after the command word. Returns false when --help or
  // --version has been answered on standard output and there is nothing to do.
  bool Parse(int argc, char** argv);

  bool Has(std::string_view name) const;
  std::string Value(std::string_view name, const std::string& fallback = "") const;
  std::string Required(std::string_view name) const;
  double Number(std::string_view name, double fallback) const;
  int Integer(std::string_view name, int fallback) const;
  bool Quiet() const { return Has("quiet"); }  // false for a command without --quiet
  // --mode s (the default) or q: whether the phenotype is a quantitative trait.
  bool Quantitative() const;
  // --permute individuals (the default) or haplotypes: whether a permutation
  // replicate moves the haplotypes of a person together.
  bool PermutesIndividuals() const;
  // The thread count asked for; 0 for the default (and for a command without --threads).
  int Threads() const;
  // The words that are not options, in their order.
  const std::vector<std::string>& Operands() const { return operands_; }
  // Raises the UsageError "COMMAND: what (see 'veltrane COMMAND --help')".
  [[noreturn]] void Fail(const std::string& what) const;

 private:
  const OptionSpec* Find(std::string_view name) const;
  void PrintHelp() const;

  std::string command_, synopsis_, about_;
  std::vector<OptionSpec> options_;
  std::map<std::string, std::string, std::less<>> given_;
  bool acceptOperands_ = false;
  std::vector<std::string> operands_;
};

// --threads N, for the commands that scan.
extern const OptionSpec kThreadsOption;

// The --permute option of the commands that draw replicates.
extern const OptionSpec kPermuteOption;

// The version line every command prints for --version.
const char* VersionLine();
