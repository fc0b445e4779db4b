// The causes of failures in plain words.
//
// The core's last disk error and the Windows calls give Windows error codes
// (the POSIX layer maps its errors onto the same codes); this is where they
// become words.
#pragma once

#include <cstdint>
#include <string>

namespace txlib {

// The words for a Windows error code ("no space left on the device" for
// 112); a code without words of its own reads "system error N". Empty for 0,
// which says no more than that something failed.
std::string WindowsErrorText(uint32_t code);

// The cause of the C library's last failure (errno) in words; a full disk in
// the words above.
std::string ErrnoText();

// "WHAT: CAUSE" for a failure whose cause is the Windows error `code`, or
// just "WHAT" when the code is 0.
std::string WithCause(const std::string& what, uint32_t code);

} // namespace txlib
