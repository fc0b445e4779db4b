// On Linux the terminal takes txlib's bytes as they are: the text is already
// UTF-8 (see text.h).
#include "host/console.h"

namespace txlib {

void TextToConsole() {}

} // namespace txlib
