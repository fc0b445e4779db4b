#include "formats/versioninfo.h"

#include "formats/resourcetree.h"

#include <cstdio>

namespace txlib {

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52;

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}
void Set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
size_t Align4(size_t v) {
    return (v + 3) & ~size_t{3};
}

// The block at `at`, which must end by `limit`; answers where it ends.
bool ParseAt(const std::vector<uint8_t>& b, size_t at, size_t limit, int depth, VersionBlock* out,
             size_t* end, std::string* error) {
    if (depth > 8) {
        *error = "its blocks are nested too deep";
        return false;
    }
    if (limit - at < 6 || Get16(b, at) < 6 || Get16(b, at) > limit - at) {
        *error = "a block runs past its end";
        return false;
    }
    *end = at + Get16(b, at);
    const uint16_t value_length = Get16(b, at + 2);
    out->type = Get16(b, at + 4);
    size_t p = at + 6;
    for (;; p += 2) {
        if (*end - p < 2) {
            *error = "a block's key has no end";
            return false;
        }
        if (Get16(b, p) == 0) break;
        out->key.push_back(static_cast<char16_t>(Get16(b, p)));
    }
    p = Align4(p + 2);
    if (p > *end) p = *end;
    size_t value = out->type == 1 ? 2 * size_t{value_length} : value_length;
    if (value > *end - p) {
        if (out->type != 1) {
            *error = "a block's value runs past its end";
            return false;
        }
        // Some writers count a text's value in bytes, not characters.
        value = *end - p;
    }
    out->value.assign(b.begin() + static_cast<ptrdiff_t>(p),
                      b.begin() + static_cast<ptrdiff_t>(p + value));
    p = Align4(p + value);
    while (p + 6 <= *end) {
        VersionBlock child;
        size_t child_end = 0;
        if (!ParseAt(b, p, *end, depth + 1, &child, &child_end, error)) return false;
        out->children.push_back(std::move(child));
        p = Align4(child_end);
    }
    return true;
}

void WriteAt(const VersionBlock& block, std::vector<uint8_t>& out) {
    const size_t at = out.size();
    out.resize(at + 6, 0);
    for (char16_t c : block.key) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    out.resize(Align4(out.size()), 0);
    out.insert(out.end(), block.value.begin(), block.value.end());
    for (const VersionBlock& child : block.children) {
        out.resize(Align4(out.size()), 0);
        WriteAt(child, out);
    }
    const size_t length = out.size() - at;
    const size_t value = block.type == 1 ? block.value.size() / 2 : block.value.size();
    out[at] = static_cast<uint8_t>(length);
    out[at + 1] = static_cast<uint8_t>(length >> 8);
    out[at + 2] = static_cast<uint8_t>(value);
    out[at + 3] = static_cast<uint8_t>(value >> 8);
    out[at + 4] = static_cast<uint8_t>(block.type);
    out[at + 5] = 0;
}

std::vector<uint8_t> TextValue(const std::u16string& text) {
    std::vector<uint8_t> value;
    for (char16_t c : text) {
        value.push_back(static_cast<uint8_t>(c));
        value.push_back(static_cast<uint8_t>(c >> 8));
    }
    value.push_back(0);
    value.push_back(0);
    return value;
}

std::u16string ValueText(const std::vector<uint8_t>& value) {
    std::u16string text;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(Get16(value, i));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

std::u16string Ascii16(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

VersionBlock* Child(VersionBlock& parent, const std::u16string& key) {
    for (VersionBlock& child : parent.children)
        if (child.key == key) return &child;
    return nullptr;
}

std::u16string VersionText(const std::array<uint16_t, 4>& v) {
    return Ascii16(std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) +
                   "." + std::to_string(v[3]));
}

VersionBlock NewVersionResource() {
    VersionBlock root;
    root.key = u"VS_VERSION_INFO";
    root.value.assign(kFixedSize, 0);
    Set32(root.value, 0, kFixedSignature);
    Set32(root.value, 4, 0x00010000);  // structure version 1.0
    Set32(root.value, 24, 0x3F);       // every flag is meaningful, none set
    Set32(root.value, 32, 0x00040004); // a 32-bit Windows program
    Set32(root.value, 36, 1);          // an application
    VersionBlock strings{u"StringFileInfo", 1, {}, {VersionBlock{u"040904B0", 1, {}, {}}}};
    VersionBlock translation{u"Translation", 0, {0x09, 0x04, 0xB0, 0x04}, {}};
    VersionBlock vars{u"VarFileInfo", 1, {}, {translation}};
    root.children = {strings, vars};
    return root;
}

} // namespace

