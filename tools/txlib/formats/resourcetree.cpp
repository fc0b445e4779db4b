#include "formats/resourcetree.h"

#include "host/failure.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace txlib {

namespace {

constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr uint32_t kNamedEntry = 0x80000000u;
// More resources than any program carries: a directory claiming more is
// damaged (or built to make the reader run out of memory).
constexpr size_t kMaxResources = 65536;

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

// <0, 0, >0 as `a` comes before, with or after `b`.
int Compare(const ResourceName& a, const ResourceName& b) {
    const bool an = !a.name.empty(), bn = !b.name.empty();
    if (an != bn) return an ? -1 : 1;
    if (!an) return a.id < b.id ? -1 : a.id > b.id ? 1 : 0;
    const size_t n = std::min(a.name.size(), b.name.size());
    for (size_t i = 0; i < n; ++i)
        if (Upper(a.name[i]) != Upper(b.name[i]))
            return Upper(a.name[i]) < Upper(b.name[i]) ? -1 : 1;
    return a.name.size() < b.name.size() ? -1 : a.name.size() > b.name.size() ? 1 : 0;
}

bool SameName(const ResourceName& a, const ResourceName& b) {
    return Compare(a, b) == 0;
}

class TreeReader {
  public:
    TreeReader(const ByteSource& bytes, const PeLayout& pe, uint64_t base, uint64_t size)
        : bytes_(bytes), pe_(pe), base_(base), size_(size) {}

    void Table(uint32_t at, int level, Resource* path, std::vector<Resource>* out) {
        Need(at, 16);
        const uint32_t named = ReadU16(bytes_, base_ + at + 12);
        const uint32_t ids = ReadU16(bytes_, base_ + at + 14);
        Need(at + 16, 8ull * (named + ids));
        for (uint32_t i = 0; i < named + ids; ++i) {
            // Tables shared between entries are read once per entry: the
            // count bounds the work a directory built in loops can cause.
            if (++visited_ > 4 * kMaxResources)
                Damaged("its resource directory holds too many entries");
            const uint64_t entry = base_ + at + 16 + 8ull * i;
            const uint32_t key = ReadU32(bytes_, entry);
            const uint32_t target = ReadU32(bytes_, entry + 4);
            ResourceName name;
            if (key & kNamedEntry)
                name.name = Text(key & ~kNamedEntry);
            else
                name.id = key;
            const bool table = (target & kSubdirectory) != 0;
            if (table != (level < 2)) Damaged("its resource directory is not three levels deep");
            if (level == 0) path->type = name;
            if (level == 1) path->name = name;
            if (level < 2) {
                Table(target & ~kSubdirectory, level + 1, path, out);
                continue;
            }
            if (name.id > 0xFFFF || !name.name.empty())
                Damaged("a resource language is not a number");
            path->language = name.id;
            Leaf(target, path, out);
        }
    }

  private:
    [[noreturn]] void Damaged(const std::string& what) const {
        Fail(bytes_.Name(), "damaged: " + what);
    }
    void Need(uint64_t offset, uint64_t count) const {
        if (offset > size_ || count > size_ - offset)
            Damaged("its resource directory runs past its section");
    }
    std::u16string Text(uint32_t at) const {
        Need(at, 2);
        const uint16_t length = ReadU16(bytes_, base_ + at);
        Need(at + 2, 2ull * length);
        std::u16string text(length, u'\0');
        for (uint16_t i = 0; i < length; ++i)
            text[i] = static_cast<char16_t>(ReadU16(bytes_, base_ + at + 2 + 2ull * i));
        if (text.empty()) Damaged("a resource has an empty name");
        return text;
    }
    void Leaf(uint32_t at, Resource* path, std::vector<Resource>* out) {
        Need(at, 16);
        if (out->size() >= kMaxResources) Damaged("its resource directory holds too many entries");
        const uint32_t rva = ReadU32(bytes_, base_ + at);
        const uint32_t size = ReadU32(bytes_, base_ + at + 4);
        path->codepage = ReadU32(bytes_, base_ + at + 8);
        uint64_t offset = 0, room = 0;
        if (size > 0 && (!PeRvaToOffset(pe_, rva, &offset, &room) || size > room ||
                         offset + size > bytes_.Size()))
            Damaged("a resource lies outside the file");
        path->data.resize(size);
        if (size > 0) bytes_.Read(offset, path->data.data(), size);
        out->push_back(*path);
        path->data.clear();
    }

    const ByteSource& bytes_;
    const PeLayout& pe_;
    uint64_t base_, size_;
    size_t visited_ = 0;
};

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

size_t Align(size_t value, size_t to) {
    return (value + to - 1) / to * to;
}

} // namespace

bool ResourceBefore(const Resource& a, const Resource& b) {
    const int type = Compare(a.type, b.type);
    if (type != 0) return type < 0;
    const int name = Compare(a.name, b.name);
    if (name != 0) return name < 0;
    return a.language < b.language;
}

