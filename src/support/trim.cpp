// Trimming of spaces in place. Only the space character counts as blank:
// tabs and other control characters are part of the text.
#include "support/trim.h"

#include <cstring>

namespace tx {

void TrimLeft(char* text) {
    if (!text || text[0] != ' ') return;
    size_t skip = std::strspn(text, " ");
    std::memmove(text, text + skip, std::strlen(text + skip) + 1);
}

char* TrimRight(char* text) {
    if (!text) return nullptr;
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ')
        --length;
    text[length] = 0;
    return text;
}

void TrimBoth(char* text) {
    TrimLeft(TrimRight(text));
}

} // namespace tx
