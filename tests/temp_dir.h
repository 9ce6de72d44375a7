// SPDX-License-Identifier: MIT
#pragma once
// A temporary folder for one test, removed with everything in it afterwards,
// and small helpers to write and read whole files.

#include "engine/file_stream.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#endif

namespace glitchwerk::testing {

using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    // With `enter`, the current directory is the temporary folder until the
    // object goes away (the data file lives in the current directory).
    explicit TempDir(bool enter = false)
        : path_(std::filesystem::temp_directory_path() /
                ("glitchwerk-" + std::to_string(std::random_device()()))) {
        if (!std::filesystem::create_directory(path_)) // false when it exists already
            throw std::runtime_error("cannot create a temporary folder");
        if (enter) {
            previous_ = std::filesystem::current_path();
            std::filesystem::current_path(path_);
        }
    }
    ~TempDir() {
        if (!previous_.empty())
            std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    if (!out.write(reinterpret_cast<const char*>(bytes.data()), std::ssize(bytes)))
        throw std::runtime_error("cannot write " + path.string());
}

// Throws when there is no such file, so that a deleted file never reads as empty.
inline Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes CountingBytes(std::size_t length) {
    Bytes bytes(length);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

// Makes a named pipe; false where there are none (Windows).
inline bool MakePipe(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.empty();
#else
    return ::mkfifo(path.c_str(), 0600) == 0;
#endif
}

#ifndef _WIN32
// Returns what `work` returns, run while no file of this process can be written at or past
// `bytes`: such writes fail as on a full disk (with SIGXFSZ ignored, from then on).
template <typename Work> auto OnAFullDisk(rlim_t bytes, Work work) {
    IgnoreFileSizeSignal();
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const rlimit limit{bytes, previous.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto result = work();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    return result;
}
#endif

} // namespace glitchwerk::testing
