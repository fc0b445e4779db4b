// A Windows program's resources rewritten as a new last section, over PE
// files built byte by byte: .rsrc followed by .reloc and a debug section,
// with and without a COFF symbol table, carrying an embedded library and a
// certificate table.
#include "formats/certificate.h"
#include "formats/exeimage.h"
#include "host/failure.h"
#include "formats/icon.h"
#include "pe_fixture.h"
#include "formats/resourcesection.h"
#include "formats/versioninfo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using txtest::Put16;
using txtest::Put32;

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
}

struct Program {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> reloc, debug, symbols, library;
    size_t reloc_raw, debug_raw, library_at;
};

// BuildPe's program with room for six section headers, then .reloc and a
// debug section after .rsrc, the symbol table, a library and a signature.
Program Laid(bool with_symbols) {
    const txtest::PeFile base = txtest::BuildPe(txtest::SlotStrings(), 1, 0x40);
    Program p;
    std::vector<uint8_t>& b = p.bytes;
    b = base.bytes;
    b.insert(b.begin() + 0x200, 0x200, 0);
    const size_t optional = 0x40 + 24, table = optional + 224;
    for (size_t h = table; h < table + 80; h += 40)
        Put32(b, h + 20, Get32(b, h + 20) + 0x200);
    Put32(b, optional + 32, 0x1000);
    Put32(b, optional + 36, 0x200);
    Put32(b, optional + 60, 0x400);
    Put32(b, optional + 64, 1); // a checksum to keep
    p.reloc = Pattern(0x200, 1);
    p.debug = Pattern(0x400, 2);
    const char* names[2] = {".reloc", "/4"};
    const std::vector<uint8_t>* data[2] = {&p.reloc, &p.debug};
    for (int s = 0; s < 2; ++s) {
        const size_t h = table + 80 + 40 * s;
        std::memcpy(&b[h], names[s], std::strlen(names[s]));
        Put32(b, h + 8, static_cast<uint32_t>(data[s]->size()));
        Put32(b, h + 12, 0x3000 + 0x1000 * s);
        Put32(b, h + 16, static_cast<uint32_t>(data[s]->size()));
        Put32(b, h + 20, static_cast<uint32_t>(b.size()));
        (s ? p.debug_raw : p.reloc_raw) = b.size();
        b.insert(b.end(), data[s]->begin(), data[s]->end());
    }
    Put16(b, 0x40 + 6, 4);
    Put32(b, optional + 56, 0x5000);
    if (with_symbols) {
        p.symbols = Pattern(2 * 18, 3);
        const char strings[] = "\x10\0\0\0.debug_info"; // length, then the names
        p.symbols.insert(p.symbols.end(), strings, strings + sizeof strings);
        Put32(b, 0x40 + 12, static_cast<uint32_t>(b.size()));
        Put32(b, 0x40 + 16, 2);
        b.insert(b.end(), p.symbols.begin(), p.symbols.end());
    }
    p.library_at = (b.size() + 511) / 512 * 512;
    p.library = Pattern(700, 4);
    b.resize(p.library_at);
    b.insert(b.end(), p.library.begin(), p.library.end());
    Put32(b, table + 40 + 28, static_cast<uint32_t>(p.library_at));
    b.resize((b.size() + 7) / 8 * 8);
    Put32(b, optional + 96 + 32, static_cast<uint32_t>(b.size()));
    Put32(b, optional + 96 + 36, 64);
    b.resize(b.size() + 64, 0xCE);
    return p;
}

std::vector<uint8_t> Rewrite(const std::vector<uint8_t>& bytes,
                             const std::vector<txlib::Resource>& resources,
                             txlib::ResourcePlan* plan_out = nullptr) {
    const txlib::MemoryBytes in(bytes, "test.exe");
    const txlib::ResourcePlan plan = txlib::PlanResourceSection(
        in, txlib::ReadPeLayout(in), txlib::ParseExecutable(in), resources);
    std::vector<uint8_t> out;
    const uint32_t sum = txlib::EmitProgram(
        in, plan, [&](const uint8_t* d, size_t n) { out.insert(out.end(), d, d + n); });
    if (plan.checksum_field) Put32(out, *plan.checksum_field, sum);
    if (plan_out) *plan_out = plan;
    return out;
}

std::vector<uint8_t> At(const std::vector<uint8_t>& b, size_t offset, size_t size) {
    return std::vector<uint8_t>(b.begin() + offset, b.begin() + offset + size);
}

