#include "formats/resourcesection.h"

#include "formats/certificate.h"
#include "host/failure.h"

#include <algorithm>
#include <cstring>

namespace txlib {

namespace {

constexpr uint64_t kLibraryAlignment = 512;
constexpr uint64_t kOffsetMax = 0x7FFFFFFF; // the launcher keeps offsets in signed 32 bits
constexpr uint32_t kResourceCharacteristics = 0x40000040; // initialized data, readable
constexpr size_t kCopyChunk = 1 << 20;

uint64_t AlignUp(uint64_t value, uint64_t to) {
    return (value + to - 1) / to * to;
}

[[noreturn]] void CannotPlace(const ByteSource& bytes, const std::string& why) {
    Fail(bytes.Name(), "the new resources cannot be placed: " + why + "; nothing written");
}

Patch Bytes32(uint64_t at, uint32_t value) {
    return U32Patch(at, value);
}

Patch Bytes16(uint64_t at, uint16_t value) {
    return Patch{at, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)}};
}

Patch SectionHeader(size_t at, const char* name, uint32_t virtual_size, uint32_t address,
                    uint32_t raw_size, uint32_t raw_offset, uint32_t characteristics) {
    Patch p{at, std::vector<uint8_t>(40, 0)};
    std::memcpy(p.bytes.data(), name, std::min<size_t>(std::strlen(name), 8));
    for (const auto& [field, value] :
         {std::pair{8, virtual_size}, std::pair{12, address}, std::pair{16, raw_size},
          std::pair{20, raw_offset}, std::pair{36, characteristics}})
        for (int i = 0; i < 4; ++i)
            p.bytes[static_cast<size_t>(field + i)] = static_cast<uint8_t>(value >> (8 * i));
    return p;
}

} // namespace

