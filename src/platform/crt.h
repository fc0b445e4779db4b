// The C runtime calls that take Windows paths or drive numbers.
//
// On Windows these are the C library's own. The POSIX layer provides them
// over the same path translation as the Win32 calls, with the C runtime's
// errno values (EACCES for a drive that does not exist, ERANGE for a buffer
// too small).
#pragma once

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <cstdint>
#include <ctime>
#include <sys/stat.h>

#define _S_IFMT 0xF000
#define _S_IFDIR 0x4000
#define _S_IFREG 0x8000

struct _stat {
    unsigned int st_dev;
    unsigned short st_ino;
    unsigned short st_mode;
    short st_nlink;
    short st_uid;
    short st_gid;
    unsigned int st_rdev;
    long st_size;
    // glibc makes st_atime, st_mtime and st_ctime macros for the seconds of
    // these three, so the usual names read the times here too.
    struct timespec st_atim;
    struct timespec st_mtim;
    struct timespec st_ctim;
};

extern "C" {
int _access(const char* path, int mode);
int _stat(const char* path, struct _stat* buffer);
char* _getdcwd(int drive, char* buffer, int maxlen);
char* _mktemp(char* name_template);
}
#endif