TEST(ProgramResources, NewLastSectionKeepsEverythingElse) {
    for (bool with_symbols : {false, true}) {
        SCOPED_TRACE(with_symbols ? "with a symbol table" : "without");
        const Program p = Laid(with_symbols);
        const txlib::MemoryBytes in(p.bytes, "test.exe");
        std::vector<txlib::Resource> resources = txlib::ReadResources(in, txlib::ReadPeLayout(in));
        ASSERT_EQ(resources.size(), 1u);
        txlib::Resource manifest{{txlib::kRtManifest, {}}, {1, {}}, 0x409, 0, Pattern(3000, 5)};
        resources.push_back(manifest);
        txlib::ResourcePlan plan;
        const std::vector<uint8_t> out = Rewrite(p.bytes, resources, &plan);
        EXPECT_TRUE(plan.signature_removed);

        const txlib::MemoryBytes now(out, "new.exe");
        const txlib::PeLayout pe = txlib::ReadPeLayout(now);
        ASSERT_EQ(pe.sections.size(), 5u);
        const txlib::PeSectionHeader& added = pe.sections.back();
        EXPECT_EQ(std::string(added.name, 5), ".rsrc");
        EXPECT_EQ(added.virtual_address, 0x5000u);
        EXPECT_LE(added.raw_offset, added.virtual_address); // as wrestool wants
        EXPECT_EQ(std::string(pe.sections[1].name, 8), ".rsrcold");
        EXPECT_EQ(Get32(out, pe.optional + 56), 0x6000u);
        // Code, relocations and debug data where they were.
        EXPECT_EQ(At(out, p.reloc_raw, p.reloc.size()), p.reloc);
        EXPECT_EQ(At(out, p.debug_raw, p.debug.size()), p.debug);
        EXPECT_EQ(pe.symbols_end - pe.symbols, p.symbols.size());
        if (with_symbols) {
            EXPECT_EQ(At(out, pe.symbols, p.symbols.size()), p.symbols);
        }
        // The resources, the string table byte for byte.
        const std::vector<txlib::Resource> back = txlib::ReadResources(now, pe);
        ASSERT_EQ(back.size(), 2u);
        EXPECT_EQ(back[0].data, resources[0].data);
        EXPECT_EQ(back[1].data, manifest.data);
        // The launcher finds the new header, and through it the library,
        // moved whole and still aligned; the signature is gone.
        const txlib::ExeImage image = txlib::ParseExecutable(now);
        EXPECT_EQ(image.library_field, added.header + 28);
        EXPECT_EQ(image.strings.at(5).front().length, 20);
        const uint32_t library = txlib::EmbeddedOffset(now, image);
        EXPECT_EQ(library % 512, 0u);
        EXPECT_EQ(At(out, library, p.library.size()), p.library);
        EXPECT_EQ(out.size(), (library + p.library.size() + 7) / 8 * 8);
        EXPECT_FALSE(txlib::FindCertificateTable(now));
        txlib::PeChecksum sum(*pe.checksum_field);
        sum.Add(out.data(), out.size());
        EXPECT_EQ(Get32(out, *pe.checksum_field), sum.Finish());

        // A second run replaces the section it added.
        const std::vector<uint8_t> again = Rewrite(out, back);
        const txlib::MemoryBytes twice(again, "again.exe");
        EXPECT_EQ(txlib::ReadPeLayout(twice).sections.size(), 5u);
        EXPECT_EQ(txlib::ReadResources(twice, txlib::ReadPeLayout(twice)).size(), 2u);
        EXPECT_EQ(At(again, txlib::EmbeddedOffset(twice, txlib::ParseExecutable(twice)),
                     p.library.size()),
                  p.library);
    }
}

TEST(ProgramResources, NoRoomForAnotherHeaderWritesNothing) {
    Program p = Laid(false);
    // The headers end with the section table.
    Put32(p.bytes, 0x40 + 24 + 60, 0x40 + 24 + 224 + 4 * 40);
    const txlib::MemoryBytes in(p.bytes, "test.exe");
    try {
        Rewrite(p.bytes, txlib::ReadResources(in, txlib::ReadPeLayout(in)));
        FAIL() << "placed";
    } catch (const txlib::Failure& failure) {
        EXPECT_NE(failure.message.find("cannot be placed"), std::string::npos) << failure.message;
    }
}