std::vector<Resource> ReadResources(const ByteSource& bytes, const PeLayout& pe) {
    std::vector<Resource> out;
    const auto entry = pe.Directory(kResourceDirectory);
    if (!entry) return out;
    const uint32_t rva = ReadU32(bytes, *entry);
    if (rva == 0) return out;
    uint64_t base = 0, room = 0;
    if (!PeRvaToOffset(pe, rva, &base, &room) || base + room > bytes.Size())
        Fail(bytes.Name(), "damaged: its resource directory lies outside the file");
    TreeReader reader(bytes, pe, base, room);
    Resource path;
    reader.Table(0, 0, &path, &out);
    std::stable_sort(out.begin(), out.end(), ResourceBefore);
    return out;
}

std::vector<uint8_t> WriteResourceSection(std::vector<Resource> resources, uint32_t rva) {
    std::stable_sort(resources.begin(), resources.end(), ResourceBefore);
    // The tables: the root's entries are the types, a type's the names, a
    // name's the languages.
    struct Table {
        std::vector<std::pair<ResourceName, size_t>> entries; // name, child table or leaf
        size_t offset = 0;
    };
    std::vector<Table> roots(1), types, names;
    for (size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        if (roots[0].entries.empty() || !SameName(roots[0].entries.back().first, r.type)) {
            roots[0].entries.emplace_back(r.type, types.size());
            types.emplace_back();
        }
        Table& type = types.back();
        if (type.entries.empty() || !SameName(type.entries.back().first, r.name) || names.empty()) {
            type.entries.emplace_back(r.name, names.size());
            names.emplace_back();
        }
        ResourceName language;
        language.id = r.language;
        names.back().entries.emplace_back(language, i);
    }
    size_t at = 0;
    for (std::vector<Table>* level : {&roots, &types, &names})
        for (Table& t : *level) {
            t.offset = at;
            at += 16 + 8 * t.entries.size();
        }
    const size_t data_entries = at;
    at += 16 * resources.size();
    // Texts of named types and names, each once.
    std::map<std::u16string, size_t> texts;
    for (const Resource& r : resources)
        for (const ResourceName* n : {&r.type, &r.name})
            if (!n->name.empty() && texts.emplace(n->name, at).second) at += 2 + 2 * n->name.size();
    at = Align(at, 8);
    std::vector<size_t> data_at(resources.size());
    for (size_t i = 0; i < resources.size(); ++i) {
        data_at[i] = at;
        at = Align(at + resources[i].data.size(), 8);
    }

    std::vector<uint8_t> out(at, 0);
    auto put_table = [&](const Table& t, bool leaves, const std::vector<Table>* children) {
        size_t named = 0;
        for (const auto& e : t.entries)
            named += e.first.name.empty() ? 0 : 1;
        Put16(out, t.offset + 12, static_cast<uint32_t>(named));
        Put16(out, t.offset + 14, static_cast<uint32_t>(t.entries.size() - named));
        for (size_t i = 0; i < t.entries.size(); ++i) {
            const auto& [name, child] = t.entries[i];
            const size_t e = t.offset + 16 + 8 * i;
            Put32(out, e,
                  name.name.empty() ? name.id
                                    : kNamedEntry | static_cast<uint32_t>(texts.at(name.name)));
            Put32(out, e + 4,
                  leaves ? static_cast<uint32_t>(data_entries + 16 * child)
                         : kSubdirectory | static_cast<uint32_t>((*children)[child].offset));
        }
    };
    put_table(roots[0], false, &types);
    for (const Table& t : types)
        put_table(t, false, &names);
    for (const Table& t : names)
        put_table(t, true, nullptr);
    for (size_t i = 0; i < resources.size(); ++i) {
        const size_t e = data_entries + 16 * i;
        Put32(out, e, rva + static_cast<uint32_t>(data_at[i]));
        Put32(out, e + 4, static_cast<uint32_t>(resources[i].data.size()));
        Put32(out, e + 8, resources[i].codepage);
        std::copy(resources[i].data.begin(), resources[i].data.end(), out.begin() + data_at[i]);
    }
    for (const auto& [text, offset] : texts) {
        Put16(out, offset, static_cast<uint32_t>(text.size()));
        for (size_t i = 0; i < text.size(); ++i)
            Put16(out, offset + 2 + 2 * i, text[i]);
    }
    return out;
}

std::string ResourceTypeText(const ResourceName& type) {
    if (!type.name.empty()) return ResourceNameText(type);
    static const std::map<uint32_t, const char*> known = {
        {1, "CURSOR"},        {2, "BITMAP"},      {3, "ICON"},        {4, "MENU"},
        {5, "DIALOG"},        {6, "STRING"},      {9, "ACCELERATOR"}, {10, "RCDATA"},
        {12, "GROUP_CURSOR"}, {14, "GROUP_ICON"}, {16, "VERSION"},    {24, "MANIFEST"}};
    const auto it = known.find(type.id);
    return it != known.end() ? it->second : std::to_string(type.id);
}

std::string ResourceNameText(const ResourceName& name) {
    if (name.name.empty()) return std::to_string(name.id);
    std::string text(1, '"');
    text.append(Utf16ToUtf8(name.name));
    text.push_back('"');
    return text;
}

std::string Utf16ToUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace txlib
