#pragma once
// A temporary folder for one test, removed with everything in it afterwards,
// and small helpers to write and read whole files in it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace glitchwerk::testing {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    // With `enter`, the current directory is the temporary folder until the
    // object goes away (the data file lives in the current directory).
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

void WriteFile(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadFile(const std::filesystem::path& path);
// Bytes 0, 1, 2, ... 255, 0, 1, ... of the given length.
Bytes CountingBytes(std::size_t length);

} // namespace glitchwerk::testing
