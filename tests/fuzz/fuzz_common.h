// Helpers shared by the fuzz targets.
#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

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

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A private scratch folder for the files a target hands over by name, made
// once per process and removed when it exits normally (a crash leaves it,
// with the files of the crashing input).
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/veltrane-fuzz.XXXXXX";
    if (!mkdtemp(pattern.data())) Violated("cannot create a scratch folder");
    return pattern;
  }();
  // Registered once dir is made, so that it runs before dir is destroyed.
  static const int cleanup = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(ScratchDir(), ignored);
  });
  (void)cleanup;
  return dir;
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
      std::fclose(f) != 0)
    Violated("cannot write a scratch file");
}

}  // namespace fuzz
