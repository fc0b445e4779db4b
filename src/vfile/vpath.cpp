// Path handling of the virtual file layer: the split into drive, directory,
// name and extension, the member prefix, and bounded copies.
#include "vfile/virtual.h"

#include <cstdio>
#include <cstring>

namespace tx {

char* CopyBounded(char* destination, const char* source, uint16_t count) {
    uint16_t i = 0;
    for (; i < count && source[i] != 0; ++i)
        destination[i] = source[i];
    for (; i <= count; ++i)
        destination[i] = 0;
    return destination;
}

int StripMemberPrefix(char* path) {
    if (path[0] != '|') return 0;
    std::memmove(path, path + 1, std::strlen(path));
    return 1;
}

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Stores the first `length` characters of `text` in the drive buffer, or
// fails when they would not fit it.
bool SetDrive(char* drive, const char* text, size_t length) {
    if (length >= static_cast<size_t>(kDriveBufSize)) return false;
    std::memcpy(drive, text, length);
    drive[length] = 0;
    return true;
}

} // namespace

int SplitPath(const char* path, char* drive, char* directory, char* name, char* extension) {
    drive[0] = directory[0] = name[0] = extension[0] = 0;
    char copy[kPathMax + 1];
    CopyBounded(copy, path, kPathMax);

    // The extension is searched over the whole text, across separators.
    size_t end = std::strlen(copy);
    for (size_t i = end; i-- > 0;) {
        if (copy[i] == '.') {
            std::strcpy(extension, copy + i);
            copy[i] = 0;
            end = i;
            break;
        }
    }

    size_t separator = end;
    for (size_t i = end; i-- > 0;) {
        if (IsSeparator(copy[i])) {
            separator = i;
            break;
        }
    }
    if (separator == end) {
        std::strcpy(name, copy);
        return 1;
    }
    std::strcpy(name, copy + separator + 1);
    copy[separator] = '\\';
    copy[separator + 1] = 0;

    for (size_t i = separator; i-- > 0;) {
        if (copy[i] == ':') {
            if (!SetDrive(drive, copy, i + 1)) {
                name[0] = extension[0] = 0;
                return 0;
            }
            std::strcpy(directory, copy + i + 1);
            return 1;
        }
    }

    if (copy[0] == '\\' && copy[1] == '\\') {
        size_t k = 2;
        while (copy[k] != 0 && !IsSeparator(copy[k]))
            ++k;
        if (copy[k] == 0) {
            std::strcpy(directory, copy);
            return 1;
        }
        // The server name goes to the drive buffer, which it must fit.
        if (!SetDrive(drive, copy, k)) {
            name[0] = extension[0] = 0;
            return 0;
        }
        directory[0] = '\\';
        std::strcpy(directory + 1, copy + k + 1);
        return 1;
    }

    std::strcpy(directory, copy);
    return 1;
}

int PathFileName(const char* path, char* out) {
    char drive[kDriveBufSize], directory[kPathMax + 1], name[kPathMax + 1], extension[kPathMax + 1];
    if (!SplitPath(path[0] == '|' ? path + 1 : path, drive, directory, name, extension)) return 0;
    char joined[2 * kPathMax + 2];
    std::snprintf(joined, sizeof joined, "%s%s", name, extension);
    CopyBounded(out, joined, kPathMax);
    return 1;
}

void MemberPathOf(char* out, const char* path, int16_t max_length) {
    char copy[kPathMax + 1];
    CopyBounded(copy, path, kPathMax);
    const char* text = copy[0] == '|' ? copy + 1 : copy;
    const char* slash = std::strrchr(text, '\\');
    if (slash != nullptr) text = slash + 1;
    char member[kPathMax + 2];
    member[0] = '|';
    std::strcpy(member + 1, text);
    CopyBounded(out, member, static_cast<uint16_t>(max_length < 0 ? 0 : max_length));
}

} // namespace tx
