// What the portable part of the walk of files and folders (tree.cpp) asks
// of the system, answered by tree_posix.cpp or tree_windows.cpp.
#pragma once

#include "host/tree.h"

#include <string>
#include <vector>

namespace txlib::tree_system {

// Whether the character separates the folders of a path.
bool IsSeparator(char c);

// Whether the path begins with a drive ("C:"); never on POSIX.
bool NamesDrive(const std::string& path);

// The path made absolute, its links followed where the system has them; ""
// (POSIX) where it leads nowhere.
std::string Canonical(const std::string& path);

// Two parts of a path joined by the system's separator.
std::string Join(const std::string& a, const std::string& b);

// The walk of the files and folders named by create and add.
struct Walker {
    InputSet* set;
    std::string root;                 // the canonical directory that links must stay inside
    std::vector<std::string> walking; // canonical folders being walked

    void Add(const std::string& disk, const std::string& name);
    void Folder(const std::string& disk, const std::string& name);
    std::vector<std::string> Entries(const std::string& disk);
};

} // namespace txlib::tree_system
