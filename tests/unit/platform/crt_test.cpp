// The C runtime calls on Windows paths (crt.h): _access, _stat, _getdcwd and
// _mktemp, natively over the POSIX layer and under Wine against msvcrt.
#include "filetest.h"
#include "platform/crt.h"
#include "platform/fault.h"
#include "platform/win32.h"
#include "testutil.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

// Sets errno to 0, makes the call and expects its failure result and errno
// value. A macro, so that a failure names the line of the check.
#define EXPECT_ERRNO(call, result, code)                                                           \
    do {                                                                                           \
        errno = 0;                                                                                 \
        EXPECT_EQ(call, result);                                                                   \
        EXPECT_EQ(errno, code) << "after " #call;                                                  \
    } while (0)

namespace {

using txtest::ScratchDir;
namespace fs = std::filesystem;

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

std::string CurrentDirectory() {
    char buf[MAX_PATH + 1] = {};
    DWORD n = GetCurrentDirectoryA(sizeof buf, buf);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, sizeof buf);
    return buf;
}

// Restores the current directory when it dies.
class CwdGuard {
  public:
    CwdGuard() : saved_(CurrentDirectory()) {}
    ~CwdGuard() { SetCurrentDirectoryA(saved_.c_str()); }

  private:
    std::string saved_;
};

