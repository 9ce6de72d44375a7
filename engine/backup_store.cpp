// SPDX-License-Identifier: MIT
#include "engine/backup_store.h"

#include "engine/corruption_pass.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyStreamBuffer = 1 << 20;

// "Glitchwerk-20261206-231500", from the local time.
std::string KeptFileStem() {
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    char stem[64] = "Glitchwerk-kept";
    if (local)
        std::strftime(stem, sizeof stem, "Glitchwerk-%Y%m%d-%H%M%S", local);
    return stem;
}

// Copies the data file's first `length` bytes into a new file in `folder`
// that replaces nothing, and waits until the copy is on the disk.
bool KeepCopy(std::FILE* data, std::uint64_t length, const fs::path& folder, fs::path& kept,
              const Progress& progress = {}) {
    const std::string stem = KeptFileStem();
    for (int taken = 1; taken < 100; ++taken) {
        std::string base = stem;
        if (taken > 1)
            base.append("-").append(std::to_string(taken));
        const fs::path name = folder / (base + ".dat");
        OpenFailure failure{};
        FileHandle copy = OpenFile(name, OpenHow::New, &failure);
        if (failure == OpenFailure::Exists)
            continue;
        if (!copy)
            return false;
        SetStreamBuffer(copy, kCopyStreamBuffer);
        const bool copied =
            CopyWhole(data, copy.get(), length, kWindowSize, progress) && FlushToDisk(copy.get());
        if (CloseStream(copy) && copied && FlushFolderToDisk(folder)) {
            kept = name;
            return true;
        }
        std::error_code ignored;
        fs::remove(name, ignored); // a part of a copy would only mislead
        return false;
    }
    return false;
}

// A handle that only reads the file at `path`, which must be the file `id`,
// with the run's lock on it: held for the run, it keeps no other program from
// using the file (running it, opening it for writing alone on Windows). Null
// when it cannot be had; `inUse` when another run holds the lock.
FileHandle HoldFile(const fs::path& path, const FileId& id, bool& inUse) {
    inUse = false;
    FileHandle held = OpenFile(path, OpenHow::Reading);
    FileFacts facts;
    if (!held || !ReadFacts(held.get(), facts) || facts.id != id)
        return nullptr;
    // A file system without locks (some network and shared folders) still
    // lets the user edit the file.
    inUse = LockExclusive(held.get(), LockSpan::BeyondEnd) == LockResult::HeldElsewhere;
    return inUse ? nullptr : std::move(held);
}

// The copy goes over the file in place: a restore that fails part-way leaves
// every byte it did not reach as it was.
bool WriteBackCopy(BackupStore& store, const Progress& progress) {
    // First make sure the whole copy is there to be read back (the lock does
    // not stop other programs).
    if (!store.dataFile || StreamLength(store.dataFile.get()) != store.romLength ||
        !SeekTo(store.dataFile.get(), 0))
        return false;
    FileHandle rom = OpenEditedFile(store, store.romPath, true);
    if (!rom)
        return false;
    std::setvbuf(rom.get(), nullptr, _IONBF, 0); // whole blocks: each fwrite is one write
    std::FILE* data = store.dataFile.get();
    // Just the ranges the run wrote go back when the file still has the
    // length and the times the run left it with: nothing else wrote to it.
    FileTimes times;
    std::uint64_t changed = 0;
    for (const auto& [begin, end] : store.changedRanges)
        changed += end - begin;
    bool copied = true;
    if (store.rangesKnown && changed <= store.romLength / 2 &&
        StreamLength(rom.get()) == store.romLength && ReadTimes(rom.get(), times) &&
        times == store.stampedTimes) {
        std::uint64_t done = 0;
        for (const auto& [begin, end] : store.changedRanges) {
            const Progress overall = [&](std::uint64_t part, std::uint64_t) {
                progress(done + part, changed);
            };
            copied = copied && SeekTo(data, begin) && SeekTo(rom.get(), begin) &&
                     CopyBytes(data, rom.get(), end - begin, kWindowSize,
                               progress ? overall : Progress());
            done += end - begin;
        }
    } else { // the whole copy, inside the kernel where it can: also when most of it changed
        copied = CopyWhole(data, rom.get(), store.romLength, kWindowSize, progress) &&
                 ResizeStream(rom.get(), store.romLength);
    }
    // Success means the bytes are on the disk: a write error that the disk
    // reports late must not let the originals be thrown away at exit.
    copied = copied && FlushToDisk(rom.get());
    if (!CloseStream(rom) || !copied)
        return false;
    store.changedRanges.clear();
    store.rangesKnown = true;
    StampWritten(store);
    return true;
}

} // namespace

