// Member names as extract maps them to the files it writes: whatever the
// bytes of a name, its file lies inside the output folder, no part of its
// path is empty, "." or "..", the same name always maps to the same path,
// and a name made from a relative path (as add makes it) maps back to that
// path. The first byte picks the output folder and the separator.
#include "commands/librarytools.h"
#include "host/tree.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Broken(const char* what, const std::string& name, const std::string& path) {
    std::fprintf(stderr, "extractpath: %s: \"%s\" -> \"%s\"\n", what, name.c_str(), path.c_str());
    std::abort();
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kPrefixes[] = {"", "out/", "a/b/", "C:\\out\\", "out\\"};
    const std::string prefix = kPrefixes[data[0] % 5];
    const char separator = (data[0] & 0x80) ? '\\' : '/';
    const std::string name(reinterpret_cast<const char*>(data + 1), size - 1);

    txlib::ExtractTarget target;
    std::string reason;
    const bool mapped = txlib::MapExtractTarget(prefix, name, separator, &target, &reason);
    txlib::ExtractTarget again;
    std::string reason_again;
    if (txlib::MapExtractTarget(prefix, name, separator, &again, &reason_again) != mapped ||
        again.path != target.path || again.folded != target.folded ||
        again.folder_paths != target.folder_paths || reason_again != reason)
        Broken("mapped otherwise the second time", name, target.path);
    if (!mapped) {
        if (reason.empty()) Broken("refused without a reason", name, "");
        return 0;
    }

    // Inside the output folder: the prefix, then parts that are names.
    if (target.path.compare(0, prefix.size(), prefix) != 0)
        Broken("not under the output folder", name, target.path);
    const std::vector<std::string> parts = Split(target.path.substr(prefix.size()), separator);
    for (const std::string& part : parts) {
        if (part.empty() || part == "." || part == "..")
            Broken("a part that is no name", name, target.path);
        if (part.find_first_of("/\\:") != std::string::npos || part.find('\0') != part.npos)
            Broken("a part that holds a separator", name, target.path);
    }
    if (parts.size() != Split(name, '\\').size() || target.folder_paths.size() != parts.size() - 1)
        Broken("parts lost or made up", name, target.path);
    for (size_t i = 0; i < target.folder_paths.size(); ++i)
        if (target.path.compare(0, target.folder_paths[i].size() + 1,
                                target.folder_paths[i] + separator) != 0)
            Broken("a folder not on the file's path", name, target.folder_paths[i]);

    // A name as add makes it from a relative path maps back to that path.
    std::string member, why;
    if (separator == '/' && txlib::MemberNameOfPath(name, &member, &why) &&
        txlib::MapExtractTarget(prefix, member, separator, &again, &reason_again)) {
        std::string expected = prefix;
        for (const std::string& part : Split(name, '/')) {
            if (part.empty() || part == ".") continue;
            if (expected.size() > prefix.size()) expected += '/';
            expected += part;
        }
        if (again.path != expected)
            Broken("a path added does not extract to itself", name, again.path);
    }
    return 0;
}
