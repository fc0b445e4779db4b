// The error state: the process-wide last error number, and the reports that
// show a numbered message in a "RUNTIME Erreur" box. The message template of
// a number is the string-table entry with that id: a severity digit, then a
// wvsprintfA format; severity 2 ends the process with status 2. A number
// without a template is shown as "Error %d".
#pragma once

#include <cstdarg>
#include <cstdint>

namespace tx {

// Sets the last error number to 0, finds the module that holds the message
// templates (the launcher's own, by file name) and takes the two buffers.
// Without them (before ErrorInit, after ErrorTerm, or when memory ran out)
// the reports use static buffers of the same sizes.
void ErrorInit(const char* own_file_name);

// Releases the two buffers.
void ErrorTerm();

// The last error number recorded by a Set or Raise call (0 after ErrorInit).
int16_t ErrorLastNumber();

// Record the number only; answer 0 and -1.
int SetErrorNumber(int16_t number);
int16_t SetErrorNumberShort(int16_t number);

// Record the number and show its message; answer 0, null and -1. The
// arguments are those of the number's message template. The number is a
// 16-bit error number; it is taken as an int because the last parameter
// before "..." must be one that is not promoted, for va_start to be defined.
int RaiseErrorInt(int number, ...);
void* RaiseErrorPtr(int number, ...);
int16_t RaiseErrorShort(int number, ...);

// The text of the message shown by the last Raise call ("" before any), for
// tests that cannot see the message box itself.
const char* ErrorMessageText();

// The core of the Raise family: records, shows, ends the process for a
// fatal template, and answers the message box's result.
int RaiseError(int16_t number, va_list args);

} // namespace tx
