// The files that create and add take in: files and folders named on the
// command line, folders walked in a stable order, each file named by its
// path as given.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace txlib {

struct SourceFile {
    std::string disk_path; // where the file is read from (inside -C DIR when given)
    std::string name;      // member name: the relative path in Windows-1252, parts joined by '\'
    int64_t size = 0;      // bytes at the time of the walk; -1 for standard input
};

struct InputSet {
    std::vector<SourceFile> files;
    std::vector<std::string> empty_folders; // folders holding nothing, as disk paths
    // Paths named from outside the folder (absolute, or with a ".." part),
    // each with the name it is stored under: its last part.
    std::vector<std::pair<std::string, std::string>> stored_as;
};

// Collects the files under each path, relative to `directory` (-C DIR; empty
// for the current directory). A folder is walked depth first, its entries
// in byte order of their names. "-" stands for standard input. A path that
// is absolute or leaves the directory through a ".." part is stored under
// its last part (after links and ".." are resolved), a folder's contents
// below that name.
// Refused, with Failure (status 2) before anything is written: names that
// Windows-1252 cannot hold, links that lead outside the directory (or the
// folder named from outside) or back into a folder being walked, and
// anything that is neither a file nor a folder.
InputSet CollectInputs(const std::vector<std::string>& paths, const std::string& directory);

// The member name of a relative path as given: its parts in Windows-1252
// joined by '\', "." and empty parts dropped. False with the reason for an
// absolute path, a ".." part or a name that cannot be converted.
bool MemberNameOfPath(const std::string& path, std::string* name, std::string* reason);

} // namespace txlib
