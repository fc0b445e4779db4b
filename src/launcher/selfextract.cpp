// Self-extraction: before the main runtime module is loaded, the modules that
// the extraction flags name are copied out of the library embedded in the
// launcher's own file, into the launcher's directory or, when WIN.INI says
// LOCAL other than N in section EXETORVIX, into the Windows directory.
#include "launcher/selfextract.h"
#include "launcher/extractmodule.h"
#include "launcher/modules.h"
#include "launcher/scratchdir.h"

#include "diskfile/diskfile.h"
#include "library/embedded.h"
#include "library/libtable.h"

#include <cstring>

namespace tx {

namespace {

constexpr int kFlagPositions = 8;
constexpr char kExtractFlag = 'O';
constexpr int kOwnPathSize = kModulePathMax + 1;

// Where the modules go: the launcher's directory, or the Windows directory.
// False when neither can be had whole.
bool TargetDirectory(const char* own_path, char* directory) {
    char local[3];
    GetProfileStringA("EXETORVIX", "LOCAL", "N", local, sizeof local);
    if (local[0] == 'N' || local[0] == 'n') {
        const char* slash = std::strrchr(own_path, '\\');
        if (slash == nullptr) return false;
        const size_t length = static_cast<size_t>(slash - own_path);
        std::memcpy(directory, own_path, length);
        directory[length] = 0;
        return true;
    }
    const UINT length = GetWindowsDirectoryA(directory, kOwnPathSize);
    return length > 0 && length < static_cast<UINT>(kOwnPathSize);
}
} // namespace

int SelfExtract(const char* flags, HINSTANCE instance) {
    if (flags[0] == '>' && (flags[1] == 'G' || flags[1] == 'g')) return 0;
    if (std::strchr(flags, kExtractFlag) == nullptr) return 0;

    // A path the system had to cut is not the launcher's.
    char own_path[kOwnPathSize];
    const DWORD length = GetModuleFileNameA(instance, own_path, kOwnPathSize);
    if (length == 0 || length >= static_cast<DWORD>(kOwnPathSize)) return 0;
    own_path[length] = 0;

    char directory[kOwnPathSize];
    if (!TargetDirectory(own_path, directory)) return 0;
    // Starts killed while they copied a module leave their private folders.
    ClearAbandonedScratch(directory);

    // No library where the offset is 0 or was not found; the file itself is
    // never taken for the container.
    const int32_t base = EmbeddedLibraryOffset(own_path);
    if (base <= 0) return 0;
    // A running program cannot be opened for writing, so the library is
    // opened for reading only; with sharing on, other starts of the same
    // program can still read their own file meanwhile.
    int16_t selector = -1;
    const int shared = DiskSetSharedOpen(1);
    const int opened = LibraryOpenApplication(own_path, &selector, base);
    DiskSetSharedOpen(shared);
    if (opened != 0) return 0;

    const size_t count = std::strlen(flags);
    for (int position = 0; position < kFlagPositions && static_cast<size_t>(position) < count;
         ++position) {
        if (flags[position] == kExtractFlag)
            ExtractModule(ModuleNameByIndex(ModuleIndexOfPosition(position)), selector, directory);
    }
    LibraryClose(selector);
    return 1;
}

} // namespace tx
