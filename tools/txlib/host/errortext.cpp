#include "host/errortext.h"
#include "host/systemfiles.h"

#include <cerrno>
#include <cstring>

namespace txlib {

std::string WindowsErrorText(uint32_t code) {
    switch (code) {
    case 0:
        return "";
    case 1:
        return "the system does not offer that operation";
    case 2:
        return "no such file";
    case 3:
        return "no such folder";
    case 4:
        return "too many files are open";
    case 5:
        return "permission denied";
    case 6:
        return "the file is not open";
    case 8:
    case 14:
        return "out of memory";
    case 13:
        return "the data is not valid";
    case 15:
        return "no such drive";
    case 17:
        return "it cannot be moved to another drive";
    case 19:
        return "the device is write-protected";
    case 21:
        return "the device is not ready";
    case 23:
        return "the device cannot read the data (CRC error)";
    case 25:
        return "the device cannot find the place asked for";
    case 29:
        return "the device cannot be written";
    case 30:
        return "the device cannot be read";
    case 31:
        return "the device does not work";
    case 32:
        return "another program has it open";
    case 33:
        return "another program has locked part of it";
    case 38:
        return "the file ends too soon";
    case 39:
    case 112:
        return "no space left on the device";
    case 53:
    case 67:
        return "no such network path";
    case 59:
    case 64:
        return "the network connection failed";
    case 50:
        return "the device or file system does not support it";
    case 80:
    case 183:
        return "it exists already";
    case 87:
        return "the system refused the request as invalid";
    case 109:
        return "the pipe has been ended";
    case 110:
        return "the system cannot open it";
    case 123:
    case 161:
        return "the name is not valid";
    case 131:
        return "a position before the start of the file";
    case 145:
        return "the folder is not empty";
    case 162:
    case 995:
        return "the operation was interrupted";
    case 206:
        return "the name or the path is too long";
    case 267:
        return "it is not a folder";
    case 998:
        return "invalid memory access";
    case 1117:
        return "an input or output error on the device";
    case 1224:
        return "another program has it mapped into memory";
    case 1392:
        return "the file is damaged and cannot be read";
    default:
        return "system error " + std::to_string(code);
    }
}

std::string ErrnoText() {
    const int error = errno;
    if (QuotaReached(error)) return "no space left on the device (disk quota reached)";
    if (error == ENOSPC) return WindowsErrorText(112);
    return std::strerror(error);
}

std::string WithCause(const std::string& what, uint32_t code) {
    return code == 0 ? what : what + ": " + WindowsErrorText(code);
}

} // namespace txlib
