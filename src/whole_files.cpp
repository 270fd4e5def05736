#include "whole_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "output_files.h"
#include "text.h"

namespace {

// Removes the temporary files written so far unless the set was committed.
struct Temporaries {
  std::vector<std::string> paths;
  bool kept = false;
  ~Temporaries() {
    if (!kept)
      for (const std::string& path : paths) unlink(path.c_str());
  }
};

[[noreturn]] void Fail(const std::string& path, const char* what, int error) {
  throw RunError(path + ": " + what + ": " + std::strerror(error ? error : EIO));
}

std::string CreateTemporary(const std::string& path) {
  std::string name = path + ".tmpXXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) Fail(path, "cannot create the file", errno);
  // mkstemp makes the file private; give it the usual permissions.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  close(fd);
  return name;
}

}  // namespace

void WholeFiles::Add(std::string path, Writer writer) { files_.push_back({std::move(path), std::move(writer)}); }

void WholeFiles::AddCopy(std::string path, std::string source) {
  Add(std::move(path), [source = std::move(source)](std::ostream& out) {
    std::ifstream in = OpenInputFile(source, "file to copy");
    // Inserting an empty buffer would mark the output as failed.
    if (in.peek() != std::ifstream::traits_type::eof()) out << in.rdbuf();
  });
}

void WholeFiles::Commit() {
  SignalGuard held;
  Temporaries temporaries;
  for (const File& file : files_) {
    temporaries.paths.push_back(CreateTemporary(file.path));
    std::ofstream out(temporaries.paths.back(), std::ios::binary | std::ios::trunc);
    if (out) file.writer(out);
    out.close();
    if (!out) Fail(file.path, "cannot write the file", errno);
  }
  for (std::size_t i = 0; i < files_.size(); i++)
    if (rename(temporaries.paths[i].c_str(), files_[i].path.c_str()) != 0)
      Fail(files_[i].path, "cannot replace the file", errno);
  temporaries.kept = true;
}