TEST(ProgramResources, CertificateTableBoundsTheLibrary) {
    const Program p = Laid(false);
    const size_t entry = 0x40 + 24 + 96 + 32;
    struct Case {
        const char* what;
        uint32_t offset, size;
        bool found, at_end;
    };
    const uint32_t end = static_cast<uint32_t>(p.bytes.size());
    for (const Case& c :
         {Case{"at the end", end - 64, 64, true, true},
          Case{"beyond the file", end, 64, true, false},
          Case{"inside the program", 0x300, 64, true, false}, Case{"none", 0, 0, false, false}}) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> b = p.bytes;
        Put32(b, entry, c.offset);
        Put32(b, entry + 4, c.size);
        const txlib::MemoryBytes in(b, "test.exe");
        const auto table = txlib::FindCertificateTable(in);
        EXPECT_EQ(table.has_value(), c.found);
        EXPECT_EQ(txlib::EndOfUnsignedData(in), c.at_end ? end - 64 : end);
        const txlib::SignatureRemoval removal = txlib::RemoveSignature(in);
        EXPECT_EQ(removal.removed, c.found);
        EXPECT_EQ(removal.keep, c.at_end ? end - 64 : end);
    }
}

TEST(VersionResource, EditKeepsTheTableAndItsOtherTexts) {
    std::vector<uint8_t> made, edited;
    std::string error;
    txlib::VersionEdit first;
    first.strings = {{u"CompanyName", u"Old"}, {u"Comments", u"kept"}};
    ASSERT_TRUE(txlib::EditVersionResource(nullptr, first, &made, &error)) << error;
    // A table of another language, as an existing program may have.
    auto key = std::search(made.begin(), made.end(), reinterpret_cast<const uint8_t*>(u"0409"),
                           reinterpret_cast<const uint8_t*>(u"0409") + 8);
    ASSERT_NE(key, made.end());
    std::memcpy(&*key, u"040C", 8);
    txlib::VersionEdit second;
    second.version = std::array<uint16_t, 4>{2, 3, 4, 65535};
    second.strings = {{u"CompanyName", u"Vendor \u00A9"}};
    ASSERT_TRUE(txlib::EditVersionResource(&made, second, &edited, &error)) << error;
    EXPECT_EQ(edited.size() % 4, 0u);
    txlib::VersionSummary summary;
    ASSERT_TRUE(txlib::ReadVersionResource(edited, &summary, &error)) << error;
    EXPECT_EQ(summary.table, "040C04B0");
    EXPECT_EQ(*summary.file_version, (std::array<uint16_t, 4>{2, 3, 4, 65535}));
    EXPECT_EQ(*summary.product_version, (std::array<uint16_t, 4>{2, 3, 4, 65535}));
    const std::vector<std::pair<std::string, std::string>> want = {
        {"CompanyName", "Vendor \xC2\xA9"},
        {"Comments", "kept"},
        {"FileVersion", "2.3.4.65535"},
        {"ProductVersion", "2.3.4.65535"}};
    EXPECT_EQ(summary.strings, want);
    // Cut short, it is refused rather than read past its end.
    edited.resize(edited.size() - 10);
    EXPECT_FALSE(txlib::EditVersionResource(&edited, second, &made, &error));
}

TEST(IconFile, DamagedFilesAreRefused) {
    std::vector<uint8_t> ico = {0, 0,  1, 0,  1, 0, 16, 16, 0, 0, 1,
                                0, 32, 0, 40, 0, 0, 0,  22, 0, 0, 0};
    ico.resize(22 + 40, 0);
    ico[22] = 40;
    struct Case {
        const char* what;
        size_t at;
        uint8_t value;
        bool good;
    };
    for (const Case& c : {Case{"a bitmap", 0, 0, true}, Case{"type 2 (a cursor)", 2, 2, false},
                          Case{"image past the end", 14, 41, false},
                          Case{"neither PNG nor bitmap", 22, 12, false}}) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> file = ico;
        file[c.at] = c.value;
        std::vector<txlib::IconImage> images;
        std::string error;
        EXPECT_EQ(txlib::ReadIcoFile(file, &images, &error), c.good) << error;
        if (c.good) {
            EXPECT_EQ(txlib::GroupIconMembers(txlib::GroupIconResource(images, 7)),
                      std::vector<uint16_t>{7});
        }
    }
}

} // namespace