BackupResult CreateBackup(BackupStore& store, const std::filesystem::path& path,
                          const Progress& progress) {
    store = BackupStore{};
    // The folder is fixed now, so that kept copies go beside the data file
    // whatever the current directory becomes.
    std::error_code error;
    const fs::path folder = fs::current_path(error);
    if (error)
        return BackupResult::DataFileNotCreated;
    // Opened without truncation and locked before anything is written: until
    // we hold the lock, its contents may be another run's only copy of its
    // file. In a folder others can write to, it may also have been planted: a
    // link to a file of ours would get that file overwritten, someone else's
    // file would let them read our copy or write into it.
    OpenFailure failure{};
    FileHandle data = OpenFile(folder / kDataFileName, OpenHow::OwnFile, &failure);
    if (!data) {
        return failure == OpenFailure::IsLink ? BackupResult::DataFileUnsafe
                                              : BackupResult::DataFileNotCreated;
    }
    FileFacts dataFacts;
    if (!ReadFacts(data.get(), dataFacts))
        return BackupResult::DataFileNotCreated;
    if (!dataFacts.regular || !dataFacts.ours || dataFacts.links != 1)
        return BackupResult::DataFileUnsafe;
    // The start-up copy goes kBackupBlock bytes at a time: large stream
    // buffers turn that into few system calls on either side. Without them
    // the copy is only slower.
    SetStreamBuffer(data, kCopyStreamBuffer);
    switch (LockExclusive(data.get())) {
    case LockResult::Locked:
        break;
    case LockResult::HeldElsewhere:
        return BackupResult::DataFileInUse;
    case LockResult::Failed:
        return BackupResult::DataFileNotCreated;
    }

    FileHandle rom = OpenFile(path, OpenHow::Existing);
    FileFacts romFacts;
    if (!rom || !ReadFacts(rom.get(), romFacts) || !romFacts.regular)
        return BackupResult::EditedFileNotOpened;
    SetStreamBuffer(rom, kCopyStreamBuffer);
    if (romFacts.id == dataFacts.id)
        return BackupResult::EditedFileIsDataFile;
    const std::int64_t length = romFacts.length;
    if (length > kLargestFile)
        return BackupResult::EditedFileTooLarge;
    // Held for the run: another run must neither edit this file too nor take
    // it, our data file, for its own.
    bool inUse = false;
    FileHandle held = HoldFile(path, romFacts.id, inUse);
    if (!held)
        return inUse ? BackupResult::EditedFileInUse : BackupResult::EditedFileNotOpened;

    // Stamped before the copy, once a mapping's pending writes are out (so that
    // its next one changes the times too): any write from then on shows.
    FileTimes stamped;
    const bool timesKnown = TimesShowEveryWrite(rom.get()) && FlushToDisk(held.get()) &&
                            StampTimes(held.get(), stamped);

    // A data file that still holds bytes once we hold its lock is the backup
    // of a run that did not end normally: its file may be corrupted now.
    const std::int64_t leftover = StreamLength(data.get());
    if (leftover != 0 &&
        (leftover < 0 || !KeepCopy(data.get(), static_cast<std::uint64_t>(leftover), folder,
                                   store.keptFile, progress)))
        return BackupResult::DataFileNotCreated;

    // Whoever could read the data file before may hold it open still, and
    // would read this copy too: it goes into a new file instead.
    if (dataFacts.permissions & 077) {
        std::error_code ignored;
        fs::remove(folder / kDataFileName, ignored);
        data = OpenFile(folder / kDataFileName, OpenHow::New);
        if (!data || LockExclusive(data.get()) != LockResult::Locked)
            return BackupResult::DataFileNotCreated;
        SetStreamBuffer(data, kCopyStreamBuffer);
    }
    // On the disk before the first Corrupt, so that a power cut cannot leave
    // a corrupted file beside an empty backup, or none.
    if (!MakePrivate(data.get()) || !TruncateStream(data.get()) ||
        !CopyWhole(rom.get(), data.get(), static_cast<std::uint64_t>(length), kBackupBlock,
                   progress) ||
        !FlushToDisk(data.get()) || !FlushFolderToDisk(folder)) {
        TruncateStream(data.get()); // leave no partial copy that looks like a backup
        return BackupResult::DataFileNotCreated;
    }
    store.dataFile = std::move(data);
    store.romPath = path;
    store.romLength = static_cast<std::uint32_t>(length);
    store.editedFile = std::move(held);
    store.romId = romFacts.id;
    store.romPermissions = romFacts.permissions;
    store.dataFolder = folder;
    // Written to meanwhile, the file may not match the copy.
    FileTimes after;
    store.rangesKnown = timesKnown && ReadTimes(rom.get(), after) && after == stamped;
    store.stampedTimes = stamped;
    return BackupResult::BackupCreated;
}

