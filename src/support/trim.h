// Trimming of spaces (character 32 only), in place.
#pragma once

namespace tx {

// Moves the text after its leading spaces to the front. Null is left alone.
void TrimLeft(char* text);

// Cuts the text after its last non-space character; answers the text (null
// for null).
char* TrimRight(char* text);

// TrimRight, then TrimLeft.
void TrimBoth(char* text);

} // namespace tx
