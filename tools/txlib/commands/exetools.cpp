// The commands over launcher executables: slots, embed, unembed, and info
// on a program.
//
// A program is read by range: its headers and strings, and of an embedded
// library its header and directory. A program or library written anew is
// streamed through a fixed buffer into a temporary file renamed into place,
// so that memory stays the same whatever the size of the files.
#include "formats/certificate.h"
#include "commands/commands.h"
#include "formats/exeimage.h"
#include "formats/programname.h"
#include "host/failure.h"
#include "host/files.h"
#include "commands/librarytools.h"
#include "formats/slotvalues.h"
#include "host/text.h"

#include "library/container.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <tuple>
#include <utility>

namespace txlib {

namespace {

// Keys come out in the order they are written.
using Json = nlohmann::ordered_json;

constexpr uint64_t kLibraryAlignment = 512;
constexpr uint64_t kOffsetMax = 0x7FFFFFFF; // the launcher keeps offsets in signed 32 bits
constexpr size_t kCopyChunk = 1 << 20;      // bytes per read and write when streaming
// The largest header and directory a container may have.
constexpr size_t kDirectoryMax = tx::kHeaderBlockSize + tx::kMaxDirEntries * tx::kDirEntrySize;

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

void PrintSlots(const Options& options, const ByteSource& bytes, const ExeImage& image) {
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

// Writes one JSON document and a newline. Every text in it is UTF-8
// already (paths through PathUtf8); should one not be, its invalid bytes
// become U+FFFD, so that the output is always valid JSON.
void PrintJson(const Json& document) {
    const std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// The slots as a JSON document: each slot with its value as the launcher
// reads it (null when its entries are absent) and its stored entries.
Json SlotsJson(const ByteSource& bytes, const ExeImage& image, const std::string& path) {
    bool lossy = false;
    Json slots = Json::array();
    for (const SlotInfo& slot : Slots()) {
        if (slot.continuation) continue;
        const StringEntry* first = FirstCopy(image, slot.id);
        const StringEntry* second = slot.second ? FirstCopy(image, slot.second) : nullptr;
        Json entries = Json::array();
        std::string a, b;
        for (const auto& [id, entry, text] :
             {std::tuple{slot.id, first, &a}, std::tuple{slot.second, second, &b}}) {
            if (!entry) continue;
            *text = ReadEntry(bytes, *entry, &lossy);
            entries.push_back(
                {{"id", id}, {"length", entry->length}, {"stored", Cp1252ToUtf8(*text)}});
        }
        Json value = nullptr;
        if (first && (!slot.second || second)) value = Cp1252ToUtf8(SlotValue(slot, a, b));
        slots.push_back({{"id", slot.id},
                         {"second", slot.second ? Json(slot.second) : nullptr},
                         {"name", slot.name},
                         {"role", slot.role},
                         {"value", value},
                         {"entries", entries}});
    }
    const auto copies = image.strings.begin()->second.size();
    return {{"file", PathUtf8(path)},
            {"format", image.description},
            {"copies", copies},
            {"slots", slots},
            {"lossy", lossy}};
}

uint64_t AlignUp(uint64_t value) {
    return (value + kLibraryAlignment - 1) / kLibraryAlignment * kLibraryAlignment;
}

// Writes a program (or a library taken out of one) by streaming ranges of
// its inputs into a temporary file, renamed into place at the end. The PE
// checksum, when the program carries one, is summed over the bytes as they
// go out and stored last.
class StreamedOutput {
  public:
    StreamedOutput(const std::string& path, std::optional<size_t> checksum_field)
        : out_(path), field_(checksum_field), sum_(checksum_field.value_or(0)),
          buffer_(kCopyChunk) {
        out_.Open();
    }

    // The `count` bytes of `in` at `offset`, with the patches (at offsets of
    // `in`) laid over them.
    void Copy(const InputFile& in, uint64_t offset, uint64_t count,
              const std::vector<Patch>& patches = {}) {
        while (count > 0) {
            const size_t n = count < buffer_.size() ? static_cast<size_t>(count) : buffer_.size();
            in.Read(offset, buffer_.data(), n);
            for (const Patch& patch : patches)
                ApplyPatch(patch, offset, buffer_.data(), n);
            Put(buffer_.data(), n);
            offset += n;
            count -= n;
        }
    }

    void Zeros(uint64_t count) {
        std::fill(buffer_.begin(), buffer_.end(), 0);
        while (count > 0) {
            const size_t n = count < buffer_.size() ? static_cast<size_t>(count) : buffer_.size();
            Put(buffer_.data(), n);
            count -= n;
        }
    }

    // Stores the checksum and renames the file into place, with the
    // permission bits of `mode_of` when given.
    void Commit(const std::string& mode_of) {
        if (field_) {
            const Patch stored = U32Patch(*field_, sum_.Finish());
            out_.WriteAt(stored.offset, stored.bytes.data(), stored.bytes.size());
        }
        if (!mode_of.empty()) out_.KeepModeOf(mode_of);
        out_.Commit();
    }

  private:
    void Put(const uint8_t* data, size_t size) {
        if (field_) sum_.Add(data, size);
        out_.Write(data, size);
    }

    OutputFile out_;
    std::optional<size_t> field_;
    PeChecksum sum_;
    std::vector<uint8_t> buffer_;
};

// An output that is one of the command's inputs, under whatever name, would
// replace what is being read: refused before anything is read or written.
void RefuseInputAsOutput(const std::string& out,
                         std::initializer_list<std::pair<std::string, const char*>> inputs) {
    for (const auto& [path, what] : inputs)
        if (SameFile(out, path))
            Fail(out,
                 std::string("is ") + what + ": write the output to another file; nothing written");
}

// The offset of the library embedded in the program, or 0 when there is
// none: a recorded offset where no container begins (a record left behind,
// or one pointing at the end of the file) marks nothing that may be
// replaced, and the bytes there belong to the program.
uint32_t EmbeddedLibrary(const InputFile& program, const ExeImage& image) {
    const uint32_t offset = EmbeddedOffset(program, image);
    if (offset == 0) return 0;
    const std::vector<uint8_t> start = program.ReadRange(offset, sizeof(tx::HeaderBlock));
    tx::HeaderBlock header;
    if (start.size() < sizeof header) return 0;
    std::memcpy(&header, start.data(), sizeof header);
    return tx::ContainerMagicMatches(&header) ? offset : 0;
}

// The certificate table a signed program carries: null, or its offset and
// size, and whether it lies where a signing tool puts it.
Json CertificateJson(const ByteSource& bytes) {
    const auto table = FindCertificateTable(bytes);
    if (!table) return nullptr;
    return {{"offset", table->offset}, {"size", table->size}, {"ends_file", table->at_end}};
}

void PrintCertificate(const ByteSource& bytes) {
    const auto table = FindCertificateTable(bytes);
    if (!table) {
        std::printf("certificate table: none\n");
        return;
    }
    std::printf("certificate table: at offset %lu (0x%lX), %lu bytes%s\n",
                static_cast<unsigned long>(table->offset),
                static_cast<unsigned long>(table->offset), static_cast<unsigned long>(table->size),
                table->at_end   ? ""
                : table->inside ? ", not at the end of the file"
                                : ", damaged: it lies outside the file");
}

} // namespace

int CommandSlots(const Options& options, const std::string& exe,
                 const std::vector<std::pair<std::string, std::string>>& sets) {
    WriteLock lock(exe, !sets.empty());
    std::optional<InputFile> program(std::in_place, exe);
    const ExeImage image = ParseExecutable(*program);
    if (image.strings.empty()) Fail(exe, image.strings_problem);
    if (sets.empty()) {
        if (options.json)
            PrintJson(SlotsJson(*program, image, exe));
        else
            PrintSlots(options, *program, image);
        return 0;
    }

    // Every value is checked before anything is written; one that does not
    // fit writes nothing at all. The values go into a copy of the program as
    // it streams through.
    std::vector<Patch> patches;
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
        const std::vector<Patch> slot_patches = SlotPatches(exe, image, key, value);
        patches.insert(patches.end(), slot_patches.begin(), slot_patches.end());
    }
    const SignatureRemoval unsigned_program = RemoveSignature(*program);
    patches.insert(patches.end(), unsigned_program.patches.begin(), unsigned_program.patches.end());
    {
        StreamedOutput out(exe, image.checksum_field);
        out.Copy(*program, 0, unsigned_program.keep, patches);
        // Windows renames nothing over a file that is open.
        program.reset();
        out.Commit(exe);
    }
    if (unsigned_program.removed)
        std::fprintf(stderr, "txlib: %s: %s\n", EscapeControls(exe).c_str(), kSignatureRemoved);
    if (options.json || options.verbosity > 0) {
        // What the launcher now reads, from the file as written.
        const InputFile written(exe);
        const ExeImage now = ParseExecutable(written);
        if (options.json)
            PrintJson(SlotsJson(written, now, exe));
        else
            PrintSlots(options, written, now);
    }
    return 0;
}

int CommandEmbed(const Options& options, const std::string& exe, const std::string& library,
                 const std::string& out_path, bool any_kind, bool set_name) {
    RefuseInputAsOutput(out_path,
                        {{exe, "the program read (EXE)"}, {library, "the library read (LIB)"}});
    WriteLock lock(out_path);
    std::optional<InputFile> program(std::in_place, exe);
    const ExeImage image = ParseExecutable(*program);
    if (!image.library_field)
        Fail(exe, "cannot hold an embedded library: " + image.library_problem);

    std::optional<InputFile> data(std::in_place, library);
    const uint64_t size = data->Size();
    const std::vector<uint8_t> start = data->ReadRange(0, kDirectoryMax);
    if (LooksLikeExecutable(start.data(), start.size()))
        Fail(library, "is a program, not a library container");
    CheckContainer(library, start.data(), start.size(), size, true);
    tx::HeaderBlock header;
    std::memcpy(&header, start.data(), sizeof header);
    if (header.kind != 0 && !any_kind)
        Fail(library,
             "has kind " + std::to_string(header.kind) +
                 "; the launcher opens only a library of kind 0 (--any-kind embeds it anyway)");

    // A library already embedded is replaced where it lies; otherwise the
    // new one follows everything in the file, on an aligned offset.
    const uint32_t old = EmbeddedLibrary(*program, image);
    SignatureRemoval unsigned_program = RemoveSignature(*program);
    const uint64_t keep = old != 0 ? old : unsigned_program.keep;
    const uint64_t base = old != 0 ? old : AlignUp(keep);
    if (base + size > kOffsetMax)
        Fail(out_path, "would be larger than 2 GiB, beyond what the launcher can address");

    const std::vector<Patch> named = ProgramNamePatches(*program, image, exe, out_path, set_name);
    unsigned_program.patches.insert(unsigned_program.patches.end(), named.begin(), named.end());
    unsigned_program.patches.push_back(U32Patch(*image.library_field, static_cast<uint32_t>(base)));
    StreamedOutput out(out_path, image.checksum_field);
    out.Copy(*program, 0, keep, unsigned_program.patches);
    out.Zeros(base - keep);
    out.Copy(*data, 0, size);
    // Windows renames nothing over a file that is open.
    program.reset();
    data.reset();
    out.Commit(exe);
    if (options.verbosity > 0)
        std::printf("%s: library %s embedded at offset %llu (0x%llX), %llu bytes%s\n",
                    EscapeControls(out_path).c_str(), EscapeControls(library).c_str(),
                    static_cast<unsigned long long>(base), static_cast<unsigned long long>(base),
                    static_cast<unsigned long long>(size),
                    old != 0 ? ", replacing the one embedded before" : "");
    if (unsigned_program.removed)
        std::fprintf(stderr, "txlib: %s: %s\n", EscapeControls(out_path).c_str(),
                     kSignatureRemoved);
    return 0;
}

int CommandUnembed(const Options& options, const std::string& exe, const std::string& out_path) {
    RefuseInputAsOutput(out_path, {{exe, "the program read (EXE)"}});
    WriteLock lock(out_path);
    std::optional<InputFile> program(std::in_place, exe);
    const ExeImage image = ParseExecutable(*program);
    if (!image.library_field) Fail(exe, "has no embedded library: " + image.library_problem);
    const uint32_t offset = EmbeddedOffset(*program, image);
    if (offset == 0) Fail(exe, "has no embedded library");
    const uint64_t size =
        LibraryEndBeforeSignature(*program, offset, EndOfUnsignedData(*program)) - offset;
    const std::vector<uint8_t> start = program->ReadRange(offset, kDirectoryMax);
    CheckContainer(exe + " (embedded library)", start.data(), start.size(), size, true);

    StreamedOutput out(out_path, std::nullopt);
    out.Copy(*program, offset, size);
    program.reset();
    out.Commit("");
    if (options.verbosity > 0)
        std::printf("%s: %llu bytes from offset %lu of %s\n", EscapeControls(out_path).c_str(),
                    static_cast<unsigned long long>(size), static_cast<unsigned long>(offset),
                    EscapeControls(exe).c_str());
    return 0;
}

int CommandInfo(const Options& options, const std::string& file) {
    std::optional<InputFile> program(std::in_place, file);
    const std::vector<uint8_t> start = program->ReadRange(0, 4);
    if (!LooksLikeExecutable(start.data(), start.size())) {
        program.reset();
        return LibraryInfo(options, file, 0);
    }

    const ExeImage image = ParseExecutable(*program);
    if (options.json) {
        const uint32_t offset = EmbeddedOffset(*program, image);
        Json ids = Json::array();
        for (const auto& [id, copies] : image.strings)
            ids.push_back(id);
        auto text = [](const std::string& problem) -> Json {
            return problem.empty() ? Json(nullptr) : Json(problem);
        };
        Json document{
            {"file", PathUtf8(file)},
            {"format", image.description},
            {"size", program->Size()},
            {"image_end", image.image_end},
            {"strings", ids},
            {"string_copies", image.strings.empty() ? 0 : image.strings.begin()->second.size()},
            {"strings_problem", text(image.strings_problem)},
            {"offset_field", image.library_field ? Json(*image.library_field) : Json(nullptr)},
            {"library_problem", text(image.library_problem)},
            {"certificate", CertificateJson(*program)}};
        // The library is read through the core, as for a library file.
        program.reset();
        document["library"] = offset != 0 ? LibraryInfoJson(file, offset) : Json(nullptr);
        PrintJson(document);
        return 0;
    }

    std::printf("file:              %s\n", EscapeControls(file).c_str());
    std::printf("format:            %s program, %llu bytes\n", image.description.c_str(),
                static_cast<unsigned long long>(program->Size()));
    std::printf("image ends at:     %llu\n", static_cast<unsigned long long>(image.image_end));
    PrintCertificate(*program);
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
    const uint32_t offset = EmbeddedOffset(*program, image);
    if (offset == 0) {
        std::printf("embedded library:  none\n");
        return 0;
    }
    std::printf(
        "embedded library:  at offset %lu (0x%lX), %llu bytes\n",
        static_cast<unsigned long>(offset), static_cast<unsigned long>(offset),
        static_cast<unsigned long long>(
            LibraryEndBeforeSignature(*program, offset, EndOfUnsignedData(*program)) - offset));
    program.reset();
    return LibraryInfo(options, file, offset);
}

} // namespace txlib
