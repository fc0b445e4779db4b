#include "formats/certificate.h"

#include "formats/pelayout.h"

#include "library/container.h"

#include <algorithm>
#include <cstring>

namespace txlib {

std::optional<CertificateTable> FindCertificateTable(const ByteSource& bytes) {
    uint8_t mz[2] = {};
    if (bytes.Size() < 64) return std::nullopt;
    bytes.Read(0, mz, 2);
    if (mz[0] != 'M' || mz[1] != 'Z') return std::nullopt;
    const PeLayout pe = ReadPeLayout(bytes);
    const auto entry = pe.Directory(kCertificateDirectory);
    if (!entry) return std::nullopt;
    CertificateTable table{*entry, ReadU32(bytes, *entry), ReadU32(bytes, *entry + 4), false,
                           false};
    if (table.offset == 0 && table.size == 0) return std::nullopt;
    const uint64_t end = uint64_t{table.offset} + table.size;
    table.inside = table.size > 0 && table.offset >= pe.program_end && end <= bytes.Size();
    table.at_end = table.inside && (end + 7) / 8 * 8 >= bytes.Size();
    return table;
}

uint64_t EndOfUnsignedData(const ByteSource& bytes) {
    const auto table = FindCertificateTable(bytes);
    return table && table->at_end ? table->offset : bytes.Size();
}

uint64_t LibraryEndBeforeSignature(const ByteSource& bytes, uint64_t library, uint64_t end) {
    const auto table = FindCertificateTable(bytes);
    if (!table || !table->at_end || end != table->offset || end % 8 != 0 ||
        end - library < tx::kHeaderBlockSize)
        return end;
    tx::HeaderBlock header;
    bytes.Read(library, &header, sizeof header);
    if (!tx::ContainerMagicMatches(&header) || header.used > header.capacity) return end;
    uint64_t used = library + static_cast<uint64_t>(tx::ContainerNewSize(header.capacity));
    if (used > end) return end;
    for (unsigned i = 0; i < header.used; ++i) {
        tx::DirEntry entry;
        bytes.Read(library + tx::kHeaderBlockSize + uint64_t{i} * tx::kDirEntrySize, &entry,
                   sizeof entry);
        // Copies: the fields of the packed entry are not aligned.
        const uint32_t offset = entry.offset, size = entry.size, allocated = entry.allocated;
        if (entry.state == 1 || offset != 0)
            used = std::max(used, library + offset + std::max(size, allocated));
    }
    if (used >= end || end - used >= 8) return end;
    uint8_t pad[8] = {};
    bytes.Read(used, pad, static_cast<size_t>(end - used));
    return std::all_of(pad, pad + (end - used), [](uint8_t b) { return b == 0; }) ? used : end;
}

SignatureRemoval RemoveSignature(const ByteSource& bytes) {
    const auto table = FindCertificateTable(bytes);
    if (!table) return {bytes.Size(), {}, false};
    // A table that does not end the file is no signature a tool wrote: its
    // entry goes, and the bytes stay where they are.
    return {table->at_end ? table->offset : bytes.Size(),
            {Patch{table->entry, std::vector<uint8_t>(8, 0)}},
            true};
}

} // namespace txlib