FileHandle OpenEditedFile(BackupStore& store, const std::filesystem::path& path, bool recreate) {
    if (!store.dataFile)
        return nullptr; // no backup, no edit
    FileHandle file = OpenFile(path, OpenHow::Existing);
    FileFacts held;
    if (!file && recreate &&
        (!store.editedFile || (ReadFacts(store.editedFile.get(), held) && held.deleted))) {
        // Deleted since (not just out of reach of the path: a link removed, a
        // folder renamed): made anew, never through a link at the name. The
        // new file is the one the run edits from now on, and takes the lock.
        store.editedFile.reset(); // on Windows the name stays taken while it is open
        file = OpenFile(path, OpenHow::New, nullptr, store.romPermissions);
        FileFacts made;
        bool inUse = false;
        if (!file || !ReadFacts(file.get(), made))
            return nullptr;
        store.editedFile = HoldFile(path, made.id, inUse);
        if (!store.editedFile)
            return nullptr;
        store.romId = made.id;
    }
    FileFacts facts;
    if (!file || !ReadFacts(file.get(), facts) || facts.id != store.romId)
        return nullptr;
    return file;
}

void NoteWriting(BackupStore& store, std::uint64_t begin, std::uint64_t end) {
    FileTimes times;
    store.rangesKnown = store.rangesKnown && store.editedFile &&
                        ReadTimes(store.editedFile.get(), times) && times == store.stampedTimes;
    auto& ranges = store.changedRanges; // sorted, apart from each other
    auto first =
        std::lower_bound(ranges.begin(), ranges.end(), begin,
                         [](const auto& range, std::uint64_t at) { return range.second < at; });
    auto last = first;
    for (; last != ranges.end() && last->first <= end; ++last) {
        begin = std::min(begin, last->first);
        end = std::max(end, last->second);
    }
    ranges.insert(ranges.erase(first, last), {begin, end});
}

void StampWritten(BackupStore& store) {
    store.rangesKnown = store.rangesKnown && store.editedFile &&
                        StampTimes(store.editedFile.get(), store.stampedTimes);
}

bool RestoreFromBackup(BackupStore& store, const Progress& progress) {
    store.restoreFailed = !WriteBackCopy(store, progress);
    return !store.restoreFailed;
}

bool ClearBackup(BackupStore& store) {
    if (!store.dataFile)
        return true;
    bool emptied = true;
    // After a failed restore the data file holds the only original bytes.
    if (store.restoreFailed &&
        !KeepCopy(store.dataFile.get(), store.romLength, store.dataFolder, store.keptFile)) {
        // Left in the data file for the next run to keep, if its name still
        // leads to it; else the run goes on holding the only copy.
        const fs::path name = store.dataFolder / kDataFileName;
        FileHandle named = OpenFile(name, OpenHow::Existing);
        if (!named || !IsSameFile(named.get(), store.dataFile.get())) {
            store.keptFile.clear();
            return true;
        }
        store.keptFile = name;
    } else {
        // Emptied through the locked stream, so that no other run can take
        // the data file over between the truncation and the close.
        emptied = TruncateStream(store.dataFile.get());
    }
    store.dataFile.reset();
    store.editedFile.reset();
    return emptied;
}

} // namespace glitchwerk
