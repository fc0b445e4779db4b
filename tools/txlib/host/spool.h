// A library that comes down a pipe: list, extract and info read a library
// by range and more than once, so standard input ("-"), or a path that is a
// pipe or a device rather than a regular file, is first read once into a
// temporary file, removed when the command ends.
#pragma once

#include "host/files.h"

#include <optional>
#include <string>

namespace txlib {

class SpooledLibrary {
  public:
    // Reads "-" or a path that is not a regular file into a temporary file
    // in the system's temporary folder; any other path is read as it is.
    explicit SpooledLibrary(const std::string& path);
    SpooledLibrary(const SpooledLibrary&) = delete;
    SpooledLibrary& operator=(const SpooledLibrary&) = delete;

    // The file to read.
    const std::string& Path() const { return spool_ ? spool_->TempPath() : path_; }

  private:
    std::string path_;
    std::optional<OutputFile> spool_; // never committed: removed at the end
};

} // namespace txlib
