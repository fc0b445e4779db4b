// What the system says about the files extraction writes and the standard
// streams a command starts with, each system in its own source file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace txlib {

// Makes sure the three standard streams lead somewhere: a descriptor (or
// standard handle) the command was started without is opened on the null
// device. Otherwise the first file the command opens would take its number,
// and what the command prints, or reads, would go into that file.
void OpenStandardStreams();

// Whether standard output is the file at `path`, whatever its name.
bool StandardOutputIs(const std::string& path);

// Whether something has this name, a link that leads nowhere included.
bool NameTaken(const std::string& path);

// Whether the name is a symbolic link (on Windows also a junction or another
// reparse point), wherever it leads.
bool IsLink(const std::string& path);

// What tells one file from another, whatever its names: device and inode, or
// volume and file id.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    uint64_t index_high = 0; // of a 128-bit file id (Windows)
    bool operator<(const FileIdentity& other) const {
        if (volume != other.volume) return volume < other.volume;
        return index != other.index ? index < other.index : index_high < other.index_high;
    }
};

// The identity of the file the name leads to, a link in last place not
// followed. False when there is none.
bool IdentityOf(const std::string& path, FileIdentity* identity);

// Sets a standard stream to binary: on Windows the C library would turn
// "\n" into "\r\n" and stop reading at byte 0x1A; nothing elsewhere.
void BinaryStream(std::FILE* stream);

// Whether the stream is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// Whether the C library's error number says that the user's disk quota is
// used up (POSIX: EDQUOT; Windows has no such number).
bool QuotaReached(int error);

// Makes one folder (on POSIX with mode 0777 less the umask): 0, or -1 with
// errno set.
int MakeFolder(const std::string& path);

// The separator the system writes between the folders of a path.
char PathSeparator();

// Whether the system, as the library layer does, takes a backslash for a
// separator between folders (Windows), rather than for a character of a
// name (Linux).
bool BackslashSeparatesFolders();

// The longest path, made absolute, that the system opens where it limits
// whole paths (Windows without "\\?\": 260 characters with the final NUL).
constexpr size_t kLimitedPathMax = 259;

// The characters of `path` made absolute where the system limits whole
// paths to kLimitedPathMax; 0 where it sets no such limit.
size_t LimitedPathLength(const std::string& path);

} // namespace txlib
