// extract: members out to files under a folder, or one to standard output,
// never through a link and never outside that folder.
#include "commands/librarytools.h"
#include "commands/libraryshared.h"

#include "commands/deletecompact.h"
#include "host/errortext.h"
#include "formats/exeimage.h"
#include "host/failure.h"
#include "host/files.h"
#include "commands/libraryview.h"
#include "formats/longnames.h"
#include "host/progress.h"
#include "host/systemfiles.h"
#include "host/text.h"
#include "host/tree.h"

#include "diskfile/diskfile.h"
#include "diskfile/filetime.h"
#include "library/container.h"
#include "library/libtable.h"
#include "support/names.h"
#include "vfile/virtual.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace txlib {

namespace {

constexpr char kThroughLink[] =
    "is a symbolic link: extraction goes through no link inside its directory, to a folder or "
    "to a file";

// The first part of `target` after `prefix` (the output folder) that is a
// symbolic link, or "" when none is.
std::string LinkBelow(const std::string& prefix, const std::string& target) {
    for (size_t at = prefix.size(); at <= target.size();) {
        const size_t end = target.find_first_of("/\\", at);
        const std::string part = target.substr(0, end);
        if (IsLink(part)) return part;
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return "";
}

// Makes each missing folder of `path`, noting those it made.
void MakeFolders(const std::string& path, std::vector<std::string>* made) {
    for (size_t at = 0; at != std::string::npos;) {
        at = path.find_first_of("/\\", at + 1);
        const std::string prefix = path.substr(0, at);
        if (prefix.empty() || prefix.back() == ':' || IsDirectory(prefix)) continue;
        const int failed = MakeFolder(prefix);
        // The cause is taken before the checks below can replace it.
        const std::string reason = failed != 0 ? ErrnoText() : std::string();
        if (failed != 0 && !IsDirectory(prefix))
            Fail(prefix, NameTaken(prefix) ? "exists and is not a folder"
                                           : "cannot make the folder: " + reason);
        made->push_back(prefix);
    }
}

} // namespace

bool MapExtractTarget(const std::string& prefix, const std::string& name, char separator,
                      ExtractTarget* target, std::string* reason) {
    *target = ExtractTarget{prefix, "", {}, {}};
    size_t start = 0;
    for (;;) {
        const size_t end = name.find('\\', start);
        const std::string part = name.substr(start, end - start);
        if (!SafeFileName(part, reason)) return false;
        target->folded += FoldFileCase(part);
        target->path += DisplayText(part);
        if (end == std::string::npos) return true;
        target->folder_paths.push_back(target->path);
        target->folded_folders.push_back(target->folded);
        target->folded += '\\';
        target->path += separator;
        start = end + 1;
    }
}

namespace {

// Whether -k or --keep-newer-files keeps the file at `target` in place of
// the member `entry`: any file there, or one written later than the member
// was (a member without a date is older than any file).
bool KeepsFile(const ExtractRequest& request, const std::string& target,
               const tx::DirEntry& entry) {
    if (!request.keep_old && !request.keep_newer) return false;
    if (!NameTaken(target)) return false;
    if (request.keep_old) return true;
    int16_t file;
    if (!tx::DiskOpen(target.c_str(), kDiskReadShared, &file)) return false;
    tx::DateTimeRecord when{};
    const bool dated = tx::DiskGetFileTime(file, &when) != 0;
    tx::DiskClose(file);
    if (!dated) return false;
    const uint32_t on_disk =
        static_cast<uint32_t>(tx::PackFatDate(when)) << 16 | tx::PackFatTime(when);
    const uint32_t stored = static_cast<uint32_t>(entry.date) << 16 | entry.time;
    return on_disk > stored;
}

} // namespace

int CommandExtract(const Options& options, const std::string& library,
                   const ExtractRequest& request) {
    const ReadLibrary opened(library);
    const tx::LibraryRecord* record = opened.record;
    const LibraryView& view = opened.view;
    WarnOfTable(view, library);

    // The members to write, chosen and checked before anything is written.
    const std::string nothing = "; nothing extracted";
    const std::vector<const MemberView*> chosen =
        Select(view, request.names, false, library, nothing);
    for (const MemberView* member : chosen) {
        if (!tx::EntryInsideContainer(&record->directory[member->index], record->end_of_data))
            Fail(library, "damaged: member " + ShownText(member->name) +
                              " points outside the container" + nothing);
    }
    // On Windows two members whose names differ only in case would be
    // written to one file; the library's own lookup may reach only one.
    if (!request.to_stdout && request.names.empty()) {
        const auto collisions = CaseCollisions(view);
        if (!collisions.empty())
            Fail(library,
                 CollisionText(*collisions.front().first, *collisions.front().second) + nothing);
    }
    uint8_t key = 0;
    if (!tx::MemberKey(record, &key))
        Fail(library, "its members are scrambled by method " + Number(record->header->method) +
                          ", which the launcher cannot undo" + nothing);

    // Reads the entry chosen, by its index, from the container: the bytes
    // of that entry and no other, whatever its name leads a lookup to.
    std::vector<uint8_t> buffer(kExtractChunk);
    auto copy = [&](const MemberView& member, auto write) {
        const tx::DirEntry& entry = record->directory[member.index];
        const std::string what = "cannot read member " + ShownText(member.name);
        if (!tx::FileSeekExact(record->container,
                               record->base_offset + static_cast<int32_t>(entry.offset)))
            Fail(library, CoreFailure(what));
        // The container is a file of its own (a disk handle): it is read in
        // pieces larger than the virtual layer's 16-bit counts.
        uint32_t done = 0;
        while (done < entry.size) {
            const uint32_t left = entry.size - done;
            const uint32_t want = left < kExtractChunk ? left : kExtractChunk;
            uint32_t got = 0;
            if (!tx::DiskRead(record->container, buffer.data(), want, &got) || got != want)
                Fail(library, CoreFailure(what));
            if (record->header->seed != tx::kSeedPlain)
                for (uint32_t at = 0; at < want; at += kChunk)
                    tx::XorBytes(buffer.data() + at,
                                 static_cast<uint16_t>(std::min<uint32_t>(kChunk, want - at)), key);
            write(buffer.data(), static_cast<size_t>(want));
            done += want;
        }
    };

    if (request.to_stdout) {
        if (chosen.size() != 1)
            Fail(library,
                 "-O writes one member, and " + Number(chosen.size()) + " are selected" + nothing);
        if (StandardOutputIs(library))
            Fail(library, std::string("standard output is ") +
                              (opened.base != 0 ? "the program that holds the library read"
                                                : "the library read") +
                              ", which extraction never writes into" + nothing);
        BinaryStream(stdout);
        copy(*chosen.front(), [](const uint8_t* data, size_t size) {
            if (std::fwrite(data, 1, size, stdout) != size)
                Fail("", "cannot write to standard output: " + ErrnoText());
        });
        if (std::fflush(stdout) != 0) Fail("", "cannot write to standard output: " + ErrnoText());
        return 0;
    }

    // Where each member goes: its long name's folders under the output
    // folder, every part of it a safe name.
    const char separator = PathSeparator();
    std::string prefix = request.directory;
    if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix += separator;
    std::vector<std::string> targets;
    std::set<int> kept; // entries whose file -k keeps
    const char* const kept_why = request.keep_old ? "it exists" : "it is newer than the member";
    std::vector<std::string> skipped;               // their files
    std::map<std::string, const MemberView*> files; // as Windows compares names
    std::set<std::string> folders;
    uint64_t total = 0;
    for (const MemberView* member : chosen) {
        ExtractTarget mapped;
        std::string reason;
        if (!MapExtractTarget(prefix, member->name, separator, &mapped, &reason))
            Fail(library, "member \"" + ShownText(member->name) + "\" " + reason +
                              ": it would not be written inside the output directory" + nothing);
        const size_t leaf =
            mapped.path.size() -
            (mapped.folder_paths.empty() ? prefix.size() : mapped.folder_paths.back().size() + 1);
        if (leaf + kTemporarySuffixMax > kFileNameMax)
            Fail(mapped.path, "the name is longer than the " +
                                  Number(kFileNameMax - kTemporarySuffixMax) +
                                  " characters that leave room for the temporary name it is "
                                  "written under first" +
                                  nothing);
        for (const std::string& folder : mapped.folder_paths)
            if (FileExistsOnDisk(folder) && !IsDirectory(folder))
                Fail(folder, "is a file where member " + ShownText(member->name) +
                                 " needs a folder" + nothing);
        folders.insert(mapped.folded_folders.begin(), mapped.folded_folders.end());
        const std::string& target = mapped.path;
        const std::string& folded = mapped.folded;
        if (target.size() > static_cast<size_t>(tx::kPathMax))
            Fail(target,
                 "the path is longer than " + Number(tx::kPathMax) + " characters" + nothing);
        const size_t absolute = LimitedPathLength(target);
        if (absolute + kTemporarySuffixMax > kLimitedPathMax)
            Fail(target, "made absolute, the path is " + Number(absolute) +
                             " characters, more than the " +
                             Number(kLimitedPathMax - kTemporarySuffixMax) +
                             " that leave room for the temporary name it is written under "
                             "first within the system's limit of " +
                             Number(kLimitedPathMax) + nothing);
        const auto [at, fresh] = files.emplace(folded, member);
        if (!fresh)
            Fail(library, "members " + ShownText(at->second->name) + " and " +
                              ShownText(member->name) +
                              " have the same name if case is ignored: on Windows one file "
                              "would replace the other" +
                              nothing);
        if (KeepsFile(request, target, record->directory[member->index])) {
            kept.insert(member->index);
            skipped.push_back(target);
            continue;
        }
        const std::string link = LinkBelow(prefix, target);
        if (!link.empty()) Fail(link, kThroughLink + nothing);
        if (IsDirectory(target)) Fail(target, "is a folder" + nothing);
        if (SameFile(target, library))
            Fail(target, std::string(opened.base != 0 ? "is the program that holds the library read"
                                                      : "is the library read") +
                             ", which extraction never replaces" + nothing);
        targets.push_back(target);
        if (kept.count(member->index) == 0) total += record->directory[member->index].size;
    }
    std::vector<const MemberView*> writing;
    for (const MemberView* member : chosen)
        if (kept.count(member->index) == 0) writing.push_back(member);
    for (const std::string& folder : folders)
        if (files.count(folder))
            Fail(library,
                 "member " + ShownText(folder) + " would be both a file and a folder" + nothing);
    if (FileExistsOnDisk(request.directory) && !IsDirectory(request.directory))
        Fail(request.directory, "exists and is not a directory");

    // Each file is written whole under a temporary name and renamed into
    // place; after a failure, the files written so far stay and are named.
    std::vector<std::string> made, written;
    std::map<FileIdentity, const MemberView*> identities; // of the files written
    Progress progress(options.verbosity, total);
    try {
        MakeFolders(prefix, &made);
        for (const std::string& target : skipped)
            if (options.verbosity > 0)
                std::printf("skipped %s: %s\n", EscapeControls(target).c_str(), kept_why);
        for (size_t i = 0; i < writing.size(); ++i) {
            const MemberView& member = *writing[i];
            const std::string& target = targets[i];
            const size_t slash = target.find_last_of("/\\");
            if (slash != std::string::npos && slash >= prefix.size())
                MakeFolders(target.substr(0, slash + 1), &made);
            // Checked again now that the folders are there: a link put in
            // the way meanwhile is not gone through either.
            const std::string link = LinkBelow(prefix, target);
            if (!link.empty()) Fail(link, kThroughLink);
            OutputFile out(target);
            out.Open();
            copy(member, [&](const uint8_t* data, size_t size) {
                out.Write(data, size);
                progress.Add(size);
            });
            out.Close();
            // A file that appeared meanwhile is kept as well.
            if (KeepsFile(request, target, record->directory[member.index])) {
                if (options.verbosity > 0)
                    std::printf("skipped %s: %s\n", EscapeControls(target).c_str(), kept_why);
                continue;
            }
            // Two names this command wrote can be one file where the system
            // gives files other names too (Windows' short names): the file
            // of the first member is not replaced by the second's.
            FileIdentity identity;
            if (IdentityOf(target, &identity) && identities.count(identity) != 0)
                Fail(target, "is the file just written for member " +
                                 ShownText(identities[identity]->name) +
                                 " under another name; it is not replaced by member " +
                                 ShownText(member.name));
            out.Commit();
            written.push_back(target);
            if (IdentityOf(target, &identity)) identities[identity] = &member;
            const tx::DirEntry& entry = record->directory[member.index];
            if (entry.date != 0) {
                const std::string what = "cannot set its date and time";
                std::string failed;
                int16_t file;
                if (!tx::DiskOpen(target.c_str(), tx::kDiskRead | tx::kDiskWrite, &file)) {
                    failed = CoreFailure(what);
                } else {
                    if (!tx::DiskSetFileTime(file, tx::UnpackFatDateTime(entry.date, entry.time)))
                        failed = CoreFailure(what);
                    if (!tx::DiskClose(file) && failed.empty()) failed = CoreFailure(what);
                }
                if (!failed.empty()) Fail(target, failed);
            }
            if (options.verbosity > 0) {
                progress.Clear();
                std::printf("%s (%lu bytes)\n", EscapeControls(target).c_str(),
                            static_cast<unsigned long>(entry.size));
                std::fflush(stdout);
            }
        }
    } catch (Failure& failure) {
        progress.Clear();
        for (auto folder = made.rbegin(); folder != made.rend(); ++folder)
            RemoveEmptyFolder(*folder);
        if (written.empty()) {
            failure.message += nothing;
        } else {
            if (options.verbosity == 0)
                for (const std::string& path : written)
                    std::fprintf(stderr, "txlib: written %s\n", EscapeControls(path).c_str());
            failure.message +=
                "; the " + Number(written.size()) + " file(s) written before it stay, each whole";
        }
        throw;
    }
    return 0;
}

} // namespace txlib
