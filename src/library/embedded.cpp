// Finding the library embedded in an executable.
#include "library/embedded.h"

#include "support/memory.h"
#include "support/names.h"
#include "vfile/virtual.h"

#ifndef _WIN32
// The native launcher's stand-in for the .rsrc section header: a 40-byte
// record named ".rsrc" whose 32 bits at offset 28 the library tool sets to the
// embedded library's offset (0: none). It is an allocated ELF note (section
// .note.txlib, owner "TXL", type "TXBL"), which the linker places among the
// notes right after the program headers, inside the bytes the scan reads.
__asm__(".pushsection .note.txlib,\"a\",@note\n"
        ".balign 4\n"
        ".long 4\n"
        ".long 40\n"
        ".long 0x4C425854\n"
        ".asciz \"TXL\"\n"
        ".ascii \".rsrc\"\n"
        ".fill 35,1,0\n"
        ".popsection\n");
#endif

namespace tx {

namespace {

constexpr uint16_t kSignatureBytes = 64;

// The image signatures a launcher's own file may begin with.
bool ExecutableSignature(const uint8_t* bytes) {
    if (bytes[0] == 'M' && bytes[1] == 'Z') return true;
#ifndef _WIN32
    if (bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F') return true;
#endif
    return false;
}

uint32_t Field32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

} // namespace

int32_t FindSectionHeader(const uint8_t* buffer, size_t length) {
    static const char kName[] = ".RSRC";
    constexpr size_t kNameLength = sizeof kName - 1;
    for (size_t at = 0; at < length; ++at) {
        if (buffer[at] != '.') continue;
        size_t i = 1;
        while (i < kNameLength && at + i < length &&
               UpperAscii(static_cast<char>(buffer[at + i])) == kName[i])
            ++i;
        if (i == kNameLength && (at + i == length || buffer[at + i] == 0))
            return static_cast<int32_t>(at);
    }
    return -1;
}

int32_t EmbeddedLibraryOffset(const char* path) {
    // The launcher's own file is meant, not a member of an open library that
    // happens to have its name.
    const int16_t search = SetLibrarySearch(0);
    int16_t handle = -1;
    const int opened = FileOpenRead(path, &handle, -1);
    SetLibrarySearch(search);
    if (!opened) return kEmbeddedNoFile;

    int32_t result = 0;
    uint8_t signature[kSignatureBytes];
    if (!FileReadExact(handle, signature, kSignatureBytes)) {
        result = kEmbeddedNoHeader;
    } else if (!ExecutableSignature(signature)) {
        result = kEmbeddedNotImage;
    } else {
        // A header that begins in the scanned bytes is read whole, so that
        // its field is never taken from beyond what was read. A shorter file
        // leaves the rest zero.
        constexpr size_t kRead = kHeaderScanBytes + kSectionHeaderSize;
        auto* bytes = static_cast<uint8_t*>(BlockAlloc(static_cast<uint16_t>(kRead + 1)));
        if (bytes != nullptr) {
            if (FileSeekExact(handle, 0)) {
                FileRead(handle, bytes, static_cast<uint16_t>(kRead));
                const int32_t at = FindSectionHeader(bytes, kHeaderScanBytes);
                if (at >= 0)
                    result = static_cast<int32_t>(Field32(bytes + at + kEmbeddedOffsetField));
            }
            BlockFree(bytes);
        }
    }
    FileClose(handle);
    return result;
}

} // namespace tx
