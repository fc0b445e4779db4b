// The console as txlib's text reaches it.
//
// txlib's texts are Windows-1252 bytes written through the C library. A
// Windows console shows bytes in its own code page (often 437 or 850, not
// 1252), so names with accents would show wrong; there the text is handed to
// the console as UTF-16 instead (WriteConsoleW), which shows it right
// whatever the code page. What goes to a file or a pipe is left as it is:
// Windows-1252 text on Windows, UTF-8 on Linux, where the terminal takes the
// bytes as they are.
#pragma once

namespace txlib {

// Called first thing in main: from then on, what the program writes to its
// standard output and error reaches a console through the wide console call.
// Does nothing for outputs that are not consoles, and on Linux.
void TextToConsole();

} // namespace txlib
