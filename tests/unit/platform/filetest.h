// Helpers of the file, search, time and C runtime tests of the platform layer.
#pragma once

#include "platform/win32.h"

#include <gtest/gtest.h>
#include <string>

// EXPECT_FAILS(call, code): clears the last error, makes a call that returns
// a BOOL and expects it to fail with code as the last error.
// EXPECT_FAILS_AS(call, result, code): the same for a call whose failure is
// the value result. Macros, so that a failure names the line of the check.
#define FILETEST_FAILS_(check, call, code)                                                         \
    do {                                                                                           \
        SetLastError(0);                                                                           \
        check;                                                                                     \
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(code)) << "after " #call;                     \
    } while (0)
#define EXPECT_FAILS(call, code) FILETEST_FAILS_(EXPECT_FALSE(call), call, code)
#define EXPECT_FAILS_AS(call, result, code) FILETEST_FAILS_(EXPECT_EQ(call, result), call, code)

namespace filetest {

// True when the Windows build runs under Wine (whose ntdll exports
// wine_get_version); false on real Windows and natively.
inline bool OnWine() {
#ifdef _WIN32
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// True where the Win32 calls are the POSIX layer's.
inline bool OurLayer() {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
}

inline HANDLE Open(const std::string& path, DWORD access, DWORD disposition,
                   DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, 0, nullptr);
}

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;

// A handle closed at the end of its scope.
class Handle {
  public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    operator HANDLE() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (valid()) CloseHandle(h_);
        h_ = h;
    }

  private:
    HANDLE h_;
};

inline uint64_t Ticks(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline FILETIME MakeFileTime(uint64_t ticks) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

} // namespace filetest
