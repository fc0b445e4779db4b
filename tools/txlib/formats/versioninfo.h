// The version resource (RT_VERSION): a tree of blocks, each a length, the
// length of its value, its type (1: text, 0: binary), a UTF-16 key, a value
// and its children, every part on a 4-byte boundary. The root,
// VS_VERSION_INFO, holds the fixed file information (the four-part file and
// product versions Explorer shows first), then StringFileInfo with one
// table of texts per language and code page, and VarFileInfo, whose
// Translation lists those languages.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace txlib {

struct VersionBlock {
    std::u16string key;
    uint16_t type = 0;
    std::vector<uint8_t> value;
    std::vector<VersionBlock> children;
};

// False (with the reason) for bytes that are not one whole block tree.
bool ParseVersionBlock(const std::vector<uint8_t>& bytes, VersionBlock* root, std::string* error);
std::vector<uint8_t> WriteVersionBlock(const VersionBlock& root);

struct VersionEdit {
    std::optional<std::array<uint16_t, 4>> version;                 // file and product version
    std::vector<std::pair<std::u16string, std::u16string>> strings; // key, value
};

// The version resource `existing` (nullptr: a new one, for US English,
// Unicode) with the edit made: the fixed versions and the FileVersion and
// ProductVersion texts set, and every text given set in the first string
// table (made where there is none, for the language of Translation).
// False (with the reason) when `existing` cannot be read.
bool EditVersionResource(const std::vector<uint8_t>* existing, const VersionEdit& edit,
                         std::vector<uint8_t>* out, std::string* error);

struct VersionSummary {
    std::optional<std::array<uint16_t, 4>> file_version, product_version;
    std::string table;                                        // the string table's key, "040904B0"
    std::vector<std::pair<std::string, std::string>> strings; // UTF-8
};
bool ReadVersionResource(const std::vector<uint8_t>& bytes, VersionSummary* out,
                         std::string* error);

// "1.2.3.4" as its four parts; false for anything else.
bool ParseVersionNumber(const std::string& text, std::array<uint16_t, 4>* out);

} // namespace txlib
