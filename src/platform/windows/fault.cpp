// Under Windows the Win32 calls are the system's own: nothing can be made to
// fail on request and no call is observed. Tests that need injection ask
// FaultsSupported() and skip.
#include "platform/fault.h"

namespace txplat {

bool FaultsSupported() {
    return false;
}
void FaultInject(const char*, uint32_t, int, int) {}
void FaultShortTransfer(const char*, uint32_t, int, int) {}
void FaultClear() {}
long CallCount(const char*) {
    return 0;
}
std::vector<uint32_t> CallSizes(const char*) {
    return {};
}
std::vector<unsigned> CallErrorModes(const char*) {
    return {};
}
std::vector<CreateFileCall> CreateFileCalls() {
    return {};
}
std::vector<MessageBoxRecord> MessageBoxes() {
    return {};
}
void MessageBoxesClear() {}
long LiveKernelObjects() {
    return -1;
}
long LiveGlobalBlocks() {
    return -1;
}

} // namespace txplat
