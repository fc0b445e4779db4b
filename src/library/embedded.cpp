// Finding the library embedded in an executable, and bringing one runtime
// module file up to date from it.
#include "library/embedded.h"
#include "library/scratchdir.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "launcher/modules.h"
#include "support/memory.h"
#include "support/names.h"
#include "vfile/virtual.h"

#include <cstdio>
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
constexpr uint16_t kReadOnlyAttribute = 0x01; // FAT attribute bit

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

// How a module file compares with its member.
constexpr int kDiffers = 0;   // absent, or another size, date or time
constexpr int kUpToDate = 1;  // the member's size, date and time
constexpr int kNoMember = -1; // a file is there, but the member does not open

// Also tells, when asked, whether the file there is read-only.
int CompareWithMember(const char* path, const char* name, int16_t selector,
                      bool* read_only = nullptr) {
    if (read_only != nullptr) *read_only = false;
    if (!DiskIsRegularFile(path)) return kDiffers;
    FindRecord record{};
    const int found = DiskFindFirst(path, &record, 0);
    DiskFindClose(&record);
    if (read_only != nullptr) *read_only = found && (record.attributes & kReadOnlyAttribute) != 0;
    uint32_t size = 0;
    uint16_t date = 0, time = 0;
    if (!MemberStamp(name, selector, &size, &date, &time)) return kNoMember;
    return found && size == record.size && date == PackFatDate(record.when) &&
                   time == PackFatTime(record.when)
               ? kUpToDate
               : kDiffers;
}

void StopCannotReplace(const char* path, int32_t error) {
    char message[kMessageSize];
    wsprintfA(message, kCannotReplace, path, path, static_cast<long>(error));
    StopStartup(message);
}

// A rename refused with a sharing violation (stored as 2) meets a file that
// someone holds for a moment (another start comparing it, a scanner): it is
// tried again this many times, this many milliseconds apart.
constexpr int kReplaceRetries = 5;
constexpr DWORD kReplaceRetryWait = 20;

// Copies the member out into a private directory beside `path`, then gives
// the copy the module's name in one step, so that the module file is always
// absent, whole and old, or whole and new: another start that loads it
// meanwhile never finds it half written. A copy that fails leaves the old
// file. When the new copy cannot take the name, another start may have put
// the module in place first (under Windows a loaded module cannot be
// replaced): if the file is now up to date the start goes on. A rename
// refused with 2 is tried again briefly; if it is still refused, false lets
// the caller delete the module and copy it in place. Any other refusal stops
// the start as when the file cannot be deleted. False, with nothing done,
// when no private directory can be had there.
bool CopyIntoPlace(const char* name, int16_t selector, const char* directory, const char* path,
                   bool read_only) {
    if (std::strlen(path) + kScratchMax > static_cast<size_t>(kModulePathMax)) return false;
    // A read-only module file is not replaced, whatever a rename would be let
    // do (Wine lets it): as its delete is refused, the start stops.
    if (read_only) StopCannotReplace(path, ERROR_ACCESS_DENIED);
    ScratchDirectory scratch;
    if (!MakeScratchDirectory(directory, &scratch)) return false;
    char copy[kModulePathMax + 1];
    const int length = std::snprintf(copy, sizeof copy, "%s\\%s", scratch.path, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof copy) { // room was checked above
        RemoveScratchDirectory(&scratch);
        return false;
    }

    SetLibrarySearch(1);
    const int copied = FileCopy(-1, selector, copy, copy, nullptr);
    SetLibrarySearch(0);
    int replaced = copied && DiskReplace(copy, path);
    int32_t error = DiskLastError();
    for (int retry = 0; copied && !replaced && error == 2 && retry < kReplaceRetries; ++retry) {
        if (CompareWithMember(path, name, selector) == kUpToDate) break;
        Sleep(kReplaceRetryWait);
        replaced = DiskReplace(copy, path);
        error = DiskLastError();
    }
    RemoveScratchDirectory(&scratch);
    if (!copied || replaced) return true;
    if (CompareWithMember(path, name, selector) == kUpToDate) return true;
    if (error != 2) StopCannotReplace(path, error);
    return false;
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
    if (ReservedDeviceName(name)) return false;
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

    bool read_only = false;
    const int state = CompareWithMember(path, name, selector, &read_only);
    if (state == kUpToDate || state == kNoMember) return;
    if (CopyIntoPlace(name, selector, directory, path, read_only)) return;

    // No private directory beside the module: it is replaced where it lies.
    if (!DiskDelete(path) && DiskLastError() != 2) StopCannotReplace(path, DiskLastError());
    SetLibrarySearch(1);
    FileCopy(-1, selector, path, path, nullptr);
    SetLibrarySearch(0);
}

} // namespace tx
