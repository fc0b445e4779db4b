// Self-extraction.
//
// The embedded library and the container layer under it are not built yet:
// SelfExtract reads nothing and writes nothing, and answers 0. A runtime
// module that would have been extracted must therefore already be beside the
// launcher; otherwise loading it reports it as missing.
#include "library/selfextract.h"

namespace tx {

int SelfExtract(const char*, HINSTANCE) {
    return 0;
}

} // namespace tx
