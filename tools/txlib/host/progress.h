// One progress line for a whole command, by bytes, on standard error when it
// is a terminal.
#pragma once

#include <cstdint>

namespace txlib {

class Progress {
  public:
    // Shown for `total` bytes of work of at least 4 MiB, on a terminal,
    // unless `verbosity` is 0 (-q).
    Progress(int verbosity, uint64_t total);
    ~Progress(); // clears the line
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Add(uint64_t bytes);
    // Takes the line away before other output; the next Add shows it again.
    void Clear();

  private:
    bool shown_;
    bool drawn_ = false;
    uint64_t total_;
    uint64_t done_ = 0;
    unsigned last_ = 101;
};

} // namespace txlib
