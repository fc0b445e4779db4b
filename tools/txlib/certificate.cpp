#include "certificate.h"

#include "pelayout.h"

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
