#include "formats/exeimage.h"

#include "formats/embedrecord.h"
#include "host/failure.h"
#include "host/text.h"

#include "platform/stringtable.h"

#include <cstdio>
#include <cstring>

namespace txlib {

namespace {

constexpr unsigned kFirstSlot = 1;
constexpr unsigned kLastSlot = 11;
constexpr uint32_t kRtString = 6;

std::string Hex(uint64_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// Bounds-checked little-endian reads by range; anything outside the file is
// damage.
class Reader {
  public:
    explicit Reader(const ByteSource& bytes) : bytes_(bytes), size_(bytes.Size()) {}

    bool Has(uint64_t offset, uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    void Need(uint64_t offset, uint64_t count, const char* what) const {
        if (!Has(offset, count))
            Fail(Name(), std::string("damaged: part of ") + what + " lies outside the file");
    }
    uint8_t U8(uint64_t offset, const char* what) const {
        Need(offset, 1, what);
        uint8_t b;
        bytes_.Read(offset, &b, 1);
        return b;
    }
    uint16_t U16(uint64_t offset, const char* what) const {
        Need(offset, 2, what);
        uint8_t b[2];
        bytes_.Read(offset, b, 2);
        return static_cast<uint16_t>(b[0] | (b[1] << 8));
    }
    uint32_t U32(uint64_t offset, const char* what) const {
        Need(offset, 4, what);
        uint8_t b[4];
        bytes_.Read(offset, b, 4);
        return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
               (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    }
    uint64_t U64(uint64_t offset, const char* what) const {
        return static_cast<uint64_t>(U32(offset, what)) |
               (static_cast<uint64_t>(U32(offset + 4, what)) << 32);
    }
    // Whether the `count` bytes at `offset` lie in the file and equal `text`.
    bool Equals(uint64_t offset, const void* text, size_t count) const {
        if (!Has(offset, count)) return false;
        uint8_t here[32];
        if (count > sizeof here) return false;
        bytes_.Read(offset, here, count);
        return std::memcmp(here, text, count) == 0;
    }
    void Copy(uint64_t offset, void* out, size_t count, const char* what) const {
        Need(offset, count, what);
        bytes_.Read(offset, out, count);
    }
    // The first bytes of the file, at most `count` of them.
    std::vector<uint8_t> Head(size_t count) const {
        std::vector<uint8_t> head(size_ < count ? static_cast<size_t>(size_) : count);
        bytes_.Read(0, head.data(), head.size());
        return head;
    }
    uint64_t Size() const { return size_; }
    const std::string& Name() const { return bytes_.Name(); }
    const ByteSource& Bytes() const { return bytes_; }

  private:
    const ByteSource& bytes_;
    uint64_t size_;
};

// The launcher's scan over the first bytes of the file.
std::optional<size_t> RecordScan(const Reader& in) {
    const std::vector<uint8_t> head = in.Head(kLauncherScanBytes);
    return LauncherRecordScan(head.data(), head.size());
}

// ---- PE ----

struct PeSection {
    char name[9];
    uint32_t virtual_size;
    uint32_t virtual_address;
    uint32_t raw_size;
    uint32_t raw_offset;
    size_t header; // file offset of the section header
};

// The file offset of `rva`, with the raw bytes left in its section.
bool RvaToFile(const std::vector<PeSection>& sections, uint32_t rva, uint64_t* offset,
               uint64_t* available) {
    for (const PeSection& s : sections) {
        const uint64_t span = s.virtual_size > s.raw_size ? s.virtual_size : s.raw_size;
        if (rva >= s.virtual_address && rva - s.virtual_address < span) {
            const uint64_t delta = rva - s.virtual_address;
            if (delta >= s.raw_size) return false;
            *offset = s.raw_offset + delta;
            *available = s.raw_size - delta;
            return true;
        }
    }
    return false;
}

// The resource directory: a tree of tables at offsets from its start.
class ResourceTree {
  public:
    ResourceTree(const Reader& in, uint64_t base, uint64_t size)
        : in_(in), base_(base), size_(size) {}

    // Offset (from the tree's start) of the entry's target for an id entry
    // of the table at `table`; `directory` says whether it must be a table.
    std::optional<uint32_t> Find(uint32_t table, uint32_t id, bool directory) const {
        for (const auto& [entry_id, target] : Entries(table)) {
            if (entry_id != id) continue;
            const bool is_directory = (target & 0x80000000u) != 0;
            if (is_directory != directory)
                Fail(in_.Name(), "damaged: the string table's resource directory is malformed");
            return target & 0x7FFFFFFFu;
        }
        return std::nullopt;
    }

    // The id entries of a table: (id, target).
    std::vector<std::pair<uint32_t, uint32_t>> Entries(uint32_t table) const {
        Need(table, 16);
        const uint32_t named = in_.U16(base_ + table + 12, "the resource directory");
        const uint32_t ids = in_.U16(base_ + table + 14, "the resource directory");
        const uint64_t first = table + 16;
        Need(first, (static_cast<uint64_t>(named) + ids) * 8);
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (uint32_t i = 0; i < ids; ++i) {
            const uint64_t at = base_ + first + (static_cast<uint64_t>(named) + i) * 8;
            const uint32_t id = in_.U32(at, "the resource directory");
            if (id & 0x80000000u) continue; // a named entry among the ids
            out.emplace_back(id, in_.U32(at + 4, "the resource directory"));
        }
        return out;
    }

    void Need(uint64_t offset, uint64_t count) const {
        if (offset > size_ || count > size_ - offset)
            Fail(in_.Name(), "damaged: the resource directory runs past its section");
    }
    uint64_t Base() const { return base_; }

  private:
    const Reader& in_;
    uint64_t base_;
    uint64_t size_;
};

void ReadPeStrings(const Reader& in, const std::vector<PeSection>& sections, uint32_t resource_rva,
                   ExeImage* image) {
    uint64_t base, available;
    if (resource_rva == 0 || !RvaToFile(sections, resource_rva, &base, &available)) {
        image->strings_problem = "has no resources";
        return;
    }
    in.Need(base, available, "the resource section");
    const ResourceTree tree(in, base, available);
    const auto type = tree.Find(0, kRtString, true);
    if (!type) {
        image->strings_problem = "has no string table";
        return;
    }
    // Ids 1..11 live in block 1 (ids 0..15).
    const auto block = tree.Find(*type, 1, true);
    if (!block) {
        image->strings_problem = "has no strings 1 to 11 in its string table";
        return;
    }
    for (const auto& [language, target] : tree.Entries(*block)) {
        (void)language;
        if (target & 0x80000000u)
            Fail(in.Name(), "damaged: the string table's resource directory is malformed");
        tree.Need(target, 16);
        const uint32_t data_rva = in.U32(base + target, "the string table");
        const uint32_t data_size = in.U32(base + target + 4, "the string table");
        uint64_t data, room;
        if (!RvaToFile(sections, data_rva, &data, &room) || data_size > room ||
            !in.Has(data, data_size))
            Fail(in.Name(), "damaged: the string table lies outside the file");
        uint64_t position = 0;
        for (unsigned index = 0; index < 16; ++index) {
            if (data_size - position < 2)
                Fail(in.Name(), "damaged: the string table block is cut short");
            const uint16_t length = in.U16(data + position, "the string table");
            if ((data_size - position - 2) / 2 < length)
                Fail(in.Name(), "damaged: a string runs past its string table block");
            if (index >= kFirstSlot && index <= kLastSlot)
                image->strings[index].push_back(
                    StringEntry{static_cast<size_t>(data + position + 2), length, true});
            position += 2 + 2ull * length;
        }
    }
    if (image->strings.empty()) image->strings_problem = "has an empty string table";
}

ExeImage ParsePe(const Reader& in) {
    ExeImage image;
    image.format = ImageFormat::Pe;
    in.Need(0, 64, "the MZ header");
    const uint32_t pe = in.U32(0x3C, "the MZ header");
    in.Need(pe, 24, "the PE header");
    if (!in.Equals(pe, "PE\0\0", 4))
        Fail(in.Name(), "not a Windows program: no PE header after the MZ header");
    const uint16_t section_count = in.U16(pe + 6, "the PE header");
    const uint16_t optional_size = in.U16(pe + 20, "the PE header");
    const uint64_t optional = pe + 24;
    in.Need(optional, optional_size, "the optional header");
    const uint16_t magic = optional_size >= 2 ? in.U16(optional, "the optional header") : 0;
    uint64_t directories, directory_count_at;
    if (magic == 0x10B) {
        image.description = "PE32";
        directories = optional + 96;
        directory_count_at = optional + 92;
    } else if (magic == 0x20B) {
        image.description = "PE32+";
        directories = optional + 112;
        directory_count_at = optional + 108;
    } else {
        Fail(in.Name(), "damaged: unknown PE optional header");
    }
    if (directory_count_at + 4 > optional + optional_size)
        Fail(in.Name(), "damaged: the PE optional header is cut short");
    const uint32_t directory_count = in.U32(directory_count_at, "the optional header");
    uint32_t resource_rva = 0;
    if (directory_count > 2 && directories + 3 * 8 <= optional + optional_size)
        resource_rva = in.U32(directories + 2 * 8, "the data directories");
    if (in.U32(optional + 64, "the optional header") != 0) image.checksum_field = optional + 64;

    const uint64_t table = optional + optional_size;
    in.Need(table, 40ull * section_count, "the section table");
    std::vector<PeSection> sections;
    std::optional<size_t> rsrc_header;
    image.image_end = table + 40ull * section_count;
    for (unsigned i = 0; i < section_count; ++i) {
        const uint64_t h = table + 40ull * i;
        PeSection s{};
        in.Copy(h, s.name, 8, "a section header");
        s.virtual_size = in.U32(h + 8, "a section header");
        s.virtual_address = in.U32(h + 12, "a section header");
        s.raw_size = in.U32(h + 16, "a section header");
        s.raw_offset = in.U32(h + 20, "a section header");
        s.header = static_cast<size_t>(h);
        if (s.raw_size > 0) {
            in.Need(s.raw_offset, s.raw_size, "a section");
            if (s.raw_offset + static_cast<uint64_t>(s.raw_size) > image.image_end)
                image.image_end = s.raw_offset + static_cast<uint64_t>(s.raw_size);
        }
        if (std::memcmp(s.name, ".rsrc\0\0\0", 8) == 0 && !rsrc_header) rsrc_header = s.header;
        sections.push_back(s);
    }

    ReadPeStrings(in, sections, resource_rva, &image);

    const auto scan = RecordScan(in);
    if (!rsrc_header) {
        image.library_problem = "has no .rsrc section";
    } else if (!scan) {
        image.library_problem = "its .rsrc section header lies beyond the first 30000 bytes, "
                                "where the launcher does not look";
    } else if (*scan != *rsrc_header) {
        image.library_problem = "the launcher would read its library offset from the text "
                                "\".rsrc\" at " +
                                Hex(*scan) + ", not from its .rsrc section header";
    } else {
        image.library_field = *rsrc_header + kRecordOffsetField;
    }
    return image;
}

// ---- ELF ----

struct ElfSection {
    uint32_t name;
    uint32_t type;
    uint64_t address;
    uint64_t offset;
    uint64_t size;
    uint32_t link;
    uint64_t entry_size;
};

constexpr uint32_t kShtSymtab = 2;
constexpr uint32_t kShtNobits = 8;
constexpr uint32_t kShtDynsym = 11;

// Parses the string table at `offset` (at most `limit` bytes) and records
// the first copy of ids 1..11. False when it is not a whole table.
bool ParseStringTable(const Reader& in, uint64_t offset, uint64_t limit, ExeImage* image) {
    using txplat::kStringEntryHeader, txplat::kStringTableHeader, txplat::kStringTableMagic;
    if (limit < kStringTableHeader || !in.Has(offset, kStringTableHeader) ||
        !in.Equals(offset, kStringTableMagic, sizeof kStringTableMagic))
        return false;
    const uint16_t count = in.U16(offset + sizeof kStringTableMagic, "the string table");
    uint64_t position = kStringTableHeader;
    std::map<unsigned, std::vector<StringEntry>> found;
    for (unsigned i = 0; i < count; ++i) {
        if (limit - position < kStringEntryHeader || !in.Has(offset + position, kStringEntryHeader))
            return false;
        const uint16_t id = in.U16(offset + position, "the string table");
        const uint16_t length = in.U16(offset + position + 2, "the string table");
        position += kStringEntryHeader;
        if (limit - position < length || !in.Has(offset + position, length)) return false;
        if (id >= kFirstSlot && id <= kLastSlot && found.find(id) == found.end())
            found[id].push_back(StringEntry{static_cast<size_t>(offset + position), length, false});
        position += length;
    }
    image->strings = std::move(found);
    return true;
}

ExeImage ParseElf(const Reader& in) {
    ExeImage image;
    image.format = ImageFormat::Elf;
    in.Need(0, 52, "the ELF header");
    const uint8_t elf_class = in.U8(4, "the ELF header");
    if (in.U8(5, "the ELF header") != 1)
        Fail(in.Name(), "a big-endian ELF file is not a launcher of this system");
    const bool wide = elf_class == 2;
    if (!wide && elf_class != 1) Fail(in.Name(), "damaged: unknown ELF class");
    image.description = wide ? "ELF64" : "ELF32";
    in.Need(0, wide ? 64 : 52, "the ELF header");
    const uint64_t phoff = wide ? in.U64(32, "the ELF header") : in.U32(28, "the ELF header");
    const uint64_t shoff = wide ? in.U64(40, "the ELF header") : in.U32(32, "the ELF header");
    const uint16_t phentsize = in.U16(wide ? 54 : 42, "the ELF header");
    const uint16_t phnum = in.U16(wide ? 56 : 44, "the ELF header");
    const uint16_t shentsize = in.U16(wide ? 58 : 46, "the ELF header");
    const uint16_t shnum = in.U16(wide ? 60 : 48, "the ELF header");

    auto grow = [&](uint64_t end) {
        if (end > image.image_end) image.image_end = end;
    };
    grow(wide ? 64 : 52);
    if (phnum > 0) {
        if (phentsize < (wide ? 56 : 32)) Fail(in.Name(), "damaged: bad ELF program header size");
        in.Need(phoff, static_cast<uint64_t>(phentsize) * phnum, "the program headers");
        grow(phoff + static_cast<uint64_t>(phentsize) * phnum);
        for (unsigned i = 0; i < phnum; ++i) {
            const uint64_t h = phoff + static_cast<uint64_t>(phentsize) * i;
            const uint64_t offset =
                wide ? in.U64(h + 8, "a program header") : in.U32(h + 4, "a program header");
            const uint64_t filesz =
                wide ? in.U64(h + 32, "a program header") : in.U32(h + 16, "a program header");
            in.Need(offset, filesz, "a segment");
            grow(offset + filesz);
        }
    }
    std::vector<ElfSection> sections;
    if (shoff != 0 && shnum > 0) {
        if (shentsize < (wide ? 64 : 40)) Fail(in.Name(), "damaged: bad ELF section header size");
        in.Need(shoff, static_cast<uint64_t>(shentsize) * shnum, "the section headers");
        grow(shoff + static_cast<uint64_t>(shentsize) * shnum);
        for (unsigned i = 0; i < shnum; ++i) {
            const uint64_t h = shoff + static_cast<uint64_t>(shentsize) * i;
            ElfSection s{};
            s.name = in.U32(h, "a section header");
            s.type = in.U32(h + 4, "a section header");
            if (wide) {
                s.address = in.U64(h + 16, "a section header");
                s.offset = in.U64(h + 24, "a section header");
                s.size = in.U64(h + 32, "a section header");
                s.link = in.U32(h + 40, "a section header");
                s.entry_size = in.U64(h + 56, "a section header");
            } else {
                s.address = in.U32(h + 12, "a section header");
                s.offset = in.U32(h + 16, "a section header");
                s.size = in.U32(h + 20, "a section header");
                s.link = in.U32(h + 24, "a section header");
                s.entry_size = in.U32(h + 36, "a section header");
            }
            if (s.type != kShtNobits && s.type != 0) {
                in.Need(s.offset, s.size, "a section");
                grow(s.offset + s.size);
            }
            sections.push_back(s);
        }
    }

    // The embedded-library record.
    const auto scan = RecordScan(in);
    if (!scan) {
        image.library_problem = "carries no embedded-library record";
    } else {
        const size_t p = *scan;
        bool note = p >= kEmbedNoteHeaderSize && in.Has(p, kEmbedRecordSize);
        if (note) {
            const size_t h = p - kEmbedNoteHeaderSize;
            note = in.U32(h, "the record") == kEmbedNoteNameSize &&
                   in.U32(h + 4, "the record") == kEmbedRecordSize &&
                   in.U32(h + 8, "the record") == kEmbedNoteType && in.Equals(h + 12, "TXL", 4);
        }
        if (note)
            image.library_field = p + kRecordOffsetField;
        else
            image.library_problem = "the launcher would read its library offset from the text "
                                    "\".rsrc\" at " +
                                    Hex(p) + ", which is not its embedded-library record";
    }
    // The string table: by its exported symbol.
    bool found = false;
    for (const ElfSection& symbols : sections) {
        if (found) break;
        if (symbols.type != kShtDynsym && symbols.type != kShtSymtab) continue;
        const uint64_t entry = wide ? 24 : 16;
        if (symbols.link >= sections.size() || symbols.entry_size < entry) continue;
        const ElfSection& names = sections[symbols.link];
        // Symbol names are read only from a string section that lies in the file.
        if (names.type == kShtNobits || !in.Has(names.offset, names.size)) continue;
        for (uint64_t at = symbols.offset; at + symbols.entry_size <= symbols.offset + symbols.size;
             at += symbols.entry_size) {
            const uint32_t name = in.U32(at, "a symbol");
            if (name >= names.size || names.size - name < sizeof "TxStringTable") continue;
            if (!in.Equals(names.offset + name, "TxStringTable", sizeof "TxStringTable")) continue;
            const uint16_t index = in.U16(at + (wide ? 6 : 14), "a symbol");
            const uint64_t value = wide ? in.U64(at + 8, "a symbol") : in.U32(at + 4, "a symbol");
            const uint64_t size = wide ? in.U64(at + 16, "a symbol") : in.U32(at + 8, "a symbol");
            if (index >= sections.size())
                Fail(in.Name(), "damaged: TxStringTable lies in no section");
            const ElfSection& home = sections[index];
            if (home.type == kShtNobits || value < home.address ||
                value - home.address >= home.size)
                Fail(in.Name(), "damaged: TxStringTable lies outside its section");
            const uint64_t offset = home.offset + (value - home.address);
            const uint64_t room = home.size - (value - home.address);
            if (!ParseStringTable(in, offset, size != 0 && size < room ? size : room, &image))
                Fail(in.Name(), "damaged: TxStringTable is malformed");
            found = true;
            break;
        }
    }
    if (!found) {
        // No symbol (a stripped symbol table): the one signature in the
        // program that starts a whole table holding string 1. An embedded
        // library is no part of the program (a launcher stored in it as a
        // member carries a table too): the search stops where it begins.
        uint64_t limit = in.Size();
        if (image.library_field) {
            const uint32_t library = in.U32(*image.library_field, "the record");
            if (library >= image.image_end && library < limit) limit = library;
        }
        int candidates = 0;
        ExeImage trial;
        constexpr size_t kMagicSize = sizeof txplat::kStringTableMagic;
        constexpr size_t kStep = 64 * 1024;
        std::vector<uint8_t> chunk(kStep + kMagicSize - 1);
        for (uint64_t start = 0; start + kMagicSize <= limit; start += kStep) {
            const uint64_t left = limit - start;
            const size_t got = left < chunk.size() ? static_cast<size_t>(left) : chunk.size();
            in.Copy(start, chunk.data(), got, "the program");
            for (size_t i = 0; i < kStep && i + kMagicSize <= got; ++i) {
                if (std::memcmp(&chunk[i], txplat::kStringTableMagic, kMagicSize) != 0) continue;
                ExeImage attempt;
                if (ParseStringTable(in, start + i, limit - (start + i), &attempt) &&
                    attempt.strings.count(kFirstSlot)) {
                    ++candidates;
                    trial.strings = attempt.strings;
                }
            }
        }
        if (candidates == 1)
            image.strings = trial.strings;
        else
            image.strings_problem = candidates == 0 ? "has no string table (TxStringTable)"
                                                    : "has more than one string table";
    }
    if (found && image.strings.empty()) image.strings_problem = "has no strings 1 to 11";

    return image;
}

bool StartsMz(const uint8_t* data, size_t size) {
    return size >= 2 && data[0] == 'M' && data[1] == 'Z';
}

bool StartsElf(const uint8_t* data, size_t size) {
    return size >= 4 && data[0] == 0x7F && data[1] == 'E' && data[2] == 'L' && data[3] == 'F';
}

} // namespace

bool LooksLikeExecutable(const uint8_t* data, size_t size) {
    return StartsMz(data, size) || StartsElf(data, size);
}

ExeImage ParseExecutable(const ByteSource& bytes) {
    const Reader in(bytes);
    const std::vector<uint8_t> start = in.Head(4);
    if (StartsMz(start.data(), start.size())) return ParsePe(in);
    if (StartsElf(start.data(), start.size())) return ParseElf(in);
    Fail(bytes.Name(), "not a program (neither a Windows MZ file nor an ELF file)");
}

uint32_t EmbeddedOffset(const ByteSource& bytes, const ExeImage& image) {
    if (!image.library_field) return 0;
    const Reader in(bytes);
    const uint32_t offset = in.U32(*image.library_field, "the record");
    if (offset == 0) return 0;
    if (offset > in.Size())
        Fail(in.Name(), "damaged: its embedded library offset " + Hex(offset) +
                            " points beyond the end of the file");
    // The record itself must stay in front of the library, or writing a new
    // offset would write into the library.
    if (offset < image.image_end || offset < *image.library_field + 4 || offset > 0x7FFFFFFFu)
        Fail(in.Name(),
             "damaged: its embedded library offset " + Hex(offset) + " points into the program");
    return offset;
}

std::string ReadEntry(const ByteSource& bytes, const StringEntry& entry, bool* lossy) {
    std::vector<uint8_t> stored(entry.utf16 ? 2 * size_t{entry.length} : entry.length);
    bytes.Read(entry.offset, stored.data(), stored.size());
    std::string text;
    text.reserve(entry.length);
    for (size_t i = 0; i < entry.length; ++i) {
        if (!entry.utf16) {
            text.push_back(static_cast<char>(stored[i]));
            continue;
        }
        const uint32_t unit = stored[2 * i] | (stored[2 * i + 1] << 8);
        uint8_t byte;
        if (!UnitToCp1252(unit, &byte)) {
            byte = '?';
            if (lossy) *lossy = true;
        }
        text.push_back(static_cast<char>(byte));
    }
    return text;
}

Patch EntryPatch(const StringEntry& entry, const std::string& text) {
    Patch patch{entry.offset, {}};
    for (size_t i = 0; i < entry.length && i < text.size(); ++i) {
        const auto byte = static_cast<uint8_t>(text[i]);
        if (!entry.utf16) {
            patch.bytes.push_back(byte);
            continue;
        }
        const uint16_t unit = Cp1252ToUnit(byte);
        patch.bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        patch.bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return patch;
}

std::optional<size_t> LauncherRecordScan(const uint8_t* data, size_t size) {
    // The launcher's own scan, so that the tool finds what the launcher finds.
    const int32_t at =
        tx::FindSectionHeader(data, size < kLauncherScanBytes ? size : kLauncherScanBytes);
    if (at < 0) return std::nullopt;
    return static_cast<size_t>(at);
}

void PeChecksum::Add(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i, ++position_) {
        const uint32_t byte = position_ >= field_ && position_ < field_ + 4 ? 0 : data[i];
        sum_ += (position_ & 1) ? byte << 8 : byte;
        if (position_ & 1) sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    }
}

uint32_t PeChecksum::Finish() const {
    uint32_t sum = (sum_ & 0xFFFF) + (sum_ >> 16);
    sum = (sum & 0xFFFF) + (sum >> 16);
    return sum + static_cast<uint32_t>(position_);
}

} // namespace txlib
