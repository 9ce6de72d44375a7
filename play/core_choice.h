// SPDX-License-Identifier: MIT
#pragma once
// Which installed libretro core plays a file: by the kind its bytes give it
// where the parts finder knows the kind, else by its name's extension as the
// cores' info files list them, and none when several cores claim it.

#include "engine/file_parts.h"

#include <filesystem>
#include <optional>
#include <string>

namespace glitchwerk::play {

struct CoreFolders {
    std::filesystem::path cores; // NAME_libretro.so (.dll on Windows)
    std::filesystem::path info;  // NAME_libretro.info
};

// Debian's: the libretro folder of this architecture and libretro-core-info's.
// Empty on Windows, where cores come with --core.
CoreFolders InstalledCoreFolders();

// The core's library file, or none.
std::optional<std::filesystem::path> ChooseCore(FileKind kind, const std::filesystem::path& file,
                                                const CoreFolders& folders);

// A core's name from its file: "nestopia" for nestopia_libretro.so.
std::string CoreName(const std::filesystem::path& core);

} // namespace glitchwerk::play
