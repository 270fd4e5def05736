#include "options.h"

#include <cstdio>

#include "text.h"

#ifndef VELTRANE_VERSION
#define VELTRANE_VERSION "unknown"
#endif

namespace {

const OptionSpec kCommonOptions[] = {
    {"help", nullptr, "show this help and exit"},
    {"version", nullptr, "show the version and exit"},
};

}  // namespace

const OptionSpec kThreadsOption = {
    "threads", "N", "threads for the scan, at most the cores the process may use (default: OMP_NUM_THREADS, else all)"};

const OptionSpec kPermuteOption = {
    "permute", "individuals|haplotypes",
    "what a permutation replicate shuffles: individuals, both haplotypes of a person together (default), or "
    "single haplotypes, as the classic run does"};

const char* VersionLine() { return "veltrane " VELTRANE_VERSION; }

CommandLine::CommandLine(std::string command, std::string synopsis, std::string about,
                         std::vector<OptionSpec> options)
    : command_(std::move(command)), synopsis_(std::move(synopsis)), about_(std::move(about)),
      options_(std::move(options)) {
  options_.insert(options_.end(), std::begin(kCommonOptions), std::end(kCommonOptions));
}

void CommandLine::Fail(const std::string& what) const {
  throw UsageError(command_ + ": " + what + " (see 'veltrane " + command_ + " --help')");
}

const OptionSpec* CommandLine::Find(std::string_view name) const {
  for (const OptionSpec& option : options_)
    if (name == option.name) return &option;
  return nullptr;
}

bool CommandLine::Parse(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    std::string_view word = argv[i];
    if (word.substr(0, 2) != "--") {
      if (!acceptOperands_) Fail("unexpected argument " + Quoted(word));
      operands_.emplace_back(word);
      continue;
    }
    word.remove_prefix(2);
    std::string_view value;
    const std::size_t equals = word.find('=');
    const bool inlineValue = equals != std::string_view::npos;
    if (inlineValue) {
      value = word.substr(equals + 1);
      word = word.substr(0, equals);
    }
    const OptionSpec* option = Find(word);
    if (!option) Fail("unknown option --" + std::string(word));
    if (!option->value) {
      if (inlineValue) Fail("--" + std::string(word) + " takes no value");
    } else if (!inlineValue) {
      if (i + 1 >= argc) Fail("--" + std::string(word) + " needs a value");
      value = argv[++i];
    }
    given_[std::string(word)] = std::string(value);
  }
  if (Has("help")) {
    PrintHelp();
    return false;
  }
  if (Has("version")) {
    std::printf("%s\n", VersionLine());
    return false;
  }
  if (Has("threads") && Threads() < 1) Fail("--threads takes a whole number of at least 1");
  return true;
}

bool CommandLine::Has(std::string_view name) const { return given_.find(name) != given_.end(); }

std::string CommandLine::Value(std::string_view name, const std::string& fallback) const {
  const auto found = given_.find(name);
  return found == given_.end() ? fallback : found->second;
}

std::string CommandLine::Required(std::string_view name) const {
  if (!Has(name)) Fail("--" + std::string(name) + " is required");
  return Value(name);
}

double CommandLine::Number(std::string_view name, double fallback) const {
  if (!Has(name)) return fallback;
  double number = 0;
  if (!ParseDouble(Value(name), number)) Fail("--" + std::string(name) + " takes a number, not " + Quoted(Value(name)));
  return number;
}

int CommandLine::Integer(std::string_view name, int fallback) const {
  if (!Has(name)) return fallback;
  int number = 0;
  if (!ParseInt(Value(name), number))
    Fail("--" + std::string(name) + " takes a whole number, not " + Quoted(Value(name)));
  return number;
}

bool CommandLine::Quantitative() const {
  const std::string mode = Value("mode", "s");
  if (mode != "s" && mode != "q") Fail("--mode takes s or q, not " + Quoted(mode));
  return mode == "q";
}

bool CommandLine::PermutesIndividuals() const {
  const std::string unit = Value("permute", "individuals");
  if (unit != "individuals" && unit != "haplotypes") Fail("--permute takes individuals or haplotypes, not " + Quoted(unit));
  return unit == "individuals";
}

int CommandLine::Threads() const { return Integer("threads", 0); }

void CommandLine::PrintHelp() const {
  std::printf("Usage: veltrane %s %s\n\n%s\n\nOptions:\n", command_.c_str(), synopsis_.c_str(), about_.c_str());
  for (const OptionSpec& option : options_) {
    std::string flag = std::string("--") + option.name;
    if (option.value) flag += std::string(" ") + option.value;
    // A flag too long for its column gets a line of its own, so the help texts stay aligned.
    if (flag.size() > 24) {
      std::printf("  %s\n", flag.c_str());
      flag.clear();
    }
    std::printf("  %-24s %s\n", flag.c_str(), option.help);
  }
}
