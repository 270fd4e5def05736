#include "whole_files.h"

#include <cstring>
#include <fstream>
#include <memory>

#include "output_files.h"
#include "text.h"

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
  // Each file is written whole beside its path; none takes its path's place
  // before all are written, and any left unplaced are removed.
  std::vector<std::unique_ptr<ReplacingFile>> written;
  for (const File& file : files_) {
    written.push_back(std::make_unique<ReplacingFile>(file.path, "file"));
    file.writer(written.back()->Stream());
    written.back()->Close();
  }
  for (std::size_t i = 0; i < written.size(); i++)
    if (const int error = written[i]->Replace())
      throw RunError(files_[i].path + ": cannot replace the file: " + std::strerror(error));
}
