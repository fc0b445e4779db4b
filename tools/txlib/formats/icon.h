// Icons: the .ico file, and the two resources that carry one in a program.
// Each image of the file becomes an RT_ICON resource of its own, and an
// RT_GROUP_ICON resource lists them: for each image the 12 bytes of its .ico
// directory entry (size, colours, planes, bits, byte count), with the
// resource id in place of the file offset. Images stored as PNG stay PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace txlib {

struct IconImage {
    uint8_t entry[12]; // width, height, colours, reserved, planes, bits, byte count
    std::vector<uint8_t> data;
};

// The images of a .ico file; false (with the reason) for anything else.
bool ReadIcoFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images,
                 std::string* error);

// The RT_GROUP_ICON resource for `images`, stored as icons first_id,
// first_id + 1 and so on.
std::vector<uint8_t> GroupIconResource(const std::vector<IconImage>& images, uint16_t first_id);

// The icon ids a group icon resource lists.
std::vector<uint16_t> GroupIconMembers(const std::vector<uint8_t>& group);

} // namespace txlib
