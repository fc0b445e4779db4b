// The commands over launcher executables: slots, embed, unembed, and info
// on a program.
#include "commands.h"
#include "exeimage.h"
#include "failure.h"
#include "files.h"
#include "librarytools.h"
#include "slotvalues.h"
#include "text.h"

#include "library/container.h"

#include <cstdio>
#include <cstring>

namespace txlib {

namespace {

constexpr uint64_t kLibraryAlignment = 512;
constexpr uint64_t kOffsetMax = 0x7FFFFFFF; // the launcher keeps offsets in signed 32 bits

// The text with NULs and other control characters escaped, for showing raw
// entries.
std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte == 0) {
            out += "\\0";
        } else if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return DisplayText(out);
}

// Runs of "." padding shortened for display.
std::string Shortened(const std::string& raw) {
    const size_t end = raw.find_last_not_of('.');
    const size_t dots = end == std::string::npos ? raw.size() : raw.size() - end - 1;
    if (dots <= 3) return Escaped(raw);
    return Escaped(raw.substr(0, raw.size() - dots)) + "[" + std::to_string(dots) + " dots]";
}

const StringEntry* FirstCopy(const ExeImage& image, unsigned id) {
    const auto it = image.strings.find(id);
    return it == image.strings.end() || it->second.empty() ? nullptr : &it->second.front();
}

void PrintSlots(const Options& options, const std::vector<uint8_t>& bytes, const ExeImage& image) {
    bool lossy = false;
    for (const SlotInfo& slot : Slots()) {
        if (slot.continuation) continue;
        const StringEntry* first = FirstCopy(image, slot.id);
        const StringEntry* second = slot.second ? FirstCopy(image, slot.second) : nullptr;
        const std::string ids = slot.second
                                    ? std::to_string(slot.id) + "+" + std::to_string(slot.second)
                                    : std::to_string(slot.id);
        std::printf("%-5s %-8s %-26s ", ids.c_str(), slot.name, slot.role);
        if (!first || (slot.second && !second)) {
            std::printf("(absent)\n");
            continue;
        }
        const std::string a = ReadEntry(bytes, *first, &lossy);
        const std::string b = second ? ReadEntry(bytes, *second, &lossy) : std::string();
        std::printf("\"%s\"\n", Escaped(SlotValue(slot, a, b)).c_str());
        if (options.verbosity > 1) {
            std::printf("      entry %-2u %3u characters: \"%s\"\n", slot.id, first->length,
                        Shortened(a).c_str());
            if (second)
                std::printf("      entry %-2u %3u characters: \"%s\"\n", slot.second,
                            second->length, Shortened(b).c_str());
        }
    }
    if (lossy)
        std::fprintf(stderr,
                     "txlib: some stored characters lie outside Windows-1252 and show as '?'\n");
}

// Reads the program and parses it.
ExeImage LoadProgram(const std::string& exe, std::vector<uint8_t>* bytes) {
    *bytes = ReadWholeFile(exe);
    return ParseExecutable(*bytes, exe);
}

uint64_t AlignUp(uint64_t value) {
    return (value + kLibraryAlignment - 1) / kLibraryAlignment * kLibraryAlignment;
}

} // namespace

int CommandSlots(const Options& options, const std::string& exe,
                 const std::vector<std::pair<std::string, std::string>>& sets) {
    WriteLock lock(exe, !sets.empty());
    std::vector<uint8_t> bytes;
    const ExeImage image = LoadProgram(exe, &bytes);
    if (image.strings.empty()) Fail(exe, image.strings_problem);
    if (sets.empty()) {
        PrintSlots(options, bytes, image);
        return 0;
    }

    // Every value is laid into a copy first; one that does not fit writes
    // nothing at all.
    std::vector<uint8_t> patched = bytes;
    for (const auto& [key, argument] : sets) {
        const SlotInfo* slot = FindSlot(key);
        if (!slot)
            Fail("",
                 "no slot \"" + key +
                     "\" (1 to 11, or window, library, project, host, "
                     "version, modules, flags)",
                 kExitUsage);
        if (slot->continuation)
            Fail("",
                 "slot " + key + " continues slot " + std::to_string(slot->id - 1) + ": set slot " +
                     std::to_string(slot->id - 1) + " with the whole value",
                 kExitUsage);
        std::string value, error;
        if (!ArgumentText(argument, &value, &error))
            Fail(exe, "the value of slot " + std::to_string(slot->id) + " " + error);
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
        for (size_t copy = 0; copy < first->second.size(); ++copy) {
            const StringEntry& a = first->second[copy];
            const StringEntry* b = seconds ? &(*seconds)[copy] : nullptr;
            std::string stored_a, stored_b;
            if (!EncodeSlot(*slot, value, a.length, b ? b->length : 0, &stored_a, &stored_b,
                            &error))
                Fail(exe, "slot " + std::to_string(slot->id) + ": the value " + error +
                              "; nothing written");
            WriteEntry(patched, a, stored_a);
            if (b) WriteEntry(patched, *b, stored_b);
        }
    }
    if (image.checksum_field) {
        PeChecksum sum(*image.checksum_field);
        sum.Add(patched.data(), patched.size());
        WriteU32(patched, *image.checksum_field, sum.Finish());
    }
    OutputFile out(exe);
    out.Open();
    out.Write(patched.data(), patched.size());
    out.KeepModeOf(exe);
    out.Commit();
    if (options.verbosity > 0) PrintSlots(options, patched, ParseExecutable(patched, exe));
    return 0;
}

