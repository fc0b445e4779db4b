// Helpers shared by the unit tests: scratch directories and the conversion
// between host paths and the Windows paths that the core takes.
#pragma once

#include <filesystem>
#include <string>

namespace txtest {

// The Windows form of a host path: itself on Windows, "Z:\..." elsewhere.
std::string WinPath(const std::filesystem::path& host);

// A fresh empty directory, removed with its contents when the object dies.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& host() const { return dir_; }
    // Windows path of the directory, or of a file in it.
    std::string win(const std::string& name = "") const;
    std::filesystem::path host(const std::string& name) const { return dir_ / name; }

    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;

  private:
    std::filesystem::path dir_;
};

} // namespace txtest
