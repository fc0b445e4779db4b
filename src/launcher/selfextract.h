// Self-extraction: copying the runtime modules named by the extraction flags
// out of the library embedded in the launcher's own file (see
// library/embedded.h for how it is found).
#pragma once

#include "platform/win32.h"

namespace tx {

// Extracts the modules whose flag (one character per runtime module list
// position) is 'O'; a flags text beginning with ">G" means none. Answers 1
// when the embedded library was found and opened, else 0; start-up does not
// examine it.
int SelfExtract(const char* flags, HINSTANCE instance);

} // namespace tx
