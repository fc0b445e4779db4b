// Copying one runtime module out of a library into a directory, safely
// against other starts doing the same at once.
#pragma once

#include <cstdint>

namespace tx {

constexpr int kModulePathMax = 260; // characters of a module file's path

// Whether a module name is a plain file name: not empty, no drive, no path
// separator, no wildcard, control or other character a file name cannot
// hold, not ending in a dot or a space (which Windows drops, so that "..",
// "..." or "  " would name the directory or another file), and not a device
// name (CON.DLL, NUL.DLL, COM1.DLL...: see support/names.h).
bool PlainFileName(const char* name);

// Brings directory\name up to date from the member `name` of the library
// `selector`: a file of the member's size, date and time is left alone,
// otherwise the member is copied out with its date and time into a private
// directory beside it (see launcher/scratchdir.h) and then takes the module's
// name in one step, replacing the old file. Several
// starts may do this at once: the module file is always absent, whole and
// old, or whole and new. A copy that fails leaves the old file as it was. A
// file that cannot be replaced (read-only, a directory, or in use under
// Windows) stops the launcher with a message (exit status 0), unless another
// start has meanwhile put the member in place. Where no private directory
// can be made (the directory cannot be written, or the path leaves no room
// for it), or the rename is still refused with 2 (someone holds the file)
// after a few brief retries, the file is deleted and the member copied in its
// place, and a file
// that cannot be deleted for another reason than its absence stops the
// launcher with the same message. A name that is not a plain file name, or a
// path over 260 characters, is not extracted. Leaves library search off, and
// libraries first off when a file on disk was compared.
void ExtractModule(const char* name, int16_t selector, const char* directory);

} // namespace tx
