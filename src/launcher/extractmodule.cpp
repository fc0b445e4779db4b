// Bringing one runtime module file up to date from its member in a library:
// compared by size, date and time, copied into a private folder beside it and
// then given the module's name in one step.
#include "launcher/extractmodule.h"
#include "launcher/modules.h"
#include "launcher/scratchdir.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "support/names.h"
#include "vfile/virtual.h"

#include <cstdio>
#include <cstring>

namespace tx {

namespace {

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
