// The resources command. With nothing to set it lists the program's
// resources and version texts. Otherwise it reads every resource, makes
// the changes asked for (icon, version, texts, manifest) in that list and
// writes the program anew with the list as its resource section (see
// resourcesection.h), through a temporary file that is checked before it
// replaces the program.
#include "commands/resourcescommand.h"

#include "formats/certificate.h"
#include "formats/exeimage.h"
#include "host/failure.h"
#include "host/files.h"
#include "formats/icon.h"
#include "formats/pelayout.h"
#include "formats/resourcesection.h"
#include "formats/resourcetree.h"
#include "host/text.h"
#include "formats/versioninfo.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <set>

namespace txlib {

namespace {

using Json = nlohmann::ordered_json;

constexpr uint32_t kEnglishUs = 0x0409;
constexpr size_t kInputMax = 16 * 1024 * 1024; // an icon or a manifest

std::vector<uint8_t> ReadSmallFile(const std::string& path, const char* what) {
    const InputFile file(path);
    if (file.Size() > kInputMax) Fail(path, std::string("is too large for ") + what);
    return file.ReadRange(0, static_cast<size_t>(file.Size()));
}

bool IsType(const Resource& r, uint32_t type) {
    return r.type.name.empty() && r.type.id == type;
}

// The language new resources get: the version resource's, else the string
// table's, else US English.
uint32_t DefaultLanguage(const std::vector<Resource>& resources) {
    for (uint32_t type : {kRtVersion, kRtString})
        for (const Resource& r : resources)
            if (IsType(r, type)) return r.language;
    return kEnglishUs;
}

std::u16string Utf16Argument(const std::string& argument, const std::string& what) {
    std::string text, error;
    if (!ArgumentText(argument, &text, &error)) Fail("", what + " " + error, kExitUsage);
    std::u16string out;
    for (char c : text)
        out.push_back(static_cast<char16_t>(Cp1252ToUnit(static_cast<uint8_t>(c))));
    return out;
}

void SetIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images) {
    // Explorer shows the first group icon: it is replaced, with the images
    // only it lists.
    auto group = std::find_if(resources.begin(), resources.end(),
                              [](const Resource& r) { return IsType(r, kRtGroupIcon); });
    std::set<uint32_t> drop, kept;
    ResourceName name;
    name.id = 1;
    uint32_t language = DefaultLanguage(resources);
    if (group != resources.end()) {
        name = group->name;
        language = group->language;
        for (const Resource& r : resources) {
            if (!IsType(r, kRtGroupIcon)) continue;
            const bool replaced = r.name.id == name.id && r.name.name == name.name;
            for (uint16_t id : GroupIconMembers(r.data))
                (replaced ? drop : kept).insert(id);
        }
        resources.erase(std::remove_if(resources.begin(), resources.end(),
                                       [&](const Resource& r) {
                                           return IsType(r, kRtGroupIcon) && r.name.id == name.id &&
                                                  r.name.name == name.name;
                                       }),
                        resources.end());
    }
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const Resource& r) {
                                       return IsType(r, kRtIcon) && r.name.name.empty() &&
                                              drop.count(r.name.id) && !kept.count(r.name.id);
                                   }),
                    resources.end());
    uint32_t next = 1;
    for (const Resource& r : resources)
        if (IsType(r, kRtIcon) && r.name.name.empty()) next = std::max(next, r.name.id + 1);
    if (next + images.size() > 0xFFFF) Fail("", "the program has no free icon ids left");
    for (size_t i = 0; i < images.size(); ++i) {
        Resource icon;
        icon.type.id = kRtIcon;
        icon.name.id = next + static_cast<uint32_t>(i);
        icon.language = language;
        icon.data = images[i].data;
        resources.push_back(std::move(icon));
    }
    Resource entry;
    entry.type.id = kRtGroupIcon;
    entry.name = name;
    entry.language = language;
    entry.data = GroupIconResource(images, static_cast<uint16_t>(next));
    resources.push_back(std::move(entry));
}

void SetVersion(std::vector<Resource>& resources, const VersionEdit& edit, const std::string& exe) {
    auto existing = std::find_if(resources.begin(), resources.end(),
                                 [](const Resource& r) { return IsType(r, kRtVersion); });
    std::vector<uint8_t> bytes;
    std::string error;
    if (!EditVersionResource(existing != resources.end() ? &existing->data : nullptr, edit, &bytes,
                             &error))
        Fail(exe, "its version resource cannot be read: " + error + "; nothing written");
    if (existing != resources.end()) {
        existing->data = std::move(bytes);
        return;
    }
    Resource version;
    version.type.id = kRtVersion;
    version.name.id = 1;
    version.language = DefaultLanguage(resources);
    version.data = std::move(bytes);
    resources.push_back(std::move(version));
}

void SetManifest(std::vector<Resource>& resources, std::vector<uint8_t> manifest) {
    uint32_t language = DefaultLanguage(resources);
    resources.erase(std::remove_if(resources.begin(), resources.end(),
                                   [&](const Resource& r) {
                                       if (!IsType(r, kRtManifest) || r.name.id != 1 ||
                                           !r.name.name.empty())
                                           return false;
                                       language = r.language;
                                       return true;
                                   }),
                    resources.end());
    Resource entry;
    entry.type.id = kRtManifest;
    entry.name.id = 1;
    entry.language = language;
    entry.data = std::move(manifest);
    resources.push_back(std::move(entry));
}

std::string VersionString(const std::array<uint16_t, 4>& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
           std::to_string(v[3]);
}

