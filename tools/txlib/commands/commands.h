// The commands of the library tool. Each returns the exit status, or throws
// Failure.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace txlib {

struct Options {
    int verbosity = 1; // 0 with -q, 2 with -v
    bool json = false; // --json: the result as one JSON document on standard output
};

// Launcher executables.
int CommandSlots(const Options& options, const std::string& exe,
                 const std::vector<std::pair<std::string, std::string>>& sets);
int CommandEmbed(const Options& options, const std::string& exe, const std::string& library,
                 const std::string& out, bool any_kind, bool set_name = false);
int CommandUnembed(const Options& options, const std::string& exe, const std::string& out);
// A launcher executable or a library container.
int CommandInfo(const Options& options, const std::string& file);

} // namespace txlib
