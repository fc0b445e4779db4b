// A Windows program's resources as one list, read from its resource
// directory and written back as a new resource section.
//
// The directory is a tree of three levels (type, name, language) whose
// leaves are data entries pointing, by address, at each resource's bytes.
// Read, every resource is copied out whole; written, the tree is laid out
// as the resource compilers lay it: the tables, the data entries, the names,
// then the data, each resource on an 8-byte boundary. A resource's bytes are
// never changed on the way, so the string table keeps every stored length.
#pragma once

#include "host/bytesource.h"
#include "formats/pelayout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace txlib {

constexpr uint32_t kRtIcon = 3;
constexpr uint32_t kRtString = 6;
constexpr uint32_t kRtGroupIcon = 14;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kRtManifest = 24;

// A type or name: a number, or (when `name` is not empty) a text.
struct ResourceName {
    uint32_t id = 0;
    std::u16string name;
};

struct Resource {
    ResourceName type;
    ResourceName name;
    uint32_t language = 0;
    uint32_t codepage = 0;
    std::vector<uint8_t> data;
};

// The order of the directory: texts first, compared without regard to
// ASCII case, then numbers.
bool ResourceBefore(const Resource& a, const Resource& b);

// The resources of a program, in directory order; none when it has no
// resource directory. Damage (a table or a resource outside the section or
// the file, a tree deeper than three levels) throws Failure (status 2).
std::vector<Resource> ReadResources(const ByteSource& bytes, const PeLayout& pe);

// The resource section holding `resources` (any order), for a section at
// address `rva`. Its size is the tree's; the caller aligns it.
std::vector<uint8_t> WriteResourceSection(std::vector<Resource> resources, uint32_t rva);

// "ICON", "VERSION", ... for the standard types, else the number or text.
std::string ResourceTypeText(const ResourceName& type);
std::string ResourceNameText(const ResourceName& name);

// UTF-16 text as UTF-8.
std::string Utf16ToUtf8(const std::u16string& text);

} // namespace txlib