void Show(const Options& options, const std::string& exe, const std::vector<Resource>& resources,
          const ByteSource& bytes) {
    std::optional<VersionSummary> version;
    for (const Resource& r : resources) {
        if (!IsType(r, kRtVersion)) continue;
        VersionSummary summary;
        std::string error;
        if (ReadVersionResource(r.data, &summary, &error)) version = summary;
        break;
    }
    if (options.json) {
        Json list = Json::array();
        for (const Resource& r : resources)
            list.push_back(
                {{"type", ResourceTypeText(r.type)},
                 {"name", r.name.name.empty() ? Json(r.name.id) : Json(Utf16ToUtf8(r.name.name))},
                 {"language", r.language},
                 {"size", r.data.size()}});
        Json strings = Json::object();
        Json document{{"file", PathUtf8(exe)}, {"resources", list}, {"version", nullptr}};
        if (version) {
            for (const auto& [key, value] : version->strings)
                strings[key] = value;
            document["version"] = {{"file_version", VersionString(*version->file_version)},
                                   {"product_version", VersionString(*version->product_version)},
                                   {"table", version->table},
                                   {"strings", strings}};
        }
        const auto table = FindCertificateTable(bytes);
        document["certificate"] =
            table ? Json{{"offset", table->offset}, {"size", table->size}} : Json(nullptr);
        const std::string text =
            document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
        std::fwrite(text.data(), 1, text.size(), stdout);
        return;
    }
    std::printf("%-12s %-14s %-8s %s\n", "TYPE", "NAME", "LANGUAGE", "SIZE");
    for (const Resource& r : resources)
        std::printf("%-12s %-14s 0x%04X   %zu\n", ResourceTypeText(r.type).c_str(),
                    EscapeControls(ResourceNameText(r.name)).c_str(), r.language, r.data.size());
    if (!version) return;
    std::printf("file version:    %s\nproduct version: %s\n",
                VersionString(*version->file_version).c_str(),
                VersionString(*version->product_version).c_str());
    for (const auto& [key, value] : version->strings)
        std::printf("  %-16s %s\n", EscapeControls(key).c_str(), EscapeControls(value).c_str());
}

} // namespace

int CommandResources(const Options& options, const std::string& exe,
                     const ResourceRequest& request) {
    // Everything given is read and checked before the program is.
    VersionEdit edit;
    if (!request.version.empty()) {
        std::array<uint16_t, 4> v{};
        if (!ParseVersionNumber(request.version, &v))
            Fail("", "--version takes four numbers from 0 to 65535: X.Y.Z.W", kExitUsage);
        edit.version = v;
    }
    for (const auto& [key, value] : request.strings)
        edit.strings.emplace_back(Utf16Argument(key, "the key " + key),
                                  Utf16Argument(value, "the value of " + key));
    std::vector<IconImage> images;
    if (!request.icon.empty()) {
        std::string error;
        if (!ReadIcoFile(ReadSmallFile(request.icon, "an icon"), &images, &error))
            Fail(request.icon, error);
    }
    std::vector<uint8_t> manifest;
    if (!request.manifest.empty()) {
        manifest = ReadSmallFile(request.manifest, "a manifest");
        size_t start = manifest.size() >= 3 && manifest[0] == 0xEF && manifest[1] == 0xBB &&
                               manifest[2] == 0xBF
                           ? 3
                           : 0;
        while (start < manifest.size() && std::isspace(manifest[start]))
            ++start;
        if (start == manifest.size() || manifest[start] != '<')
            Fail(request.manifest, "is not an XML manifest");
    }

    WriteLock lock(exe, !request.Empty());
    std::optional<InputFile> program(std::in_place, exe);
    const ExeImage image = ParseExecutable(*program);
    if (image.format != ImageFormat::Pe)
        Fail(exe, "is not a Windows program: only a Windows program carries resources");
    const PeLayout pe = ReadPeLayout(*program);
    std::vector<Resource> resources = ReadResources(*program, pe);
    if (request.Empty()) {
        Show(options, exe, resources, *program);
        return 0;
    }

    if (!images.empty()) SetIcon(resources, images);
    if (edit.version || !edit.strings.empty()) SetVersion(resources, edit, exe);
    if (!manifest.empty()) SetManifest(resources, std::move(manifest));

    const ResourcePlan plan = PlanResourceSection(*program, pe, image, resources);
    {
        OutputFile out(exe);
        out.Open();
        const uint32_t sum = EmitProgram(
            *program, plan, [&](const uint8_t* data, size_t size) { out.Write(data, size); });
        if (plan.checksum_field) {
            const Patch stored = U32Patch(*plan.checksum_field, sum);
            out.WriteAt(stored.offset, stored.bytes.data(), stored.bytes.size());
        }
        out.Close();
        // What the launcher will read from the new file, before it replaces
        // the old one: the same strings, and the library where it now lies.
        {
            const InputFile written(out.TempPath());
            const ExeImage now = ParseExecutable(written);
            bool same = now.strings.size() == image.strings.size() &&
                        EmbeddedOffset(written, now) == plan.library;
            for (const auto& [id, copies] : image.strings)
                for (size_t i = 0; same && i < copies.size(); ++i)
                    same = now.strings.count(id) && now.strings.at(id).size() == copies.size() &&
                           ReadEntry(written, now.strings.at(id)[i]) ==
                               ReadEntry(*program, copies[i]) &&
                           now.strings.at(id)[i].length == copies[i].length;
            if (!same)
                Fail(exe, "the program written would not keep its strings or its library; "
                          "nothing written");
        }
        program.reset();
        out.Commit();
    }
    if (plan.signature_removed)
        std::fprintf(stderr, "txlib: %s: %s\n", exe.c_str(), kSignatureRemoved);
    if (options.verbosity > 0 || options.json) {
        const InputFile written(exe);
        Show(options, exe, ReadResources(written, ReadPeLayout(written)), written);
    }
    return 0;
}

} // namespace txlib