int CommandEmbed(const Options& options, const std::string& exe, const std::string& library,
                 const std::string& out_path, bool any_kind) {
    WriteLock lock(out_path);
    std::vector<uint8_t> bytes;
    const ExeImage image = LoadProgram(exe, &bytes);
    if (!image.library_field)
        Fail(exe, "cannot hold an embedded library: " + image.library_problem);

    const std::vector<uint8_t> data = ReadWholeFile(library);
    if (LooksLikeExecutable(data.data(), data.size()))
        Fail(library, "is a program, not a library container");
    CheckContainer(library, data.data(), data.size(), data.size(), true);
    tx::HeaderBlock header;
    std::memcpy(&header, data.data(), sizeof header);
    if (header.kind != 0 && !any_kind)
        Fail(library,
             "has kind " + std::to_string(header.kind) +
                 "; the launcher opens only a library of kind 0 (--any-kind embeds it anyway)");

    // A library already embedded is replaced where it lies; otherwise the
    // new one follows everything in the file, on an aligned offset.
    const uint32_t old = EmbeddedOffset(bytes, image, exe);
    const uint64_t keep = old != 0 ? old : bytes.size();
    const uint64_t base = old != 0 ? old : AlignUp(bytes.size());
    if (base + data.size() > kOffsetMax)
        Fail(out_path, "would be larger than 2 GiB, beyond what the launcher can address");

    std::vector<uint8_t> head(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(keep));
    head.resize(static_cast<size_t>(base), 0);
    WriteU32(head, *image.library_field, static_cast<uint32_t>(base));
    if (image.checksum_field) {
        PeChecksum sum(*image.checksum_field);
        sum.Add(head.data(), head.size());
        sum.Add(data.data(), data.size());
        WriteU32(head, *image.checksum_field, sum.Finish());
    }

    OutputFile out(out_path);
    out.Open();
    out.Write(head.data(), head.size());
    out.Write(data.data(), data.size());
    out.KeepModeOf(exe);
    out.Commit();
    if (options.verbosity > 0)
        std::printf("%s: library %s embedded at offset %llu (0x%llX), %llu bytes%s\n",
                    out_path.c_str(), library.c_str(), static_cast<unsigned long long>(base),
                    static_cast<unsigned long long>(base),
                    static_cast<unsigned long long>(data.size()),
                    old != 0 ? ", replacing the one embedded before" : "");
    return 0;
}

int CommandUnembed(const Options& options, const std::string& exe, const std::string& out_path) {
    WriteLock lock(out_path);
    std::vector<uint8_t> bytes;
    const ExeImage image = LoadProgram(exe, &bytes);
    if (!image.library_field) Fail(exe, "has no embedded library: " + image.library_problem);
    const uint32_t offset = EmbeddedOffset(bytes, image, exe);
    if (offset == 0) Fail(exe, "has no embedded library");
    CheckContainer(exe + " (embedded library)", bytes.data() + offset, bytes.size() - offset,
                   bytes.size() - offset, true);

    OutputFile out(out_path);
    out.Open();
    out.Write(bytes.data() + offset, bytes.size() - offset);
    out.Commit();
    if (options.verbosity > 0)
        std::printf("%s: %llu bytes from offset %lu of %s\n", out_path.c_str(),
                    static_cast<unsigned long long>(bytes.size() - offset),
                    static_cast<unsigned long>(offset), exe.c_str());
    return 0;
}

int CommandInfo(const Options& options, const std::string& file) {
    const std::vector<uint8_t> start = ReadFileRange(file, 0, 4);
    if (!LooksLikeExecutable(start.data(), start.size())) return LibraryInfo(options, file, 0);

    std::vector<uint8_t> bytes;
    const ExeImage image = LoadProgram(file, &bytes);
    std::printf("file:              %s\n", file.c_str());
    std::printf("format:            %s program, %llu bytes\n", image.description.c_str(),
                static_cast<unsigned long long>(bytes.size()));
    std::printf("image ends at:     %llu\n", static_cast<unsigned long long>(image.image_end));
    if (image.strings.empty()) {
        std::printf("slots:             none: %s\n", image.strings_problem.c_str());
    } else {
        std::string ids;
        for (const auto& [id, copies] : image.strings) {
            if (!ids.empty()) ids.push_back(',');
            ids.append(std::to_string(id));
        }
        std::printf("slots:             strings %s", ids.c_str());
        const size_t copies = image.strings.begin()->second.size();
        if (copies > 1) std::printf(", in %u languages", static_cast<unsigned>(copies));
        std::printf("\n");
    }
    if (!image.library_field) {
        std::printf("embedded library:  cannot be recorded: %s\n", image.library_problem.c_str());
        return 0;
    }
    std::printf("offset field at:   %llu\n", static_cast<unsigned long long>(*image.library_field));
    const uint32_t offset = EmbeddedOffset(bytes, image, file);
    if (offset == 0) {
        std::printf("embedded library:  none\n");
        return 0;
    }
    std::printf("embedded library:  at offset %lu (0x%lX), %llu bytes\n",
                static_cast<unsigned long>(offset), static_cast<unsigned long>(offset),
                static_cast<unsigned long long>(bytes.size() - offset));
    return LibraryInfo(options, file, offset);
}

} // namespace txlib
