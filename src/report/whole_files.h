// A set of output files put in place together: each is written to a temporary
// file beside its final name and renamed over it only once every file of the
// set has been written, so a failed or interrupted command leaves each file
// either as it was or whole.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "output_files.h"

class WholeFiles {
 public:
  using Writer = std::function<void(std::ostream&)>;

  // Adds a file; its writer runs at Commit.
  void Add(std::string path, Writer writer);
  // Adds a file holding a copy of an existing file.
  void AddCopy(std::string path, std::string source);
  // Adds a file already written beside its path (one too large to hold in
  // memory, written while the scan runs); Commit closes and places it.
  void Adopt(std::unique_ptr<ReplacingFile> file);
  // Names a file an earlier command may have left in the folder that this set
  // does not hold (the report in another form, say); Commit removes it, so the
  // folder never mixes the files of two runs.
  void Retire(std::string path);

  // Writes every file, then renames them into place. Interrupting signals wait
  // until it is done. Raises a RunError (and removes the temporary files) when
  // a file cannot be written.
  void Commit();

 private:
  struct File {
    std::string path;
    Writer writer;
  };
  std::vector<File> files_;
  std::vector<std::unique_ptr<ReplacingFile>> adopted_;
  std::vector<std::string> retired_;
};
