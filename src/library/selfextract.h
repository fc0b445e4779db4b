// Self-extraction: copying the runtime modules named by the extraction flags
// out of the library embedded in the launcher's own file.
#pragma once

#include "platform/win32.h"

namespace tx {

// Extracts the modules whose flag (one character per runtime module list
// position) is 'O'; a flags text beginning with ">G" means none. The result
// is not examined by start-up.
int SelfExtract(const char* flags, HINSTANCE instance);

} // namespace tx