bool ParseVersionBlock(const std::vector<uint8_t>& bytes, VersionBlock* root, std::string* error) {
    size_t end = 0;
    *root = VersionBlock{};
    if (!ParseAt(bytes, 0, bytes.size(), 0, root, &end, error)) return false;
    if (root->key != u"VS_VERSION_INFO" || root->value.size() < kFixedSize ||
        Get32(root->value, 0) != kFixedSignature) {
        *error = "it is not a VS_VERSION_INFO block with fixed file information";
        return false;
    }
    return true;
}

std::vector<uint8_t> WriteVersionBlock(const VersionBlock& root) {
    std::vector<uint8_t> out;
    WriteAt(root, out);
    return out;
}

bool EditVersionResource(const std::vector<uint8_t>* existing, const VersionEdit& edit,
                         std::vector<uint8_t>* out, std::string* error) {
    VersionBlock root = NewVersionResource();
    if (existing && !ParseVersionBlock(*existing, &root, error)) return false;
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    if (edit.version) {
        const auto& v = *edit.version;
        for (size_t at : {size_t{8}, size_t{16}}) { // file, then product version
            Set32(root.value, at, (uint32_t{v[0]} << 16) | v[1]);
            Set32(root.value, at + 4, (uint32_t{v[2]} << 16) | v[3]);
        }
        strings.emplace_back(u"FileVersion", VersionText(v));
        strings.emplace_back(u"ProductVersion", VersionText(v));
    }
    strings.insert(strings.end(), edit.strings.begin(), edit.strings.end());
    if (strings.empty()) {
        *out = WriteVersionBlock(root);
        return true;
    }
    VersionBlock* file_info = Child(root, u"StringFileInfo");
    if (!file_info) {
        root.children.insert(root.children.begin(), VersionBlock{u"StringFileInfo", 1, {}, {}});
        file_info = &root.children.front();
    }
    if (file_info->children.empty()) {
        // A table for the first language and code page the program declares.
        std::u16string key = u"040904B0";
        VersionBlock* vars = Child(root, u"VarFileInfo");
        VersionBlock* translation = vars ? Child(*vars, u"Translation") : nullptr;
        if (translation && translation->value.size() >= 4) {
            char text[16];
            std::snprintf(text, sizeof text, "%04X%04X", Get16(translation->value, 0),
                          Get16(translation->value, 2));
            key = Ascii16(text);
        }
        file_info->children.push_back(VersionBlock{key, 1, {}, {}});
    }
    VersionBlock& table = file_info->children.front();
    for (const auto& [key, value] : strings) {
        VersionBlock* entry = Child(table, key);
        if (!entry) {
            table.children.push_back(VersionBlock{key, 1, {}, {}});
            entry = &table.children.back();
        }
        entry->type = 1;
        entry->value = TextValue(value);
    }
    *out = WriteVersionBlock(root);
    return true;
}

bool ReadVersionResource(const std::vector<uint8_t>& bytes, VersionSummary* out,
                         std::string* error) {
    VersionBlock root;
    if (!ParseVersionBlock(bytes, &root, error)) return false;
    auto four = [&](size_t at) {
        return std::array<uint16_t, 4>{static_cast<uint16_t>(Get32(root.value, at) >> 16),
                                       static_cast<uint16_t>(Get32(root.value, at) & 0xFFFF),
                                       static_cast<uint16_t>(Get32(root.value, at + 4) >> 16),
                                       static_cast<uint16_t>(Get32(root.value, at + 4) & 0xFFFF)};
    };
    out->file_version = four(8);
    out->product_version = four(16);
    VersionBlock* file_info = Child(root, u"StringFileInfo");
    if (file_info && !file_info->children.empty()) {
        const VersionBlock& table = file_info->children.front();
        out->table = Utf16ToUtf8(table.key);
        for (const VersionBlock& entry : table.children)
            out->strings.emplace_back(Utf16ToUtf8(entry.key), Utf16ToUtf8(ValueText(entry.value)));
    }
    return true;
}

bool ParseVersionNumber(const std::string& text, std::array<uint16_t, 4>* out) {
    size_t part = 0, digits = 0;
    uint32_t value = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits == 0 || part > 3) return false;
            (*out)[part++] = static_cast<uint16_t>(value);
            value = 0;
            digits = 0;
            continue;
        }
        if (text[i] < '0' || text[i] > '9' || ++digits > 5) return false;
        value = value * 10 + static_cast<uint32_t>(text[i] - '0');
        if (value > 0xFFFF) return false;
    }
    return part == 4;
}

} // namespace txlib
