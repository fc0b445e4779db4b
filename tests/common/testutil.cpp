#include "testutil.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace txtest {

std::string WinPath(const fs::path& host) {
#ifdef _WIN32
    return fs::absolute(host).string();
#else
    std::string s = fs::absolute(host).string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return "Z:" + s;
#endif
}

ScratchDir::ScratchDir() {
    static std::atomic<int> serial{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() /
           ("txtest-" + std::to_string(stamp) + "-" + std::to_string(serial++));
    fs::create_directories(dir_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string ScratchDir::win(const std::string& name) const {
    std::string w = WinPath(dir_);
    if (!name.empty()) w += "\\" + name;
    return w;
}

void ScratchDir::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) ADD_FAILURE() << "cannot write " << (dir_ / name).string();
}

std::string ScratchDir::read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace txtest
