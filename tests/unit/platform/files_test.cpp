// CreateFileA, ReadFile, WriteFile, SetFilePointer, SetEndOfFile,
// GetFileSize, CloseHandle, DeleteFileA, MoveFileExA, LockFile, UnlockFile,
// GetFileTime and SetFileTime: the same checks natively and under Wine.
#include "filetest.h"
#include "platform/fault.h"
#include "platform/win32.h"
#include "testutil.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using filetest::Handle;
using filetest::kReadWrite;
using filetest::Open;
using txtest::ScratchDir;

DWORD Err() {
    return GetLastError();
}

TEST(Files, MissingFileIs2AndMissingDirectoryIs3) {
    ScratchDir dir;
    dir.write("file.txt", "x");
    EXPECT_FAILS_AS(Open(dir.win("missing.txt"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                    ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS_AS(Open(dir.win("nodir\\file.txt"), GENERIC_READ, OPEN_EXISTING),
                    INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
    EXPECT_FAILS_AS(Open(dir.win("nodir\\file.txt"), kReadWrite, CREATE_ALWAYS),
                    INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
    // A file used as a directory.
    EXPECT_FAILS_AS(Open(dir.win("file.txt\\x"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                    ERROR_PATH_NOT_FOUND);
    EXPECT_FAILS_AS(Open(dir.win("missing.txt"), GENERIC_WRITE, TRUNCATE_EXISTING),
                    INVALID_HANDLE_VALUE, ERROR_FILE_NOT_FOUND);
}

TEST(Files, DispositionsAndTheirLastErrors) {
    ScratchDir dir;
    dir.write("old.txt", "old contents");

    EXPECT_FAILS_AS(Open(dir.win("old.txt"), kReadWrite, CREATE_NEW), INVALID_HANDLE_VALUE,
                    ERROR_FILE_EXISTS);

    {
        SetLastError(1234);
        Handle h(Open(dir.win("new.txt"), kReadWrite, CREATE_NEW));
        ASSERT_TRUE(h.valid());
        EXPECT_EQ(Err(), 0u);
    }
    {
        SetLastError(1234);
        Handle h(Open(dir.win("old.txt"), GENERIC_READ, OPEN_ALWAYS));
        ASSERT_TRUE(h.valid());
        EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(GetFileSize(h, nullptr), 12u); // opened, not emptied
    }
    {
        SetLastError(1234);
        Handle h(Open(dir.win("other.txt"), GENERIC_READ, OPEN_ALWAYS));
        ASSERT_TRUE(h.valid());
        EXPECT_EQ(Err(), 0u);
    }
    {
        SetLastError(1234);
        Handle h(Open(dir.win("old.txt"), kReadWrite, CREATE_ALWAYS));
        ASSERT_TRUE(h.valid());
        EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        EXPECT_EQ(GetFileSize(h, nullptr), 0u); // emptied
    }
    {
        SetLastError(1234);
        Handle h(Open(dir.win("fresh.txt"), kReadWrite, CREATE_ALWAYS));
        ASSERT_TRUE(h.valid());
        EXPECT_EQ(Err(), 0u);
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, "abc", 3, &n, nullptr));
    }
    {
        SetLastError(1234);
        Handle h(Open(dir.win("fresh.txt"), GENERIC_WRITE, TRUNCATE_EXISTING));
        ASSERT_TRUE(h.valid());
        EXPECT_EQ(Err(), 0u);
        EXPECT_EQ(GetFileSize(h, nullptr), 0u);
    }
    {
        SetLastError(1234);
        Handle h(Open(dir.win("old.txt"), GENERIC_READ, OPEN_EXISTING));
        ASSERT_TRUE(h.valid());
        EXPECT_EQ(Err(), 0u);
    }
    for (DWORD bad : {0u, 6u}) {
        SetLastError(0);
        EXPECT_EQ(Open(dir.win("old.txt"), GENERIC_READ, bad), INVALID_HANDLE_VALUE);
        EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "disposition " << bad;
    }
}

TEST(Files, DirectoryIsNotAFile) {
    ScratchDir dir;
    std::filesystem::create_directory(dir.host("sub"));
    for (DWORD disp : {static_cast<DWORD>(OPEN_EXISTING), static_cast<DWORD>(OPEN_ALWAYS),
                       static_cast<DWORD>(CREATE_ALWAYS)}) {
        SetLastError(0);
        EXPECT_EQ(Open(dir.win("sub"), GENERIC_READ, disp), INVALID_HANDLE_VALUE);
        EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "disposition " << disp;
    }
    EXPECT_FAILS_AS(Open(dir.win("sub"), kReadWrite, CREATE_NEW), INVALID_HANDLE_VALUE,
                    ERROR_FILE_EXISTS);
    EXPECT_FAILS_AS(Open(dir.win("sub\\"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                    ERROR_ACCESS_DENIED);
}

TEST(Files, BadNamesGiveErrorCodes) {
    ScratchDir dir;
    dir.write("a.txt", "x");
    EXPECT_FAILS_AS(Open(dir.win("a*.txt"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                    ERROR_INVALID_NAME);
    EXPECT_FAILS_AS(Open(dir.win("q?.txt"), kReadWrite, CREATE_ALWAYS), INVALID_HANDLE_VALUE,
                    ERROR_INVALID_NAME);
    EXPECT_FAILS_AS(Open(dir.win("x|y"), kReadWrite, CREATE_ALWAYS), INVALID_HANDLE_VALUE,
                    ERROR_INVALID_NAME);
    EXPECT_FAILS_AS(Open(dir.win("a.txt\\"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                    ERROR_INVALID_NAME);
    EXPECT_FALSE(std::filesystem::exists(dir.host("q?.txt")));

    EXPECT_FAILS_AS(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                    INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
    EXPECT_FAILS_AS(Open("", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                    ERROR_PATH_NOT_FOUND);
    EXPECT_FAILS(DeleteFileA(nullptr), ERROR_PATH_NOT_FOUND);
    EXPECT_FAILS(DeleteFileA(""), ERROR_PATH_NOT_FOUND);
}

TEST(Files, PathsOf260AndMoreCharacters) {
    ScratchDir dir;
    std::string base = dir.win() + "\\";
    std::string p300 = base + std::string(300 - base.size(), 'a');
    EXPECT_FAILS_AS(Open(p300, kReadWrite, CREATE_ALWAYS), INVALID_HANDLE_VALUE,
                    ERROR_FILENAME_EXCED_RANGE);
    EXPECT_FAILS(DeleteFileA(p300.c_str()), ERROR_FILENAME_EXCED_RANGE);
    WIN32_FIND_DATAA fd;
    EXPECT_FAILS_AS(FindFirstFileA(p300.c_str(), &fd), INVALID_HANDLE_VALUE,
                    ERROR_FILENAME_EXCED_RANGE);

    // At exactly 260 characters Wine finds no such file (2); our path
    // translation already refuses the length (206). Either way: an error code.
    std::string p260 = base + std::string(260 - base.size(), 'b');
    SetLastError(0);
    EXPECT_EQ(Open(p260, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Err() == ERROR_FILE_NOT_FOUND || Err() == ERROR_FILENAME_EXCED_RANGE) << Err();
    std::string p1000 = base + std::string(1000, 'c');
    EXPECT_FAILS_AS(Open(p1000, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                    ERROR_FILENAME_EXCED_RANGE);
}

TEST(Files, WriteThenReadAndReadAtEndOfFile) {
    ScratchDir dir;
    Handle h(Open(dir.win("data.bin"), kReadWrite, CREATE_ALWAYS));
    ASSERT_TRUE(h.valid());
    DWORD n = 99;
    ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    char buf[64] = {};
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(std::string(buf, n), "hello world");

    // At the end of the file a read succeeds with 0 bytes, last error untouched.
    SetLastError(1234);
    n = 99;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Err(), 1234u);
    // Zero-byte reads and writes succeed.
    n = 99;
    EXPECT_TRUE(ReadFile(h, buf, 0, &n, nullptr));
    EXPECT_EQ(n, 0u);
    n = 99;
    EXPECT_TRUE(WriteFile(h, buf, 0, &n, nullptr));
    EXPECT_EQ(n, 0u);
    h.reset();
    EXPECT_EQ(dir.read("data.bin"), "hello world");
}

TEST(Files, NullCountAndNullBuffer) {
    ScratchDir dir;
    dir.write("a.txt", "hello");
    Handle h(Open(dir.win("a.txt"), kReadWrite, OPEN_EXISTING));
    ASSERT_TRUE(h.valid());
    char buf[8] = {};
    // Without OVERLAPPED Windows wants a count variable; Wine (and this
    // layer) do without one.
    EXPECT_TRUE(ReadFile(h, buf, 2, nullptr, nullptr));
    EXPECT_EQ(std::string(buf, 2), "he");
    EXPECT_TRUE(WriteFile(h, "LL", 2, nullptr, nullptr));

    DWORD n = 99;
    EXPECT_FAILS(ReadFile(h, nullptr, 2, &n, nullptr), ERROR_NOACCESS);
    EXPECT_EQ(n, 0u);
    n = 99;
    EXPECT_FAILS(WriteFile(h, nullptr, 3, &n, nullptr), 1784u); // ERROR_INVALID_USER_BUFFER
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(ReadFile(h, nullptr, 0, &n, nullptr));
    EXPECT_TRUE(WriteFile(h, nullptr, 0, &n, nullptr));
    h.reset();
    EXPECT_EQ(dir.read("a.txt"), "heLLo");
}

TEST(Files, WriteToAFullDiskIs112) {
    if (!filetest::OurLayer() && !filetest::OnWine())
        GTEST_SKIP() << "needs the host's /dev/full, which Wine shows as Z:\\dev\\full";
    Handle h(Open("Z:\\dev\\full", GENERIC_WRITE, OPEN_EXISTING));
    ASSERT_TRUE(h.valid()) << Err();
    DWORD n = 99;
    EXPECT_FAILS(WriteFile(h, "abc", 3, &n, nullptr), ERROR_DISK_FULL);
    EXPECT_EQ(n, 0u);
}

TEST(Files, AccessRightsOfHandles) {
    ScratchDir dir;
    dir.write("a.txt", "hello");
    char buf[8];
    DWORD n = 99;
    {
        Handle w(Open(dir.win("a.txt"), GENERIC_WRITE, OPEN_EXISTING));
        ASSERT_TRUE(w.valid());
        EXPECT_FAILS(ReadFile(w, buf, 1, &n, nullptr), ERROR_ACCESS_DENIED);
        EXPECT_EQ(n, 0u);
    }
    {
        Handle r(Open(dir.win("a.txt"), GENERIC_READ, OPEN_EXISTING));
        ASSERT_TRUE(r.valid());
        n = 99;
        EXPECT_FAILS(WriteFile(r, "x", 1, &n, nullptr), ERROR_ACCESS_DENIED);
        EXPECT_EQ(n, 0u);
        // Truncating needs write access. Windows says 5; Wine says 87.
        SetLastError(0);
        EXPECT_FALSE(SetEndOfFile(r));
        if (!filetest::OnWine()) {
            EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
    }
    {
        // No access at all: the size can be asked, the data cannot be read.
        Handle q(Open(dir.win("a.txt"), 0, OPEN_EXISTING));
        ASSERT_TRUE(q.valid());
        EXPECT_EQ(GetFileSize(q, nullptr), 5u);
        EXPECT_FAILS(ReadFile(q, buf, 1, &n, nullptr), ERROR_ACCESS_DENIED);
    }
    EXPECT_EQ(dir.read("a.txt"), "hello");
}

TEST(Files, SeeksFromBeginningCurrentAndEnd) {
    ScratchDir dir;
    dir.write("a.txt", "0123456789");
    Handle h(Open(dir.win("a.txt"), kReadWrite, OPEN_EXISTING));
    ASSERT_TRUE(h.valid());
    SetLastError(1234);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 10u); // the size
    EXPECT_EQ(SetFilePointer(h, -3, nullptr, FILE_END), 7u);
    EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_CURRENT), 9u);
    EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_CURRENT), 5u);
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_EQ(Err(), 1234u);
    char c = 0;
    DWORD n = 0;
    ASSERT_TRUE(ReadFile(h, &c, 1, &n, nullptr));
    EXPECT_EQ(c, '4');
    // Beyond the end is allowed; the size does not change until a write.
    EXPECT_EQ(SetFilePointer(h, 100, nullptr, FILE_END), 110u);
    EXPECT_EQ(GetFileSize(h, nullptr), 10u);

    // Before the start: failure, 131, and the position stays.
    EXPECT_EQ(SetFilePointer(h, 3, nullptr, FILE_BEGIN), 3u);
    EXPECT_FAILS_AS(SetFilePointer(h, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER,
                    ERROR_NEGATIVE_SEEK);
    EXPECT_FAILS_AS(SetFilePointer(h, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER,
                    ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 3u);
    // Unknown method.
    EXPECT_FAILS_AS(SetFilePointer(h, 0, nullptr, 3), INVALID_SET_FILE_POINTER,
                    ERROR_INVALID_PARAMETER);
}

TEST(Files, SeeksWithAHighPart) {
    ScratchDir dir;
    Handle h(Open(dir.win("a.bin"), kReadWrite, CREATE_ALWAYS));
    ASSERT_TRUE(h.valid());
    LONG high = 1;
    SetLastError(1234);
    EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(Err(), 1234u);
    // A true position of 0xFFFFFFFF is told from failure by last error 0.
    high = 0;
    EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(high, 0);
    EXPECT_EQ(Err(), 0u);
    // -1 as a 64-bit distance from the start.
    high = -1;
    EXPECT_FAILS_AS(SetFilePointer(h, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER,
                    ERROR_NEGATIVE_SEEK);
    // Without a high part the distance is a signed 32-bit value.
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    EXPECT_FAILS_AS(SetFilePointer(h, static_cast<LONG>(0x80000000u), nullptr, FILE_BEGIN),
                    INVALID_SET_FILE_POINTER, ERROR_NEGATIVE_SEEK);
}

TEST(Files, SetEndOfFileAndSizesAbove4GiB) {
    ScratchDir dir;
    Handle h(Open(dir.win("a.bin"), kReadWrite, CREATE_ALWAYS));
    ASSERT_TRUE(h.valid());
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_TRUE(SetEndOfFile(h));
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(h, &high), 4u);
    EXPECT_EQ(high, 0u);
    // A sparse file of 4 GiB + 1 byte: the size comes in two halves.
    LONG seek_high = 1;
    EXPECT_EQ(SetFilePointer(h, 1, &seek_high, FILE_BEGIN), 1u);
    ASSERT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h, &high), 1u);
    EXPECT_EQ(high, 1u);
    EXPECT_EQ(GetFileSize(h, nullptr), 1u);
    seek_high = 0;
    EXPECT_EQ(SetFilePointer(h, 0, &seek_high, FILE_END), 1u);
    EXPECT_EQ(seek_high, 1);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    ASSERT_TRUE(SetEndOfFile(h));
}

TEST(Files, InvalidHandlesGiveError6) {
    char buf[4];
    DWORD n = 0;
    FILETIME ft = {0, 0};
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE,
                       reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234))}) {
        SCOPED_TRACE(reinterpret_cast<uintptr_t>(bad));
        EXPECT_FAILS(ReadFile(bad, buf, 1, &n, nullptr), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(WriteFile(bad, buf, 1, &n, nullptr), ERROR_INVALID_HANDLE);
        EXPECT_FAILS_AS(SetFilePointer(bad, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER,
                        ERROR_INVALID_HANDLE);
        EXPECT_FAILS_AS(GetFileSize(bad, nullptr), 0xFFFFFFFFu, ERROR_INVALID_HANDLE);
        EXPECT_FAILS(SetEndOfFile(bad), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(LockFile(bad, 0, 0, 1, 0), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(UnlockFile(bad, 0, 0, 1, 0), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(GetFileTime(bad, nullptr, nullptr, &ft), ERROR_INVALID_HANDLE);
        EXPECT_FAILS(SetFileTime(bad, nullptr, nullptr, &ft), ERROR_INVALID_HANDLE);
    }
    EXPECT_FAILS(CloseHandle(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_FAILS(CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234))),
                 ERROR_INVALID_HANDLE);
    // INVALID_HANDLE_VALUE is the process's own pseudo handle: "closing" it
    // succeeds.
    EXPECT_TRUE(CloseHandle(INVALID_HANDLE_VALUE));

    // A closed handle is invalid, and so is a search handle given to ReadFile.
    ScratchDir dir;
    dir.write("a.txt", "x");
    HANDLE h = Open(dir.win("a.txt"), GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FAILS(CloseHandle(h), ERROR_INVALID_HANDLE);
    WIN32_FIND_DATAA fd;
    HANDLE f = FindFirstFileA(dir.win("*").c_str(), &fd);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    EXPECT_FAILS(ReadFile(f, buf, 1, &n, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(FindClose(f));
}

TEST(Files, DeleteErrors) {
    ScratchDir dir;
    dir.write("a.txt", "x");
    std::filesystem::create_directory(dir.host("sub"));
    EXPECT_FAILS(DeleteFileA(dir.win("missing.txt").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_FAILS(DeleteFileA(dir.win("nodir\\a.txt").c_str()), ERROR_PATH_NOT_FOUND);
    EXPECT_FAILS(DeleteFileA(dir.win("sub").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_FAILS(DeleteFileA(dir.win("a*").c_str()), ERROR_INVALID_NAME);
    EXPECT_TRUE(std::filesystem::exists(dir.host("a.txt")));

    SetLastError(1234);
    EXPECT_TRUE(DeleteFileA(dir.win("A.TXT").c_str())); // names match without case
    EXPECT_FALSE(std::filesystem::exists(dir.host("a.txt")));
    EXPECT_FAILS(DeleteFileA(dir.win("a.txt").c_str()), ERROR_FILE_NOT_FOUND);
}

TEST(Files, ReadOnlyFileRefusesWritersAndDelete) {
    ScratchDir dir;
    dir.write("ro.txt", "x");
    namespace fs = std::filesystem;
    fs::permissions(dir.host("ro.txt"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    {
        Handle r(Open(dir.win("ro.txt"), GENERIC_READ, OPEN_EXISTING));
        EXPECT_TRUE(r.valid());
    }
    // Wine leaves this to the host's permission check, which root passes.
    if (!filetest::OnWine()) {
        SetLastError(0);
        Handle w(Open(dir.win("ro.txt"), kReadWrite, OPEN_EXISTING));
        EXPECT_FALSE(w.valid());
        EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_FAILS(DeleteFileA(dir.win("ro.txt").c_str()), ERROR_ACCESS_DENIED);
    fs::permissions(dir.host("ro.txt"), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_TRUE(DeleteFileA(dir.win("ro.txt").c_str()));
}

// What a replacing move refuses, and that a refused move changes nothing.
TEST(Files, MoveFileExReplacesOnlyWhatItMay) {
    ScratchDir dir;
    namespace fs = std::filesystem;
    dir.write("new.txt", "new");
    dir.write("old.txt", "old");
    dir.write("ro.txt", "read-only");
    fs::permissions(dir.host("ro.txt"),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::create_directory(dir.host("sub"));
    const std::string from = dir.win("new.txt");
    struct Case {
        const char* to;
        DWORD flags;
        DWORD error;
    } refused[] = {
        {"old.txt", 0, ERROR_ALREADY_EXISTS},
        {"ro.txt", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"sub", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
        {"nodir\\x.txt", MOVEFILE_REPLACE_EXISTING, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.to);
        // Wine replaces a read-only file; Windows and our layer do not.
        if (filetest::OnWine() && std::string(c.to) == "ro.txt") continue;
        dir.write("new.txt", "new");
        EXPECT_FAILS(MoveFileExA(from.c_str(), dir.win(c.to).c_str(), c.flags), c.error);
        EXPECT_EQ(dir.read("new.txt"), "new");
    }
    EXPECT_EQ(dir.read("old.txt"), "old");
    EXPECT_EQ(dir.read("ro.txt"), "read-only");
    EXPECT_FAILS(MoveFileExA(dir.win("missing.txt").c_str(), dir.win("old.txt").c_str(),
                             MOVEFILE_REPLACE_EXISTING),
                 ERROR_FILE_NOT_FOUND);

    EXPECT_TRUE(MoveFileExA(from.c_str(), dir.win("old.txt").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(dir.read("old.txt"), "new");
    EXPECT_FALSE(fs::exists(dir.host("new.txt")));
    EXPECT_TRUE(MoveFileExA(dir.win("old.txt").c_str(), dir.win("fresh.txt").c_str(), 0));
    EXPECT_EQ(dir.read("fresh.txt"), "new");
    fs::permissions(dir.host("ro.txt"), fs::perms::owner_write, fs::perm_options::add);
}

TEST(Files, TwoHandlesLockingTheSameByte) {
    ScratchDir dir;
    dir.write("lock.bin", "0123456789");
    Handle h1(Open(dir.win("lock.bin"), kReadWrite, OPEN_EXISTING));
    Handle h2(Open(dir.win("lock.bin"), kReadWrite, OPEN_EXISTING));
    ASSERT_TRUE(h1.valid());
    ASSERT_TRUE(h2.valid());

    EXPECT_TRUE(LockFile(h1, 0, 0, 1, 0));
    EXPECT_FAILS(LockFile(h2, 0, 0, 1, 0), ERROR_LOCK_VIOLATION);
    // Windows locks are not taken twice, even by the same handle.
    EXPECT_FAILS(LockFile(h1, 0, 0, 1, 0), ERROR_LOCK_VIOLATION);
    // The next byte is free.
    EXPECT_TRUE(LockFile(h2, 1, 0, 1, 0));

    EXPECT_TRUE(UnlockFile(h1, 0, 0, 1, 0));
    EXPECT_TRUE(LockFile(h2, 0, 0, 1, 0));
    EXPECT_FAILS(LockFile(h1, 0, 0, 2, 0), ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(UnlockFile(h2, 0, 0, 1, 0));
    EXPECT_TRUE(UnlockFile(h2, 1, 0, 1, 0));

    // Closing a handle releases its locks.
    EXPECT_TRUE(LockFile(h1, 5, 0, 3, 0));
    EXPECT_FAILS(LockFile(h2, 7, 0, 1, 0), ERROR_LOCK_VIOLATION);
    h1.reset();
    EXPECT_TRUE(LockFile(h2, 7, 0, 1, 0));
    EXPECT_TRUE(UnlockFile(h2, 7, 0, 1, 0));
}

TEST(Files, UnlockingWhatIsNotLocked) {
    ScratchDir dir;
    dir.write("lock.bin", "0123456789");
    Handle h1(Open(dir.win("lock.bin"), kReadWrite, OPEN_EXISTING));
    Handle h2(Open(dir.win("lock.bin"), kReadWrite, OPEN_EXISTING));
    ASSERT_TRUE(h1.valid());
    ASSERT_TRUE(h2.valid());
    // Windows answers ERROR_NOT_LOCKED (158); Wine 8 answers 33.
    const DWORD not_locked = filetest::OnWine() ? ERROR_LOCK_VIOLATION : ERROR_NOT_LOCKED;
    EXPECT_FAILS(UnlockFile(h1, 0, 0, 1, 0), not_locked);
    ASSERT_TRUE(LockFile(h1, 0, 0, 4, 0));
    // Only the exact range locked, and only by the handle that locked it.
    EXPECT_FAILS(UnlockFile(h2, 0, 0, 4, 0), not_locked);
    EXPECT_FAILS(UnlockFile(h1, 0, 0, 2, 0), not_locked);
    EXPECT_FAILS(UnlockFile(h1, 0, 0, 5, 0), not_locked);
    EXPECT_TRUE(UnlockFile(h1, 0, 0, 4, 0));
    EXPECT_FAILS(UnlockFile(h1, 0, 0, 4, 0), not_locked);
}

TEST(Files, LockRangesWithHighHalves) {
    ScratchDir dir;
    dir.write("lock.bin", "0123456789");
    Handle h1(Open(dir.win("lock.bin"), kReadWrite, OPEN_EXISTING));
    Handle h2(Open(dir.win("lock.bin"), kReadWrite, OPEN_EXISTING));
    Handle ro(Open(dir.win("lock.bin"), GENERIC_READ, OPEN_EXISTING));
    ASSERT_TRUE(h1.valid());
    ASSERT_TRUE(h2.valid());
    ASSERT_TRUE(ro.valid());
    // The locking probe's range: offset 0, length 0xFFFFFFFF.
    ASSERT_TRUE(LockFile(h1, 0, 0, 0xFFFFFFFF, 0));
    EXPECT_FAILS(LockFile(h2, 100, 0, 1, 0), ERROR_LOCK_VIOLATION);
    EXPECT_FAILS(LockFile(ro, 0xFFFFFFFE, 0, 1, 0), ERROR_LOCK_VIOLATION);
    // Beyond it, at 4 GiB and above, and far beyond 2^63.
    EXPECT_TRUE(LockFile(h2, 0xFFFFFFFF, 0, 1, 0));
    EXPECT_TRUE(LockFile(h2, 0, 1, 0xFFFFFFFF, 0));
    EXPECT_TRUE(LockFile(ro, 0, 0x80000000, 2, 0));
    EXPECT_FAILS(LockFile(h1, 1, 0x80000000, 1, 0), ERROR_LOCK_VIOLATION);
    // A range that runs past 2^64 is refused.
    EXPECT_FAILS(LockFile(h1, 0xFFFFFFFF, 0xFFFFFFFF, 2, 0), ERROR_INVALID_PARAMETER);
    EXPECT_FAILS(LockFile(h1, 100, 0, 0xFFFFFFFF, 0xFFFFFFFF), ERROR_INVALID_PARAMETER);

    EXPECT_TRUE(UnlockFile(h1, 0, 0, 0xFFFFFFFF, 0));
    EXPECT_TRUE(LockFile(h2, 100, 0, 1, 0));
    EXPECT_TRUE(UnlockFile(h2, 100, 0, 1, 0));
    EXPECT_TRUE(UnlockFile(h2, 0xFFFFFFFF, 0, 1, 0));
    EXPECT_TRUE(UnlockFile(h2, 0, 1, 0xFFFFFFFF, 0));
    EXPECT_TRUE(UnlockFile(ro, 0, 0x80000000, 2, 0));
}

TEST(Files, ZeroByteLocks) {
    ScratchDir dir;
    dir.write("lock.bin", "0123456789");
    Handle h1(Open(dir.win("lock.bin"), kReadWrite, OPEN_EXISTING));
    Handle h2(Open(dir.win("lock.bin"), kReadWrite, OPEN_EXISTING));
    ASSERT_TRUE(h1.valid());
    ASSERT_TRUE(h2.valid());
    // They block nothing, but one inside another handle's range is refused.
    EXPECT_TRUE(LockFile(h1, 5, 0, 0, 0));
    EXPECT_TRUE(LockFile(h2, 5, 0, 0, 0));
    ASSERT_TRUE(LockFile(h2, 7, 0, 2, 0));
    EXPECT_FAILS(LockFile(h1, 8, 0, 0, 0), ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(UnlockFile(h1, 5, 0, 0, 0));
    EXPECT_TRUE(UnlockFile(h2, 5, 0, 0, 0));
    EXPECT_TRUE(UnlockFile(h2, 7, 0, 2, 0));
    EXPECT_FALSE(UnlockFile(h1, 5, 0, 0, 0));
}

TEST(Files, LocksHoldBetweenProcesses) {
#ifdef _WIN32
    GTEST_SKIP() << "uses fork(); Windows locks between processes are the system's own";
#else
    ScratchDir dir;
    dir.write("lock.bin", "0123456789");
    std::string path = dir.win("lock.bin");
    int to_parent[2], to_child[2];
    ASSERT_EQ(pipe(to_parent), 0);
    ASSERT_EQ(pipe(to_child), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        HANDLE h = Open(path, kReadWrite, OPEN_EXISTING);
        char ok = (h != INVALID_HANDLE_VALUE && LockFile(h, 2, 0, 3, 0)) ? 'y' : 'n';
        (void)!write(to_parent[1], &ok, 1);
        char c;
        (void)!read(to_child[0], &c, 1);
        _exit(0); // the lock goes with the process
    }
    char ok = 0;
    ASSERT_EQ(read(to_parent[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    {
        Handle h(Open(path, kReadWrite, OPEN_EXISTING));
        Handle ro(Open(path, GENERIC_READ, OPEN_EXISTING));
        ASSERT_TRUE(h.valid());
        EXPECT_FAILS(LockFile(h, 4, 0, 1, 0), ERROR_LOCK_VIOLATION);
        EXPECT_FAILS(LockFile(ro, 0, 0, 0xFFFFFFFF, 0), ERROR_LOCK_VIOLATION);
        EXPECT_TRUE(LockFile(h, 5, 0, 1, 0));
        EXPECT_TRUE(UnlockFile(h, 5, 0, 1, 0));
    }
    char go = 'x';
    ASSERT_EQ(write(to_child[1], &go, 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    Handle h(Open(path, kReadWrite, OPEN_EXISTING));
    EXPECT_TRUE(LockFile(h, 4, 0, 1, 0));
    for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]})
        close(fd);
#endif
}

TEST(Files, WriteTimeSetAndReadBack) {
    ScratchDir dir;
    dir.write("t.txt", "x");
    Handle h(Open(dir.win("t.txt"), kReadWrite, OPEN_EXISTING));
    ASSERT_TRUE(h.valid());
    // 2001-02-03 04:05:06.7 UTC and 1999-12-31 23:59:58 UTC.
    SYSTEMTIME st1 = {2001, 2, 0, 3, 4, 5, 6, 700};
    SYSTEMTIME st2 = {1999, 12, 0, 31, 23, 59, 58, 0};
    FILETIME write_time, access_time;
    ASSERT_TRUE(SystemTimeToFileTime(&st1, &write_time));
    ASSERT_TRUE(SystemTimeToFileTime(&st2, &access_time));
    ASSERT_TRUE(SetFileTime(h, nullptr, &access_time, &write_time));
    FILETIME w = {}, a = {};
    ASSERT_TRUE(GetFileTime(h, nullptr, &a, &w));
    EXPECT_EQ(filetest::Ticks(w), filetest::Ticks(write_time));
    EXPECT_EQ(filetest::Ticks(a), filetest::Ticks(access_time));

    // Null pointers leave those times alone.
    SYSTEMTIME st3 = {2010, 6, 0, 15, 12, 0, 0, 0};
    FILETIME later;
    ASSERT_TRUE(SystemTimeToFileTime(&st3, &later));
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &later));
    ASSERT_TRUE(GetFileTime(h, nullptr, &a, &w));
    EXPECT_EQ(filetest::Ticks(w), filetest::Ticks(later));
    EXPECT_EQ(filetest::Ticks(a), filetest::Ticks(access_time));
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, nullptr));
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &w));
    EXPECT_EQ(filetest::Ticks(w), filetest::Ticks(later));
    // Every out-pointer of GetFileTime may be null.
    EXPECT_TRUE(GetFileTime(h, nullptr, nullptr, nullptr));
    FILETIME c = {};
    EXPECT_TRUE(GetFileTime(h, &c, nullptr, nullptr));
    EXPECT_NE(filetest::Ticks(c), 0u);
}

TEST(Files, SetFileTimeNeedsWriteAccess) {
    if (filetest::OnWine())
        GTEST_SKIP() << "Wine 8 lets a read-only handle set file times; Windows refuses with 5";
    ScratchDir dir;
    dir.write("t.txt", "x");
    Handle h(Open(dir.win("t.txt"), GENERIC_READ, OPEN_EXISTING));
    ASSERT_TRUE(h.valid());
    FILETIME w;
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &w));
    EXPECT_FAILS(SetFileTime(h, nullptr, nullptr, &w), ERROR_ACCESS_DENIED);
}

TEST(Files, ShareModesRefuseASecondOpen) {
    if (filetest::OurLayer())
        GTEST_SKIP() << "share modes cannot be enforced on Linux: the POSIX layer accepts "
                        "and ignores them";
    ScratchDir dir;
    dir.write("a.txt", "x");
    {
        Handle h(Open(dir.win("a.txt"), GENERIC_READ, OPEN_EXISTING, 0));
        ASSERT_TRUE(h.valid());
        EXPECT_FAILS_AS(Open(dir.win("a.txt"), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                        ERROR_SHARING_VIOLATION);
        EXPECT_FAILS(DeleteFileA(dir.win("a.txt").c_str()), ERROR_SHARING_VIOLATION);
    }
    {
        // Read sharing lets readers in, not writers.
        Handle h(Open(dir.win("a.txt"), GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ));
        ASSERT_TRUE(h.valid());
        Handle r(Open(dir.win("a.txt"), GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ));
        EXPECT_TRUE(r.valid());
        EXPECT_FAILS_AS(Open(dir.win("a.txt"), kReadWrite, OPEN_EXISTING), INVALID_HANDLE_VALUE,
                        ERROR_SHARING_VIOLATION);
    }
}

TEST(Files, FaultInjectionAndShortTransfers) {
    if (!txplat::FaultsSupported()) GTEST_SKIP() << "the Windows calls are the system's own";
    ScratchDir dir;
    txplat::FaultClear();
    txplat::FaultInject("CreateFileA", ERROR_SHARING_VIOLATION);
    EXPECT_FAILS_AS(Open(dir.win("a.txt"), kReadWrite, CREATE_ALWAYS), INVALID_HANDLE_VALUE,
                    ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(std::filesystem::exists(dir.host("a.txt")));

    Handle h(Open(dir.win("a.txt"), kReadWrite, CREATE_ALWAYS));
    ASSERT_TRUE(h.valid());
    EXPECT_EQ(txplat::CallCount("CreateFileA"), 2);

    txplat::FaultShortTransfer("WriteFile", 3);
    DWORD n = 0;
    EXPECT_TRUE(WriteFile(h, "abcdef", 6, &n, nullptr));
    EXPECT_EQ(n, 3u);
    EXPECT_TRUE(WriteFile(h, "XYZ", 3, &n, nullptr));
    EXPECT_EQ(n, 3u);
    txplat::FaultInject("WriteFile", ERROR_DISK_FULL);
    EXPECT_FAILS(WriteFile(h, "!", 1, &n, nullptr), ERROR_DISK_FULL);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(txplat::CallSizes("WriteFile"), (std::vector<uint32_t>{6, 3}));

    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_BEGIN), 0u);
    txplat::FaultShortTransfer("ReadFile", 2, 1);
    char buf[16];
    EXPECT_TRUE(ReadFile(h, buf, 2, &n, nullptr));
    EXPECT_EQ(n, 2u);
    EXPECT_TRUE(ReadFile(h, buf, 10, &n, nullptr));
    EXPECT_EQ(n, 2u); // the second read is cut
    EXPECT_EQ(std::string(buf, 2), "cX");
    EXPECT_EQ(txplat::CallSizes("ReadFile"), (std::vector<uint32_t>{2, 10}));

    txplat::FaultInject("LockFile", ERROR_LOCK_VIOLATION);
    EXPECT_FAILS(LockFile(h, 0, 0, 1, 0), ERROR_LOCK_VIOLATION);
    EXPECT_TRUE(LockFile(h, 0, 0, 1, 0));
    EXPECT_TRUE(UnlockFile(h, 0, 0, 1, 0));

    txplat::FaultInject("DeleteFileA", ERROR_SHARING_VIOLATION);
    EXPECT_FAILS(DeleteFileA(dir.win("a.txt").c_str()), ERROR_SHARING_VIOLATION);
    txplat::FaultClear();
}

} // namespace
