// SPDX-License-Identifier: MIT
#include "engine/publish.h"

#include <cstdio>
#include <random>
#include <system_error>

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;

// Removes the new file, if the name still leads to it, keeping the cause of
// the failure that got here.
void Discard(const fs::path& partial, const FileId& made) {
    const std::string cause = LastFailure();
    FileFacts there;
    bool found = false;
    std::error_code ignored;
    if (FactsAtName(partial, there, found) && found && there.id == made)
        fs::remove(partial, ignored);
    SetFailure(cause);
}

} // namespace

PublishResult PublishFile(const PublishTarget& target,
                          const std::function<bool(std::FILE*)>& write) {
    const fs::path folder = target.path.parent_path();
    std::random_device random;
    fs::path partial;
    FileHandle file;
    OpenFailure failure = OpenFailure::Exists;
    for (int tries = 0; !file && failure == OpenFailure::Exists && tries < 100; ++tries) {
        char name[32];
        std::snprintf(name, sizeof name, ".glitchwerk-%08X.partial", random());
        partial = folder / name;
        file = OpenFile(partial, OpenHow::New, &failure, 0600);
    }
    if (!file)
        return PublishResult::Failed; // OpenFile removed what it made
    FileFacts made;
    if (!ReadFacts(file.get(), made)) {
        const std::string cause = LastFailure();
        file.reset();
        std::error_code ignored;
        fs::remove(partial, ignored); // made a moment ago, and empty
        SetFailure(cause);
        return PublishResult::Failed;
    }
    if (!write(file.get()) || !FlushToDisk(file.get()) ||
        !SetPermissions(file.get(), target.permissions & ~UserMask()) || !CloseStream(file)) {
        file.reset();
        Discard(partial, made.id);
        return PublishResult::Failed;
    }
    // Looked at again just before: the file the caller saw, or nothing.
    FileFacts there;
    bool found = false;
    bool existed = false;
    bool moved = false;
    if (target.replaces && !FactsAtName(target.path, there, found)) {
        Discard(partial, made.id);
        return PublishResult::Failed;
    }
    if (found && !(there.regular && there.id == *target.replaces)) {
        Discard(partial, made.id);
        return PublishResult::Taken;
    }
    moved = found ? RenameReplacing(partial, target.path)
                  : RenameWithoutReplacing(partial, target.path, existed);
    if (!moved) {
        Discard(partial, made.id);
        return existed ? PublishResult::Taken : PublishResult::Failed;
    }
    return FlushFolderToDisk(folder.empty() ? fs::path(".") : folder) ? PublishResult::Published
                                                                      : PublishResult::Unsynced;
}

std::optional<FileId> PlainFileAt(const std::filesystem::path& path) {
    FileFacts facts;
    bool found = false;
    if (FactsAtName(path, facts, found) && found && facts.regular)
        return facts.id;
    return std::nullopt;
}

} // namespace glitchwerk
