// The configuration texts of a launcher: the runtime module list, the library
// specification resolved against the host module's path, the text-too-long
// message, and the library tool's laying of a value into stored slot entries,
// which the launcher must read back as the value itself.
//
// Input: one byte choosing the slot, two bytes of stored entry lengths, then
// the text; a line break in the text separates the library specification
// from the host module's path.
#include "launcher/modules.h"
#include "launcher/slots.h"
#include "platform/fault.h"
#include "formats/slotvalues.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void ModuleList(const std::string& text) {
    // A slot is read with a limit of 260: at most 259 characters.
    char list[tx::kSlotReadLimit];
    const size_t length = strnlen(text.c_str(), sizeof list - 1);
    std::memcpy(list, text.c_str(), length);
    list[length] = 0;
    Check(tx::BuildModuleTable() == 1);
    const char* rejected = nullptr;
    size_t rejected_length = 0;
    if (tx::ParseModuleList(list, &rejected, &rejected_length)) {
        for (int i = 0; i < 9; ++i) {
            const char* name = tx::ModuleNameByIndex(i);
            Check(std::strlen(name) <= tx::kModuleNameMax);
            for (const char* c = name; *c; ++c)
                Check(*c < 'a' || *c > 'z');
        }
    } else {
        Check(rejected >= list && rejected < list + sizeof list);
        Check(rejected_length > tx::kModuleNameMax);
        char message[tx::kTooLongMessageSize];
        const int written =
            tx::FormatTextTooLong(message, rejected, rejected_length, tx::kModuleNameMax);
        Check(written > 0 && std::strlen(message) < sizeof message);
    }
    tx::ReleaseModuleTable();
}

void LibrarySpec(const std::string& text) {
    const size_t cut = text.find('\n');
    const std::string spec_text = text.substr(0, cut).c_str();
    const std::string found = cut == std::string::npos ? "" : text.substr(cut + 1).c_str();
    if (spec_text.size() >= tx::kPairBufferSize || found.size() >= MAX_PATH) return;
    char spec[tx::kPairBufferSize];
    std::memcpy(spec, spec_text.c_str(), spec_text.size() + 1);
    size_t resolved = 0;
    const int ok = tx::ResolveLibrarySpec(spec, sizeof spec, found.c_str(), &resolved);
    if (ok) {
        Check(std::strlen(spec) == resolved);
        if (found.find('\\') != std::string::npos) Check(resolved <= tx::kPathMax);
    } else {
        Check(spec_text == spec && resolved > tx::kPathMax);
    }
}

void SlotLayout(unsigned choice, size_t first_length, size_t second_length,
                const std::string& value) {
    const auto& slots = txlib::Slots();
    const txlib::SlotInfo& slot = slots[choice % slots.size()];
    if (slot.continuation) return;
    if (slot.second == 0) second_length = 0;
    std::string first, second, error;
    if (!txlib::EncodeSlot(slot, value, first_length, second_length, &first, &second, &error)) {
        Check(!error.empty());
        return;
    }
    Check(first.size() == first_length);
    if (slot.second != 0) Check(second.size() == second_length);
    Check(txlib::SlotValue(slot, first, second) == value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 4096) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 3, size - 3);
    const long blocks = txplat::LiveGlobalBlocks();
    ModuleList(text.c_str());
    Check(txplat::LiveGlobalBlocks() == blocks);
    LibrarySpec(text);
    SlotLayout(data[0], 1 + data[1] % 160u, 1 + data[2] % 160u, text.c_str());
    return 0;
}
