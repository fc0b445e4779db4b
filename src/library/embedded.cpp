// Finding the library embedded in an executable, and bringing one runtime
// module file up to date from it.
#include "library/embedded.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "launcher/modules.h"
#include "support/memory.h"
#include "vfile/virtual.h"

#include <cstring>

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

// The message of a module file that cannot be replaced: the path twice, then
// the system's error number.
constexpr char kCannotReplace[] =
    "%s est en cours d'utilisation, ou vous n'avez pas les droits pour recr\xE9"
    "er ce fichier\nProgramme arr\xEA"
    "t\xE9"
    "!\n\n\n%s is in processing or you do not have right to create this file\nProgram "
    "halted\n%ld\n";

// Room for that message with the longest path an extraction accepts and the
// longest number, within what wsprintfA formats (1024 characters).
constexpr size_t kMessageSize = 1024;
static_assert(sizeof kCannotReplace - 1 - 3 * 2 - 1 + 2 * kModulePathMax + 11 < kMessageSize);

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

// Reads the size and FAT date and time of the member `name` of the library,
// looked for in the search list first. 0 when it cannot be opened.
int MemberStamp(const char* name, int16_t selector, uint32_t* size, uint16_t* date,
                uint16_t* time) {
    char member[kModulePathMax + 2];
    member[0] = '|';
    CopyBounded(member + 1, name, kModulePathMax);
    SetLibrarySearch(1);
    SetLibrariesFirst(1);
    int16_t handle = -1;
    const int opened = FileOpen(member, &handle, selector);
    if (opened) {
        FileGetDateTime(handle, date, time);
        FileGetSize(handle, size);
        FileClose(handle);
    }
    SetLibrariesFirst(0);
    SetLibrarySearch(0);
    return opened;
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

bool PlainFileName(const char* name) {
    if (name == nullptr || name[0] == 0) return false;
    if (std::strpbrk(name, "\\/:*?\"<>|") != nullptr) return false;
    for (const char* c = name; *c != 0; ++c)
        if (static_cast<unsigned char>(*c) < 0x20) return false;
    // Windows drops trailing dots and spaces from a name, so such a name
    // would be another file, or the directory itself ("...", "  ").
    const char last = name[std::strlen(name) - 1];
    return last != '.' && last != ' ';
}

void ExtractModule(const char* name, int16_t selector, const char* directory) {
    if (!PlainFileName(name)) return;
    // A path that does not fit whole is not extracted: cut, it would name
    // another file.
    const size_t directory_length = std::strlen(directory);
    const size_t name_length = std::strlen(name);
    if (directory_length + 1 + name_length > static_cast<size_t>(kModulePathMax)) return;
    char path[kModulePathMax + 1];
    std::memcpy(path, directory, directory_length);
    path[directory_length] = '\\';
    std::memcpy(path + directory_length + 1, name, name_length + 1);

    if (DiskIsRegularFile(path)) {
        FindRecord record{};
        const int found = DiskFindFirst(path, &record, 0);
        DiskFindClose(&record);
        uint32_t size = 0;
        uint16_t date = 0, time = 0;
        if (!MemberStamp(name, selector, &size, &date, &time)) return; // left alone
        if (found && size == record.size && date == PackFatDate(record.when) &&
            time == PackFatTime(record.when))
            return;
    }

    if (!DiskDelete(path) && DiskLastError() != 2) {
        char message[kMessageSize];
        wsprintfA(message, kCannotReplace, path, path, static_cast<long>(DiskLastError()));
        StopStartup(message);
    }

    SetLibrarySearch(1);
    FileCopy(-1, selector, path, path, nullptr);
    SetLibrarySearch(0);
}

} // namespace tx
