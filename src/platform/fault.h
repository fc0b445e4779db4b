// Fault injection and call observation for tests.
//
// The POSIX layer can make a named Win32 call fail with a chosen error code,
// or move fewer bytes than asked (ReadFile, WriteFile), and counts and
// records the calls it receives, so that tests can run failure paths that a
// real system rarely produces and see arguments that leave no other trace
// (share modes, which Linux cannot enforce, and the error mode). Under Windows the calls are the
// system's own and cannot be intercepted: FaultsSupported() answers false there, and the tests that
// need injection skip with that reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace txplat {

// True where the platform layer is ours (not on Windows).
bool FaultsSupported();

// The next `count` calls of `call` (after `skip` calls that behave normally)
// fail: they return the call's failure value and set the last error to
// `error`. A count of -1 makes every later call fail.
void FaultInject(const char* call, uint32_t error, int skip = 0, int count = 1);

// The next `count` calls of ReadFile or WriteFile (after `skip`) succeed but
// move at most `max_bytes` bytes.
void FaultShortTransfer(const char* call, uint32_t max_bytes, int skip = 0, int count = 1);

// Forgets every pending fault, the call counts and the recorded sizes.
void FaultClear();

// How many times `call` was entered since the last FaultClear.
long CallCount(const char* call);

// The byte counts asked of ReadFile or WriteFile since the last FaultClear.
std::vector<uint32_t> CallSizes(const char* call);

// The error mode (SetErrorMode) in force at each call of `call` since the
// last FaultClear, in call order.
std::vector<unsigned> CallErrorModes(const char* call);

// How one CreateFileA call asked for its file.
struct CreateFileCall {
    uint32_t access;
    uint32_t share;
    uint32_t disposition;
    uint32_t flags; // flags and attributes
};

// The CreateFileA calls since the last FaultClear, in call order (POSIX layer
// only; empty on Windows).
std::vector<CreateFileCall> CreateFileCalls();

// One message box as MessageBoxA received it.
struct MessageBoxRecord {
    bool has_owner;
    std::string text;
    std::string caption;
    unsigned style;
};

// The message boxes shown since the last MessageBoxesClear (POSIX layer only;
// empty on Windows).
std::vector<MessageBoxRecord> MessageBoxes();
void MessageBoxesClear();

// The kernel objects (open files, searches, loaded modules) and the global
// memory blocks alive in the POSIX layer, so that a test can tell that a piece
// of work gave back everything it took; -1 on Windows, where they are not
// counted.
long LiveKernelObjects();
long LiveGlobalBlocks();

} // namespace txplat
