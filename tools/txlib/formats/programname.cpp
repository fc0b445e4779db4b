#include "formats/programname.h"

#include "host/failure.h"
#include "formats/longnames.h"
#include "formats/slotvalues.h"
#include "host/text.h"

#include <cstdio>

namespace txlib {

std::vector<Patch> SlotPatches(const std::string& exe, const ExeImage& image,
                               const std::string& key, const std::string& value) {
    const SlotInfo* slot = FindSlot(key);
    if (slot == nullptr) Fail("", "no slot \"" + key + "\"", kExitUsage);
    const auto first = image.strings.find(slot->id);
    if (first == image.strings.end()) Fail(exe, "has no string " + std::to_string(slot->id));
    const std::vector<StringEntry>* seconds = nullptr;
    if (slot->second) {
        const auto it = image.strings.find(slot->second);
        if (it == image.strings.end() || it->second.size() != first->second.size())
            Fail(exe, "has no string " + std::to_string(slot->second) + " beside string " +
                          std::to_string(slot->id));
        seconds = &it->second;
    }
    std::vector<Patch> patches;
    for (size_t copy = 0; copy < first->second.size(); ++copy) {
        const StringEntry& a = first->second[copy];
        const StringEntry* b = seconds ? &(*seconds)[copy] : nullptr;
        std::string stored_a, stored_b, error;
        if (!EncodeSlot(*slot, value, a.length, b ? b->length : 0, &stored_a, &stored_b, &error))
            Fail(exe,
                 "slot " + std::to_string(slot->id) + ": the value " + error + "; nothing written");
        patches.push_back(EntryPatch(a, stored_a));
        if (b) patches.push_back(EntryPatch(*b, stored_b));
    }
    return patches;
}

std::string SlotText(const InputFile& program, const ExeImage& image, unsigned id) {
    const SlotInfo* slot = FindSlot(std::to_string(id));
    const auto first = image.strings.find(id);
    if (slot == nullptr || first == image.strings.end() || first->second.empty()) return "";
    std::string second;
    if (slot->second) {
        const auto it = image.strings.find(slot->second);
        if (it != image.strings.end() && !it->second.empty())
            second = ReadEntry(program, it->second.front());
    }
    return SlotValue(*slot, ReadEntry(program, first->second.front()), second);
}

std::string LastPart(const std::string& path) {
    const size_t slash = path.find_last_of("/\\:");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::vector<Patch> ProgramNamePatches(const InputFile& program, const ExeImage& image,
                                      const std::string& exe, const std::string& out_path,
                                      bool set_name) {
    std::string name, error;
    const bool convertible = ArgumentText(LastPart(out_path), &name, &error);
    if (set_name) {
        if (!convertible) Fail(out_path, "the program's name " + error);
        if (image.strings.empty()) Fail(exe, image.strings_problem);
        std::vector<Patch> patches = SlotPatches(exe, image, "3", name + "/EXE");
        const std::vector<Patch> host = SlotPatches(exe, image, "7", name);
        patches.insert(patches.end(), host.begin(), host.end());
        return patches;
    }
    // A name the slots cannot hold is not compared.
    if (image.strings.empty() || !convertible) return {};
    const std::string library = SlotText(program, image, 3);
    const size_t marker = FoldCase(library).find("/EXE");
    if (marker == std::string::npos || marker == 0) return {};
    const std::string named = LastPart(library.substr(0, marker));
    if (FoldCase(named) == FoldCase(name)) return {};
    std::fprintf(stderr,
                 "txlib: %s: slot 3 says \"%s\": the runtime would be told of %s, which is not "
                 "this program; txlib slots %s --set library=%s/EXE fixes it (or embed with "
                 "--name)\n",
                 EscapeControls(out_path).c_str(), ShownText(library).c_str(),
                 ShownText(named).c_str(), EscapeControls(out_path).c_str(),
                 ShownText(name).c_str());
    return {};
}

} // namespace txlib
