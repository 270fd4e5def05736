// Helpers shared by the fuzz targets.
#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Stops the fuzzer with a report naming the broken property; libFuzzer saves
// the input that caused it. The report goes through the sanitizers' stream,
// which stays open when libFuzzer closes the target's standard error.
[[noreturn]] inline void Violated(const char* what) {
  __sanitizer_report_error_summary((std::string("fuzz property violated: ") + what).c_str());
  std::abort();
}

inline void Require(bool ok, const char* what) {
  if (!ok) Violated(what);
}

// Whether a known, reported fault is to be let through so that fuzzing can
// look past it: FUZZ_TOLERATE holds a comma-separated list of names.
inline bool Tolerated(std::string_view name) {
  static const std::string list = [] {
    const char* value = std::getenv("FUZZ_TOLERATE");
    return "," + std::string(value ? value : "") + ",";
  }();
  return list.find("," + std::string(name) + ",") != std::string::npos;
}

// Decimal integer text: an optional sign and at least one digit, nothing else.
// (FUZZ_TOLERATE=plus-minus lets "+-" pass, the sign pair the readers took
// for a minus sign.)
inline bool IsIntegerText(std::string_view token) {
  if (token.size() > 2 && token.substr(0, 2) == "+-" && Tolerated("plus-minus")) token.remove_prefix(1);
  if (!token.empty() && (token.front() == '+' || token.front() == '-')) token.remove_prefix(1);
  if (token.empty()) return false;
  for (char c : token)
    if (c < '0' || c > '9') return false;
  return true;
}

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A private scratch folder for files a target has to hand over by name,
// made once per process under $TMPDIR (or /tmp) and removed when the process
// exits normally (a crash leaves it, with the files of the crashing input).
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/veltrane-fuzz.XXXXXX";
    if (!mkdtemp(pattern.data())) Violated("cannot create a scratch folder");
    return pattern;
  }();
  static const bool cleanupRegistered = [] {
    return std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(ScratchDir(), ignored);
    }) == 0;
  }();
  (void)cleanupRegistered;
  return dir;
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) Violated("cannot write a scratch file");
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) Violated("short scratch write");
  if (std::fclose(f) != 0) Violated("cannot close a scratch file");
}

}  // namespace fuzz
