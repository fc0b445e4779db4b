// A signed Windows program's certificate table: the signature that
// signing tools append to the end of the file and record in data directory
// 4 (by file offset, not by address). Everything before it is what the
// signature covers, the embedded library included, so the library ends
// where the table begins. A program changed in any way no longer matches
// its signature: the writers drop the table and its directory entry, so
// that the program can be signed again, and say so.
#pragma once

#include "host/bytesource.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace txlib {

constexpr char kSignatureRemoved[] = "the signature was removed; sign the program again";

struct CertificateTable {
    size_t entry;    // file offset of the directory entry
    uint32_t offset; // file offset of the table, as recorded
    uint32_t size;
    // The table lies in the file and ends it (up to its 8-byte padding):
    // what a signing tool writes.
    bool at_end;
    bool inside; // the recorded range lies in the file
};

// The certificate table a Windows program records, if any; nothing for any
// other file.
std::optional<CertificateTable> FindCertificateTable(const ByteSource& bytes);

// Where the program's own bytes and its embedded library end: the start of
// a certificate table that ends the file, else the end of the file.
uint64_t EndOfUnsignedData(const ByteSource& bytes);

// The end of the library at `library` in a signed program whose data ends at
// `end` (EndOfUnsignedData): a signing tool pads the file with up to 7 zero
// bytes so that its table starts on an 8-byte boundary, and those bytes,
// beyond the container's directory and every entry's data, are no part of
// the library.
uint64_t LibraryEndBeforeSignature(const ByteSource& bytes, uint64_t library, uint64_t end);

// What a writer does to a program that records a certificate table: the
// bytes to keep (all, or those before a table that ends the file) and the
// patch that clears the directory entry. Nothing when it records none.
struct SignatureRemoval {
    uint64_t keep;
    std::vector<Patch> patches;
    bool removed;
};
SignatureRemoval RemoveSignature(const ByteSource& bytes);

} // namespace txlib
