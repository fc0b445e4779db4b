#include "host/systemfiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace txlib {

void BinaryStream(std::FILE* stream) {
    (void)stream;
}

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

bool QuotaReached(int error) {
    return error == EDQUOT;
}

int MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777);
}

char PathSeparator() {
    return '/';
}

bool BackslashSeparatesFolders() {
    return false;
}

void OpenStandardStreams() {
    // Taken in order: the null device gets the lowest free number, the one
    // that is missing.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd && opened >= 0) {
            // Should a lower number have been free after all, the stream
            // still gets its own.
            dup2(opened, fd);
            close(opened);
        }
    }
}

bool StandardOutputIs(const std::string& path) {
    struct stat out, file;
    return fstat(STDOUT_FILENO, &out) == 0 && ::stat(path.c_str(), &file) == 0 &&
           out.st_dev == file.st_dev && out.st_ino == file.st_ino;
}

bool NameTaken(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    identity->volume = static_cast<uint64_t>(st.st_dev);
    identity->index = static_cast<uint64_t>(st.st_ino);
    return true;
}

size_t LimitedPathLength(const std::string&) {
    return 0;
}

} // namespace txlib