ResourcePlan PlanResourceSection(const ByteSource& bytes, const PeLayout& pe, const ExeImage& image,
                                 const std::vector<Resource>& resources) {
    ResourcePlan plan;
    const SignatureRemoval unsigned_program = RemoveSignature(bytes);
    plan.signature_removed = unsigned_program.removed;
    plan.header_patches = unsigned_program.patches;
    plan.checksum_field = pe.checksum_field;
    if (!pe.problem.empty()) CannotPlace(bytes, pe.problem);
    const uint32_t library = EmbeddedOffset(bytes, image);
    if (library != 0 && library < pe.program_end)
        CannotPlace(bytes, "its embedded library starts inside its symbol table");

    const auto directory = pe.Directory(kResourceDirectory);
    if (!directory) CannotPlace(bytes, "its header has no resource directory entry");
    const uint32_t old_rva = ReadU32(bytes, *directory);
    const PeSectionHeader* old = nullptr;
    const PeSectionHeader* last = nullptr;
    for (const PeSectionHeader& s : pe.sections) {
        if (old_rva != 0 && old_rva >= s.virtual_address &&
            old_rva - s.virtual_address < std::max(s.virtual_size, s.raw_size))
            old = &s;
        if (!last || s.virtual_address > last->virtual_address) last = &s;
    }

    // The sections' bytes end here; the symbol table, when there is one,
    // follows them and moves behind the new section.
    uint64_t sections_end = pe.size_of_headers;
    for (const PeSectionHeader& s : pe.sections)
        sections_end = std::max<uint64_t>(sections_end, uint64_t{s.raw_offset} + s.raw_size);
    if (pe.symbols != 0 && pe.symbols < sections_end)
        CannotPlace(bytes, "its COFF symbol table lies among its sections");

    // The old section is replaced where it is the last one, both in memory
    // and in the file (an earlier run put it there).
    bool replace = old != nullptr && old == last && old->raw_size > 0 &&
                   uint64_t{old->raw_offset} + old->raw_size == sections_end;
    for (const PeSectionHeader& s : pe.sections)
        if (replace && &s != old && uint64_t{s.raw_offset} + s.raw_size > old->raw_offset)
            replace = false;

    size_t header;
    uint32_t address;
    const uint16_t count = static_cast<uint16_t>(pe.sections.size());
    if (replace) {
        header = old->header;
        address = old->virtual_address;
        plan.keep = old->raw_offset;
    } else {
        header = pe.section_table + 40 * size_t{count};
        uint64_t first_raw = pe.size_of_headers;
        for (const PeSectionHeader& s : pe.sections)
            if (s.raw_size > 0) first_raw = std::min<uint64_t>(first_raw, s.raw_offset);
        if (header + 40 > first_raw || count == 0xFFFF)
            CannotPlace(bytes, "its headers have no room for another section header");
        if (header + 40 > kLauncherScanBytes)
            CannotPlace(bytes, "another section header would lie beyond the first 30000 bytes, "
                               "where the launcher looks for its library offset");
        uint8_t slot[40];
        bytes.Read(header, slot, sizeof slot);
        if (std::any_of(slot, slot + sizeof slot, [](uint8_t b) { return b != 0; }))
            CannotPlace(bytes, "the bytes after its section table are in use");
        uint64_t end = 0;
        for (const PeSectionHeader& s : pe.sections)
            end = std::max<uint64_t>(end, uint64_t{s.virtual_address} +
                                              (s.virtual_size ? s.virtual_size : s.raw_size));
        end = AlignUp(end, pe.section_alignment);
        if (end > 0x7FFF0000u) CannotPlace(bytes, "its address space is full");
        address = static_cast<uint32_t>(end);
        plan.keep = sections_end;
        plan.header_patches.push_back(Bytes16(pe.optional - 18, static_cast<uint16_t>(count + 1)));
        // The old section stays, under a name the launcher's scan passes by.
        if (old)
            plan.header_patches.push_back(
                Patch{old->header, {'.', 'r', 's', 'r', 'c', 'o', 'l', 'd'}});
    }

    const std::vector<uint8_t> tree = WriteResourceSection(resources, address);
    plan.section_at = AlignUp(plan.keep, pe.file_alignment);
    plan.section = tree;
    plan.section.resize(AlignUp(tree.size(), pe.file_alignment), 0);
    uint64_t section_end = plan.section_at + plan.section.size();
    if (pe.symbols != 0) {
        plan.symbols_from = pe.symbols;
        plan.symbols_to = pe.symbols_end;
        plan.symbols_at = section_end;
        plan.header_patches.push_back(
            Bytes32(pe.optional - 12, static_cast<uint32_t>(section_end)));
        section_end += pe.symbols_end - pe.symbols;
    }
    const uint64_t image_size = AlignUp(uint64_t{address} + tree.size(), pe.section_alignment);
    if (image_size > 0x7FFFFFFFu) CannotPlace(bytes, "its address space is full");

    // The appended data, library and all, keeps its place modulo 512.
    plan.tail_from = pe.program_end;
    plan.tail_to = std::max(unsigned_program.keep, pe.program_end);
    plan.tail_at = section_end;
    if (plan.tail_to > plan.tail_from) {
        const uint64_t shift = plan.tail_from % kLibraryAlignment;
        plan.tail_at = AlignUp(section_end - shift, kLibraryAlignment) + shift;
    }
    plan.size = plan.tail_to > plan.tail_from ? plan.tail_at + (plan.tail_to - plan.tail_from)
                                              : section_end;
    if (library != 0) plan.library = static_cast<uint32_t>(library - plan.tail_from + plan.tail_at);
    if (plan.size > kOffsetMax)
        CannotPlace(bytes, "the program would be larger than 2 GiB, beyond what the launcher "
                           "can address");

    plan.header_patches.push_back(SectionHeader(
        header, ".rsrc", static_cast<uint32_t>(tree.size()), address,
        static_cast<uint32_t>(plan.section.size()), static_cast<uint32_t>(plan.section_at),
        old ? old->characteristics : kResourceCharacteristics));
    plan.header_patches.push_back(Bytes32(*directory, address));
    plan.header_patches.push_back(Bytes32(*directory + 4, static_cast<uint32_t>(tree.size())));
    plan.header_patches.push_back(Bytes32(pe.optional + 56, static_cast<uint32_t>(image_size)));

    // Where the launcher will look for its library offset now, and what it
    // finds there.
    std::vector<uint8_t> head(std::min<uint64_t>(bytes.Size(), kLauncherScanBytes));
    bytes.Read(0, head.data(), head.size());
    for (const Patch& p : plan.header_patches)
        ApplyPatch(p, 0, head.data(), head.size());
    const auto scan = LauncherRecordScan(head.data(), head.size());
    if (!scan || *scan != header) {
        if (library != 0 || image.library_field)
            CannotPlace(bytes, "another \".rsrc\" text comes before its section header, where "
                               "the launcher would read its library offset");
    } else {
        plan.header_patches.push_back(Bytes32(header + kRecordOffsetField, plan.library));
    }
    return plan;
}

uint32_t EmitProgram(const ByteSource& bytes, const ResourcePlan& plan,
                     const std::function<void(const uint8_t*, size_t)>& put) {
    PeChecksum sum(plan.checksum_field.value_or(0));
    std::vector<uint8_t> buffer(kCopyChunk);
    uint64_t written = 0;
    auto out = [&](const uint8_t* data, size_t size) {
        sum.Add(data, size);
        put(data, size);
        written += size;
    };
    auto copy = [&](uint64_t from, uint64_t count, bool patched) {
        while (count > 0) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(count, buffer.size()));
            bytes.Read(from, buffer.data(), n);
            if (patched)
                for (const Patch& p : plan.header_patches)
                    ApplyPatch(p, from, buffer.data(), n);
            out(buffer.data(), n);
            from += n;
            count -= n;
        }
    };
    auto zeros_to = [&](uint64_t offset) {
        std::fill(buffer.begin(), buffer.end(), 0);
        while (written < offset) {
            const size_t n =
                static_cast<size_t>(std::min<uint64_t>(offset - written, buffer.size()));
            out(buffer.data(), n);
        }
    };
    copy(0, plan.keep, true);
    zeros_to(plan.section_at);
    out(plan.section.data(), plan.section.size());
    if (plan.symbols_to > plan.symbols_from)
        copy(plan.symbols_from, plan.symbols_to - plan.symbols_from, false);
    if (plan.tail_to > plan.tail_from) {
        zeros_to(plan.tail_at);
        copy(plan.tail_from, plan.tail_to - plan.tail_from, false);
    }
    return sum.Finish();
}

} // namespace txlib
