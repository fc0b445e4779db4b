// How the library tool reports a failure: the exit status, the file it
// concerns (may be empty) and one line saying what went wrong. Commands throw
// it; the frame prints "txlib: FILE: message" and exits with the status.
#pragma once

#include <string>

namespace txlib {

constexpr int kExitUsage = 1;  // the command line is wrong
constexpr int kExitFailed = 2; // the work could not be done: bad input, refused value, I/O

struct Failure {
    int status;
    std::string file;
    std::string message;
};

[[noreturn]] inline void Fail(const std::string& file, const std::string& message,
                              int status = kExitFailed) {
    throw Failure{status, file, message};
}

} // namespace txlib