void MakeReadOnly(const fs::path& p) {
    fs::permissions(p, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

void MakeWritable(const fs::path& p) {
    fs::permissions(p, fs::perms::owner_write, fs::perm_options::add);
}

TEST(Crt, AccessOnFileDirectoryMissingAndWildcards) {
    ScratchDir dir;
    dir.write("a.txt", "hello");
    fs::create_directory(dir.host("sub"));
    EXPECT_EQ(_access(dir.win("a.txt").c_str(), 0), 0);
    EXPECT_EQ(_access(dir.win("A.TXT").c_str(), 6), 0);
    EXPECT_EQ(_access(dir.win("sub").c_str(), 0), 0);
    EXPECT_EQ(_access(dir.win("sub\\").c_str(), 2), 0);
    EXPECT_EQ(_access(dir.win().substr(0, 3).c_str(), 0), 0); // the drive's root

    EXPECT_ERRNO(_access(dir.win("missing.txt").c_str(), 0), -1, ENOENT);
    EXPECT_ERRNO(_access(dir.win("nodir\\a.txt").c_str(), 0), -1, ENOENT);
    EXPECT_ERRNO(_access("", 0), -1, ENOENT);
    // Wildcards name no file, even where they would match one; msvcrt
    // reports the invalid name as EINVAL.
    EXPECT_ERRNO(_access(dir.win("*.txt").c_str(), 0), -1, EINVAL);
    EXPECT_ERRNO(_access(dir.win("a?txt").c_str(), 0), -1, EINVAL);
    // A path too long for Windows.
    EXPECT_ERRNO(_access((dir.win() + "\\" + std::string(300, 'x')).c_str(), 0), -1, ENOENT);

    // Only the read-only attribute refuses write access.
    MakeReadOnly(dir.host("a.txt"));
    EXPECT_EQ(_access(dir.win("a.txt").c_str(), 4), 0);
    EXPECT_ERRNO(_access(dir.win("a.txt").c_str(), 2), -1, EACCES);
    EXPECT_ERRNO(_access(dir.win("a.txt").c_str(), 6), -1, EACCES);
    MakeWritable(dir.host("a.txt"));
}

TEST(Crt, StatOfFileDirectoryAndFailures) {
    ScratchDir dir;
    dir.write("a.txt", "hello");
    dir.write("run.exe", "MZ");
    fs::create_directory(dir.host("sub"));
    const unsigned drive =
        static_cast<unsigned>(std::toupper(static_cast<unsigned char>(dir.win()[0])) - 'A');

    struct _stat st;
    std::memset(&st, 0x55, sizeof st);
    ASSERT_EQ(_stat(dir.win("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFREG);
    EXPECT_EQ(st.st_mode, 0x81B6); // regular, read and write for all
    EXPECT_EQ(st.st_size, 5);
    EXPECT_EQ(st.st_nlink, 1);
    EXPECT_EQ(static_cast<unsigned>(st.st_dev), drive);
    EXPECT_EQ(static_cast<unsigned>(st.st_rdev), drive);
    // The last-write time in seconds since 1970, as GetFileTime has it.
    {
        filetest::Handle h(filetest::Open(dir.win("a.txt"), GENERIC_READ, OPEN_EXISTING));
        FILETIME w;
        ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &w));
        uint64_t secs = (filetest::Ticks(w) - 116444736000000000ULL) / 10000000ULL;
        EXPECT_EQ(static_cast<uint64_t>(st.st_mtime), secs);
    }

    ASSERT_EQ(_stat(dir.win("run.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, 0x81FF); // executables by their extension
    ASSERT_EQ(_stat(dir.win("sub").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFDIR);
    EXPECT_EQ(st.st_mode, 0x41FF);
    ASSERT_EQ(_stat(dir.win().substr(0, 3).c_str(), &st), 0); // "Z:\"
    EXPECT_EQ(st.st_mode & _S_IFMT, _S_IFDIR);

    MakeReadOnly(dir.host("a.txt"));
    ASSERT_EQ(_stat(dir.win("a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, 0x8124);
    MakeWritable(dir.host("a.txt"));

    // Every failure is ENOENT, also for a trailing separator, a bare drive
    // and wildcards.
    for (const std::string& bad :
         {dir.win("missing.txt"), dir.win("nodir\\a.txt"), dir.win("sub\\"), dir.win("*.txt"),
          dir.win("a?txt"), dir.win().substr(0, 2), std::string(),
          dir.win() + "\\" + std::string(300, 'x')}) {
        errno = 0;
        EXPECT_EQ(_stat(bad.c_str(), &st), -1) << bad;
        EXPECT_EQ(errno, ENOENT) << bad;
    }
}

TEST(Crt, GetDcwdOfTheCurrentDrive) {
    std::string cwd = CurrentDirectory();
    char buf[MAX_PATH + 1];
    errno = 0;
    ASSERT_EQ(_getdcwd(0, buf, sizeof buf), buf);
    EXPECT_EQ(std::string(buf), cwd);
    // The current drive by its number.
    int drive = std::toupper(static_cast<unsigned char>(cwd[0])) - 'A' + 1;
    ASSERT_EQ(_getdcwd(drive, buf, sizeof buf), buf);
    EXPECT_EQ(std::string(buf), cwd);

    // Room for the path and its NUL is needed.
    int len = static_cast<int>(cwd.size());
    EXPECT_ERRNO(_getdcwd(0, buf, len), nullptr, ERANGE);
    char small[4];
    EXPECT_ERRNO(_getdcwd(0, small, sizeof small), nullptr, ERANGE);
    EXPECT_EQ(_getdcwd(0, buf, len + 1), buf);
    EXPECT_EQ(std::string(buf), cwd);

    // Without a buffer one is allocated, whatever size is given.
    for (int size : {0, 2, 1000}) {
        char* p = _getdcwd(0, nullptr, size);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::string(p), cwd);
        std::free(p);
    }

    // Drives that do not exist: EACCES. (Q: is not mapped in a fresh Wine
    // prefix; the POSIX layer has only Z:.)
    for (int bad : {17, 27, -1}) {
        errno = 0;
        EXPECT_EQ(_getdcwd(bad, buf, sizeof buf), nullptr) << bad;
        EXPECT_EQ(errno, EACCES) << bad;
    }
}

TEST(Crt, GetDcwdFollowsTheCurrentDirectory) {
    ScratchDir dir;
    CwdGuard guard;
    ASSERT_TRUE(SetCurrentDirectoryA(dir.win().c_str()));
    char buf[MAX_PATH + 1];
    ASSERT_EQ(_getdcwd(0, buf, sizeof buf), buf);
    EXPECT_EQ(std::string(buf), CurrentDirectory());
    // Names relative to the current directory reach the scratch directory.
    dir.write("rel.txt", "x");
    EXPECT_EQ(_access("rel.txt", 0), 0);
    struct _stat st;
    EXPECT_EQ(_stat("rel.txt", &st), 0);
    EXPECT_EQ(st.st_size, 1);
}

TEST(Crt, MktempGivesNamesThatDoNotExist) {
    ScratchDir dir;
    CwdGuard guard;
    ASSERT_TRUE(SetCurrentDirectoryA(dir.win().c_str()));
    char digits[6];
    std::snprintf(digits, sizeof digits, "%05lu", ProcessId() % 100000);

    // No directory part: the current directory. A letter, then the last five
    // digits of the process id.
    char t1[] = "SHXXXXXX";
    ASSERT_EQ(_mktemp(t1), t1);
    EXPECT_EQ(std::string(t1), std::string("SHa") + digits);
    dir.write(t1, "");
    char t2[] = "SHXXXXXX";
    ASSERT_EQ(_mktemp(t2), t2);
    EXPECT_EQ(std::string(t2), std::string("SHb") + digits);
    EXPECT_FALSE(fs::exists(dir.host(t2)));

    // Only the last six X's are replaced.
    char t3[] = "abXXXXXXX";
    ASSERT_EQ(_mktemp(t3), t3);
    EXPECT_EQ(std::string(t3), std::string("abXa") + digits);

    // With a directory part, that directory is looked at.
    fs::create_directory(dir.host("sub"));
    dir.write(std::string("sub/a") + digits, "");
    std::string in_sub = dir.win("sub\\XXXXXX");
    ASSERT_EQ(_mktemp(in_sub.data()), in_sub.data());
    EXPECT_EQ(in_sub, dir.win(std::string("sub\\b") + digits));

    // Bad templates.
    char five[] = "abXXXXX";
    EXPECT_EQ(_mktemp(five), nullptr);
    char inner[] = "XXXXXXa";
    EXPECT_EQ(_mktemp(inner), nullptr);

    // Every letter taken.
    for (char c = 'a'; c <= 'z'; ++c)
        dir.write(std::string("T") + c + digits, "");
    char full[] = "TXXXXXX";
    EXPECT_EQ(_mktemp(full), nullptr);
}

TEST(Crt, FaultInjection) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "the C runtime is the system's own";
    ScratchDir dir;
    dir.write("a.txt", "x");
    txplat::FaultClear();
    txplat::FaultInject("_access", EACCES);
    EXPECT_ERRNO(_access(dir.win("a.txt").c_str(), 0), -1, EACCES);
    EXPECT_EQ(_access(dir.win("a.txt").c_str(), 0), 0);
    txplat::FaultInject("_getdcwd", ERANGE);
    char buf[MAX_PATH];
    EXPECT_ERRNO(_getdcwd(0, buf, sizeof buf), nullptr, ERANGE);
    txplat::FaultInject("_stat", ENOENT);
    struct _stat st;
    EXPECT_EQ(_stat(dir.win("a.txt").c_str(), &st), -1);
    EXPECT_EQ(_stat(dir.win("a.txt").c_str(), &st), 0);
    txplat::FaultClear();
}

} // namespace
