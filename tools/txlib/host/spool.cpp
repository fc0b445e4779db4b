#include "host/spool.h"

#include "host/errortext.h"
#include "host/failure.h"
#include "host/systemfiles.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace txlib {

namespace {

bool NeedsSpool(const std::string& path) {
    if (path == "-") return true;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) != S_IFREG &&
           (st.st_mode & S_IFMT) != S_IFDIR;
}

} // namespace

SpooledLibrary::SpooledLibrary(const std::string& path) : path_(path) {
    if (!NeedsSpool(path)) return;
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) Fail(path, "cannot be read into a temporary file: " + error.message());
    spool_.emplace((folder / "txlib-input.lib").string());
    spool_->Open();
    std::FILE* in = stdin;
    if (path == "-") {
        BinaryStream(stdin);
    } else {
        in = std::fopen(path.c_str(), "rb");
        if (in == nullptr) Fail(path, "cannot open: " + ErrnoText());
    }
    const std::string shown = path == "-" ? "standard input" : path;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        if (got > 0) spool_->Write(buffer.data(), got);
        if (got < buffer.size()) break;
    }
    const bool failed = std::ferror(in) != 0;
    if (in != stdin) std::fclose(in);
    if (failed) Fail(shown, "cannot be read: " + ErrnoText());
    spool_->Close();
}

} // namespace txlib
