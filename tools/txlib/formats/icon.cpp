#include "formats/icon.h"

#include <cstring>

namespace txlib {

namespace {

uint16_t Get16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return Get16(b, at) | (static_cast<uint32_t>(Get16(b, at + 2)) << 16);
}

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

} // namespace

bool ReadIcoFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images,
                 std::string* error) {
    if (file.size() < 6 || Get16(file, 0) != 0 || Get16(file, 2) != 1) {
        *error = "is not an icon file (.ico)";
        return false;
    }
    const uint16_t count = Get16(file, 4);
    if (count == 0 || file.size() < 6 + 16 * size_t{count}) {
        *error = count == 0 ? "holds no image" : "is cut short: its directory runs past its end";
        return false;
    }
    images->clear();
    for (uint16_t i = 0; i < count; ++i) {
        const size_t e = 6 + 16 * size_t{i};
        const uint32_t size = Get32(file, e + 8);
        const uint32_t offset = Get32(file, e + 12);
        if (size < 8 || offset > file.size() || size > file.size() - offset) {
            *error = "is damaged: image " + std::to_string(i + 1) + " lies outside the file";
            return false;
        }
        IconImage image;
        std::memcpy(image.entry, &file[e], sizeof image.entry);
        image.data.assign(file.begin() + offset, file.begin() + offset + size);
        // An image is a PNG file or a device-independent bitmap, which
        // starts with its 40-byte header.
        const bool png = std::memcmp(image.data.data(), kPngSignature, 8) == 0;
        if (!png && Get32(image.data, 0) != 40) {
            *error = "is damaged: image " + std::to_string(i + 1) +
                     " is neither a PNG image nor a bitmap";
            return false;
        }
        images->push_back(std::move(image));
    }
    return true;
}

std::vector<uint8_t> GroupIconResource(const std::vector<IconImage>& images, uint16_t first_id) {
    std::vector<uint8_t> out = {
        0, 0, 1, 0, static_cast<uint8_t>(images.size()), static_cast<uint8_t>(images.size() >> 8)};
    for (size_t i = 0; i < images.size(); ++i) {
        out.insert(out.end(), images[i].entry, images[i].entry + sizeof images[i].entry);
        const uint16_t id = static_cast<uint16_t>(first_id + i);
        out.push_back(static_cast<uint8_t>(id));
        out.push_back(static_cast<uint8_t>(id >> 8));
    }
    return out;
}

std::vector<uint16_t> GroupIconMembers(const std::vector<uint8_t>& group) {
    std::vector<uint16_t> ids;
    if (group.size() < 6) return ids;
    const uint16_t count = Get16(group, 4);
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i)
        ids.push_back(Get16(group, 6 + 14 * i + 12));
    return ids;
}

} // namespace txlib
