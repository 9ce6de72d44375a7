// SPDX-License-Identifier: MIT
#pragma once
// Writing a file whole, then publishing it: the bytes go into a new private
// file beside the target, reach the disk, and only then take the target's
// name. A reader never finds a part of a file under its name, and a failure
// leaves nothing behind but what was there before.

#include "engine/file_stream.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace glitchwerk {

struct PublishTarget {
    std::filesystem::path path;
    // The mode the file gets once complete (POSIX bits; the umask is taken off
    // here): the original's for a copy of the user's file, 0600 for the
    // program's own files. While it is written it is 0600.
    unsigned permissions = 0600;
    // What may be at the name: nothing, or the plain file the caller looked
    // at (and asked about), which is replaced only while it is still that one.
    std::optional<FileId> replaces;
};

enum class PublishResult {
    Published,
    Taken,  // something else than `replaces` (anything, without it) is at the name
    Failed, // the cause in LastFailure()
    // At the name, complete and on the disk, but the folder's new entry may
    // not be yet: the cause in LastFailure().
    Unsynced,
};

// Whether the file is at its name, complete: on the disk, its folder perhaps not yet.
inline bool IsPublished(PublishResult result) {
    return result == PublishResult::Published || result == PublishResult::Unsynced;
}

// Creates the new file as `.glitchwerk-XXXXXXXX.partial` beside the target,
// lets `write` fill it through the stream (false from it fails the whole, its
// cause in LastFailure()), and publishes it at `target.path`. On Taken and
// Failed nothing is replaced and the new file is gone.
PublishResult PublishFile(const PublishTarget& target,
                          const std::function<bool(std::FILE*)>& write);

// The file at `path`, if one is there, as a target for PublishTarget::replaces:
// only a plain file of its own (no link, folder, device or pipe).
std::optional<FileId> PlainFileAt(const std::filesystem::path& path);

} // namespace glitchwerk
