// The command channel to the runtime: a command is formatted, written into the
// 256-byte command block and handed to "TXCALLC"; the reply record that the
// runtime leaves in the same block is decoded into the last reply. The
// runtime is loaded and initialised lazily, by the first command that finds
// it not initialised. All storage is static; nothing is allocated per command.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace tx {

// The last reply: the reply code (3 characters) and the value text (at most
// 207 characters). Each keeps its contents until a reply carries it anew.
inline constexpr size_t kValueTextMax = 207;
const char* LastReplyCode();
const char* LastReplyValue();
void ClearReplyCode();
// Empties both fields, as a successful initialisation does.
void ResetLastReply();

// The command block handed to the runtime's three entry points.
unsigned char* CommandBlock();

// Formats one command into `out` (kCommandMax + 1 bytes). Answers the length
// of the whole command; a result above kCommandMax means the command does not
// fit, and `out` then holds only its beginning.
int FormatCommand(char* out, const char* format, va_list args);

// Updates the last reply from the reply record in `block` (256 bytes): flag
// 0x80 brings the reply code; flag 0x10 the value text, which for value type 8
// is the text after the number text. A declared value is taken up to 207
// characters and never beyond the end of the block.
void DecodeReply(const unsigned char* block);

// Formats and sends one command (printf conventions). A command longer than
// 255 characters is not sent: start-up stops with a message (see
// StopTextTooLong), since cutting it would send a different command. While
// the runtime refuses initialisation the command is dropped silently. Answers
// 0; the outcome is read from the last reply.
__attribute__((format(printf, 1, 2))) int SendCommand(const char* format, ...);

} // namespace tx
