// Last error, error mode, handle count, the kernel handle table and the
// fault-injection hook of the POSIX layer.
#include "internal.h"
#include "platform/fault.h"

#include <cerrno>
#include <map>
#include <string>
#include <unordered_map>

namespace txplat::posix {

namespace {

thread_local DWORD last_error = 0;
UINT error_mode = 0;

std::map<uintptr_t, std::unique_ptr<KernelObject>>& Handles() {
    static std::map<uintptr_t, std::unique_ptr<KernelObject>> table;
    return table;
}

struct Fault {
    uint32_t error = 0;
    int skip = 0;
    int count = 0;      // calls still to fail; -1 for all
    uint32_t limit = 0; // for short transfers
    bool short_transfer = false;
};

struct CallState {
    long calls = 0;
    std::vector<uint32_t> sizes;
    std::vector<unsigned> error_modes;
    std::vector<Fault> faults;
};

std::unordered_map<std::string, CallState>& Calls() {
    static std::unordered_map<std::string, CallState> calls;
    return calls;
}

std::vector<CreateFileCall>& CreateFiles() {
    static std::vector<CreateFileCall> calls;
    return calls;
}

std::vector<MessageBoxRecord>& Boxes() {
    static std::vector<MessageBoxRecord> boxes;
    return boxes;
}

// Takes the fault that applies to this call, if any, consuming one use.
bool TakeFault(CallState& st, bool short_transfer, Fault* taken) {
    for (auto it = st.faults.begin(); it != st.faults.end(); ++it) {
        if (it->short_transfer != short_transfer) continue;
        if (it->skip > 0) {
            --it->skip;
            continue;
        }
        *taken = *it;
        if (it->count > 0 && --it->count == 0) st.faults.erase(it);
        return true;
    }
    return false;
}

} // namespace

DWORD ErrorFromErrno(int e, bool parent_exists) {
    switch (e) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return parent_exists ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EROFS:
        return ERROR_WRITE_PROTECT;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EAGAIN:
        return ERROR_LOCK_VIOLATION;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ETXTBSY:
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case EFAULT:
        return ERROR_NOACCESS;
    case EINTR:
        return ERROR_SIGNAL_PENDING;
    case EPIPE:
        return ERROR_BROKEN_PIPE;
    default:
        return ERROR_GEN_FAILURE;
    }
}

void SetLastErrorFromErrno(bool parent_exists) {
    last_error = ErrorFromErrno(errno, parent_exists);
}

HANDLE HandleInsert(std::unique_ptr<KernelObject> object) {
    auto& table = Handles();
    uintptr_t value = 4;
    for (auto& entry : table) {
        if (entry.first != value) break;
        value += 4;
    }
    table.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

KernelObject* HandleGet(HANDLE handle) {
    auto& table = Handles();
    auto it = table.find(reinterpret_cast<uintptr_t>(handle));
    return it == table.end() ? nullptr : it->second.get();
}

bool HandleRemove(HANDLE handle) {
    return Handles().erase(reinterpret_cast<uintptr_t>(handle)) != 0;
}

bool FaultEnter(const char* call) {
    CallState& st = Calls()[call];
    ++st.calls;
    st.error_modes.push_back(error_mode);
    Fault f;
    if (!TakeFault(st, false, &f)) return false;
    last_error = f.error;
    return true;
}

uint32_t FaultTransferLimit(const char* call, uint32_t asked) {
    CallState& st = Calls()[call];
    st.sizes.push_back(asked);
    Fault f;
    if (!TakeFault(st, true, &f)) return asked;
    return f.limit < asked ? f.limit : asked;
}

void CreateFileRecordAdd(const CreateFileCall& call) {
    CreateFiles().push_back(call);
}

void MessageBoxRecordAdd(bool has_owner, const char* text, const char* caption, unsigned style) {
    Boxes().push_back({has_owner, text ? text : "", caption ? caption : "", style});
}

} // namespace txplat::posix

namespace txplat {

using namespace posix;

bool FaultsSupported() {
    return true;
}

void FaultInject(const char* call, uint32_t error, int skip, int count) {
    Fault f;
    f.error = error;
    f.skip = skip;
    f.count = count;
    Calls()[call].faults.push_back(f);
}

void FaultShortTransfer(const char* call, uint32_t max_bytes, int skip, int count) {
    Fault f;
    f.skip = skip;
    f.count = count;
    f.limit = max_bytes;
    f.short_transfer = true;
    Calls()[call].faults.push_back(f);
}

void FaultClear() {
    Calls().clear();
    CreateFiles().clear();
}

long CallCount(const char* call) {
    auto it = Calls().find(call);
    return it == Calls().end() ? 0 : it->second.calls;
}

std::vector<uint32_t> CallSizes(const char* call) {
    auto it = Calls().find(call);
    return it == Calls().end() ? std::vector<uint32_t>{} : it->second.sizes;
}

std::vector<unsigned> CallErrorModes(const char* call) {
    auto it = Calls().find(call);
    return it == Calls().end() ? std::vector<unsigned>{} : it->second.error_modes;
}

std::vector<CreateFileCall> CreateFileCalls() {
    return CreateFiles();
}

std::vector<MessageBoxRecord> MessageBoxes() {
    return Boxes();
}
void MessageBoxesClear() {
    Boxes().clear();
}

long LiveKernelObjects() {
    return static_cast<long>(Handles().size());
}

} // namespace txplat

using namespace txplat::posix;

extern "C" {

DWORD WINAPI GetLastError(void) {
    return last_error;
}
void WINAPI SetLastError(DWORD code) {
    last_error = code;
}

UINT WINAPI SetErrorMode(UINT mode) {
    UINT previous = error_mode;
    error_mode = mode;
    return previous;
}

// Windows raised the per-process limit of C runtime handles with this; on
// Linux the descriptor limit already covers the launcher's 140 handles.
UINT WINAPI SetHandleCount(UINT number) {
    return number;
}

} // extern "C"
