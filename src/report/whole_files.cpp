#include "whole_files.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

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

void WholeFiles::Adopt(std::unique_ptr<ReplacingFile> file) { adopted_.push_back(std::move(file)); }

void WholeFiles::Retire(std::string path) { retired_.push_back(std::move(path)); }

void WholeFiles::Commit() {
  SignalGuard held;
  // Each file is written whole beside its path; none takes its path's place
  // before all are written, and any left unplaced are removed.
  std::vector<std::unique_ptr<ReplacingFile>> written = std::move(adopted_);
  for (const std::unique_ptr<ReplacingFile>& file : written) file->Close();
  for (const File& file : files_) {
    written.push_back(std::make_unique<ReplacingFile>(file.path, "file"));
    file.writer(written.back()->Stream());
    written.back()->Close();
  }
  for (const std::unique_ptr<ReplacingFile>& file : written)
    if (const int error = file->Replace())
      throw RunError(file->Path() + ": cannot replace the file: " + std::strerror(error));
  for (const std::string& path : retired_) {
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) throw RunError(path + ": cannot remove the file an earlier run left: " + error.message());
  }
}
