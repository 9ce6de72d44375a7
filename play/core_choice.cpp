// SPDX-License-Identifier: MIT
#include "play/core_choice.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <vector>

namespace glitchwerk::play {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr char kSuffix[] = "_libretro.dll";
#else
constexpr char kSuffix[] = "_libretro.so";
#endif

// For each kind, the cores that play it, the first installed one chosen.
std::vector<std::string> Preferred(FileKind kind) {
    switch (kind) {
    case FileKind::INes:
        return {"nestopia", "fceumm", "mesen", "quicknes"};
    case FileKind::GameBoy:
        return {"gambatte", "sameboy", "mgba"};
    case FileKind::Gba:
        return {"mgba", "vba_next", "vbam"};
    case FileKind::Snes:
        return {"bsnes_mercury_balanced", "bsnes_mercury_accuracy", "bsnes_mercury_performance",
                "snes9x"};
    default:
        return {};
    }
}

std::string Lower(std::string text) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The extensions an info file gives, from its line
// supported_extensions = "nes|fds|unf".
std::vector<std::string> Extensions(const fs::path& info) {
    std::ifstream in(info);
    std::vector<std::string> extensions;
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals);
        std::erase_if(key, [](unsigned char c) { return std::isspace(c); });
        if (key != "supported_extensions")
            continue;
        const auto open = line.find('"', equals);
        const auto close = line.rfind('"');
        if (open == std::string::npos || close <= open)
            continue;
        const std::string list = line.substr(open + 1, close - open - 1);
        for (std::size_t start = 0; start <= list.size();) {
            const auto bar = std::min(list.find('|', start), list.size());
            if (bar > start)
                extensions.push_back(Lower(list.substr(start, bar - start)));
            start = bar + 1;
        }
    }
    return extensions;
}

} // namespace

CoreFolders InstalledCoreFolders() {
#if defined(_WIN32) || !defined(GLITCHWERK_LIBRETRO_CORES)
    return {};
#else
    return {GLITCHWERK_LIBRETRO_CORES, "/usr/share/libretro/info"};
#endif
}

std::string CoreName(const fs::path& core) {
    std::string name = core.filename().string();
    if (name.ends_with(kSuffix))
        name.resize(name.size() - (sizeof kSuffix - 1));
    return name;
}

std::optional<fs::path> ChooseCore(FileKind kind, const fs::path& file,
                                   const CoreFolders& folders) {
    if (folders.cores.empty())
        return std::nullopt;
    std::error_code error;
    const auto installed = [&](const std::string& name) {
        const fs::path core = folders.cores / (name + kSuffix);
        return fs::is_regular_file(core, error) ? std::optional(core) : std::nullopt;
    };
    for (const std::string& name : Preferred(kind)) {
        if (auto core = installed(name))
            return core;
    }
    std::string extension = Lower(file.extension().string());
    if (extension.size() < 2)
        return std::nullopt;
    extension.erase(0, 1);
    std::optional<fs::path> chosen;
    for (fs::directory_iterator it(folders.cores, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.ends_with(kSuffix) || !fs::is_regular_file(it->path(), error))
            continue;
        const auto claims = Extensions(folders.info / (CoreName(name) + "_libretro.info"));
        if (std::ranges::find(claims, extension) == claims.end())
            continue;
        if (chosen)
            return std::nullopt; // claimed by several: none is the right one
        chosen = it->path();
    }
    return chosen;
}

} // namespace glitchwerk::play
