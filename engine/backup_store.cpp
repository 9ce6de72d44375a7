// SPDX-License-Identifier: MIT
#include "engine/backup_store.h"

#include "engine/corruption_pass.h"
#include "engine/crc32.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kCopyStreamBuffer = 1 << 20;
// Once this many blocks differ, and at least every second one looked at, the
// rest of the file is copied whole: comparing it would cost more.
constexpr std::size_t kDifferingBeforeWholeCopy = 16;
// How much of the data file is checked before the kernel copies it.
constexpr std::uint64_t kCheckedStretch = 16 << 20;

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
        if (!CloseStream(copy) || !copied) {
            std::error_code ignored;
            fs::remove(name, ignored); // a part of a copy would only mislead
            return false;
        }
        // Finished, it stays even when its name may not be on the disk yet.
        kept = name;
        return FlushFolderToDisk(folder);
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

std::size_t BlockSize(std::uint64_t offset, std::uint64_t length) {
    return static_cast<std::size_t>(std::min<std::uint64_t>(kHashedBlock, length - offset));
}

#ifdef GLITCHWERK_HASH_AVX2
} // namespace
std::uint64_t HashAvx2(const void* bytes, std::size_t size, std::uint64_t seed);
namespace {
#endif

std::uint64_t Hash(const std::vector<unsigned char>& block, std::size_t size, std::uint64_t seed) {
#ifdef GLITCHWERK_HASH_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        return HashAvx2(block.data(), size, seed);
#endif
    return XXH3_64bits_withSeed(block.data(), size, seed);
}

// Hashes the first `length` bytes of the data file as they read back from it,
// and takes their CRC-32, whole and without an iNES header, on the way.
bool HashCopy(std::FILE* data, std::uint64_t length, BackupStore& store) {
    constexpr std::size_t kHeader = 16;
    std::random_device source;
    store.hashSeed = std::uint64_t{source()} << 32 | source();
    std::vector<unsigned char> block(kHashedBlock);
    store.blockHashes.reserve((length + kHashedBlock - 1) / kHashedBlock);
    std::uint32_t whole = 0, bare = 0;
    for (std::uint64_t offset = 0; offset < length; offset += kHashedBlock) {
        const std::size_t size = BlockSize(offset, length);
        std::size_t got = 0;
        if (!ReadAt(data, offset, block.data(), size, got) || got != size)
            return false;
        store.blockHashes.push_back(Hash(block, size, store.hashSeed));
        if (offset == 0 && size >= kHeader && std::memcmp(block.data(), "NES\x1A", 4) == 0)
            store.crc32Bare = 0;
        whole = Crc32(whole, block.data(), size);
        const std::size_t skip = offset == 0 ? std::min(kHeader, size) : 0;
        bare = Crc32(bare, block.data() + skip, size - skip);
    }
    store.crc32 = whole;
    if (store.crc32Bare)
        store.crc32Bare = bare;
    return true;
}

// Reads the original block at `offset` from the data file: false when it no
// longer matches its hash.
bool ReadOriginal(const BackupStore& store, std::uint64_t offset,
                  std::vector<unsigned char>& block) {
    const std::size_t size = BlockSize(offset, store.romLength);
    std::size_t got = 0;
    return ReadAt(store.dataFile.get(), offset, block.data(), size, got) && got == size &&
           Hash(block, size, store.hashSeed) == store.blockHashes[offset / kHashedBlock];
}

// Copies the original over `rom` from `offset` to the end, each stretch
// checked first: inside the kernel where it can, else block by block. Only a
// write into the data file between the check of a stretch and its copy goes
// unseen.
bool CopyRest(const BackupStore& store, std::FILE* rom, std::uint64_t offset,
              std::vector<unsigned char>& block, const Progress& progress) {
    bool inKernel = true;
    while (offset < store.romLength) {
        const std::uint64_t end =
            std::min<std::uint64_t>(offset + kCheckedStretch, store.romLength);
        for (std::uint64_t at = offset; at < end; at += kHashedBlock) {
            if (!ReadOriginal(store, at, block) ||
                (!inKernel && !WriteAt(rom, at, block.data(), BlockSize(at, store.romLength))))
                return false;
        }
        bool unsupported = false;
        if (inKernel &&
            !KernelCopy(store.dataFile.get(), rom, end - offset, unsupported, {}, offset)) {
            if (!unsupported)
                return false;
            inKernel = false; // this stretch again, through our own buffer
            continue;
        }
        offset = end;
        if (progress)
            progress(offset, store.romLength);
    }
    return true;
}

// The copy goes over the file in place: a restore that fails part-way leaves
// every byte it did not reach as it was.
bool WriteBackCopy(BackupStore& store, const Progress& progress) {
    const std::uint64_t length = store.romLength;
    // First make sure the whole copy is there to be read back (the lock does
    // not stop other programs).
    if (!store.dataFile || StreamLength(store.dataFile.get()) != store.romLength ||
        store.blockHashes.size() != (length + kHashedBlock - 1) / kHashedBlock)
        return false;
    FileHandle rom = OpenEditedFile(store, store.romPath, true);
    if (!rom)
        return false;
    const std::int64_t found = StreamLength(rom.get());
    if (found < 0 ||
        (static_cast<std::uint64_t>(found) != length && !ResizeStream(rom.get(), length)))
        return false;
    // Bytes added to a file found short are zeros, but not the original's.
    const std::uint64_t present =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(found), length);
    std::vector<unsigned char> block(kHashedBlock);
    std::size_t looked = 0;
    std::size_t differing = 0;
    bool copied = true;
    for (std::uint64_t offset = 0; copied && offset < length; offset += kHashedBlock) {
        const std::size_t size = BlockSize(offset, length);
        std::size_t got = 0;
        ++looked;
        if (offset + size <= present) {
            if (!ReadAt(rom.get(), offset, block.data(), size, got))
                return false;
            if (got == size &&
                Hash(block, size, store.hashSeed) == store.blockHashes[offset / kHashedBlock]) {
                if (progress)
                    progress(offset + size, length);
                continue;
            }
        }
        if (++differing >= kDifferingBeforeWholeCopy && differing * 2 >= looked) {
            copied = CopyRest(store, rom.get(), offset, block, progress);
            break;
        }
        copied =
            ReadOriginal(store, offset, block) && WriteAt(rom.get(), offset, block.data(), size);
        if (progress)
            progress(offset + size, length);
    }
    // Success means the bytes are on the disk: a write error that the disk
    // reports late must not let the originals be thrown away at exit.
    copied = copied && FlushToDisk(rom.get());
    return CloseStream(rom) && copied;
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
        !FlushToDisk(data.get()) || !FlushFolderToDisk(folder) ||
        // From the copy as it is on the disk, not from the edited file, which
        // another program may have written to meanwhile.
        !HashCopy(data.get(), static_cast<std::uint64_t>(length), store)) {
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

bool RestoreFromBackup(BackupStore& store, const Progress& progress) {
    store.restoreFailed = !WriteBackCopy(store, progress);
    return !store.restoreFailed;
}

bool KeepOriginals(BackupStore& store) {
    if (!store.dataFile)
        return false;
    const std::int64_t length = StreamLength(store.dataFile.get());
    store.originalsKept =
        length >= 0 && KeepCopy(store.dataFile.get(), static_cast<std::uint64_t>(length),
                                store.dataFolder, store.keptFile);
    return store.originalsKept;
}

bool ClearBackup(BackupStore& store) {
    if (!store.dataFile)
        return true;
    bool emptied = true;
    // After a failed restore the data file holds the only original bytes.
    if (store.restoreFailed && !store.originalsKept &&
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

BackupCheck CheckBackup(const BackupStore& store, const Progress& progress) {
    BackupCheck check{0, store.blockHashes.size()};
    if (!store.dataFile)
        return check.lost = check.blocks, check;
    const std::int64_t length = StreamLength(store.dataFile.get());
    std::vector<unsigned char> block(kHashedBlock);
    for (std::uint64_t offset = 0; offset < store.romLength; offset += kHashedBlock) {
        const bool whole = length >= 0 && offset + BlockSize(offset, store.romLength) <=
                                              static_cast<std::uint64_t>(length);
        if (!whole || !ReadOriginal(store, offset, block))
            ++check.lost;
        if (progress)
            progress(offset + BlockSize(offset, store.romLength), store.romLength);
    }
    return check;
}

bool CopyOriginal(const BackupStore& store, std::FILE* to, const Progress& progress) {
    if (!store.dataFile)
        return false;
    std::vector<unsigned char> block(kHashedBlock);
    for (std::uint64_t offset = 0; offset < store.romLength; offset += kHashedBlock) {
        const std::size_t size = BlockSize(offset, store.romLength);
        if (!ReadOriginal(store, offset, block)) {
            SetFailure("Glitchwerk.dat no longer holds the original");
            return false;
        }
        if (!WriteAt(to, offset, block.data(), size))
            return false;
        if (progress)
            progress(offset + size, store.romLength);
    }
    return true;
}

bool IsRunFileName(const std::filesystem::path& path) {
    std::u8string name = path.filename().u8string();
#ifdef _WIN32
    // A file that exists may be named by its short name (GLITCH~1.DAT).
    std::wstring longName(32768, L'\0');
    const DWORD got =
        GetLongPathNameW(path.c_str(), longName.data(), static_cast<DWORD>(longName.size()));
    if (got > 0 && got < longName.size())
        name = std::filesystem::path(longName.c_str()).filename().u8string();
    for (char8_t& c : name)
        c = c >= u8'A' && c <= u8'Z' ? static_cast<char8_t>(c - u8'A' + u8'a') : c;
    const std::u8string_view stem = u8"glitchwerk", end = u8".dat";
#else
    const std::u8string_view stem = u8"Glitchwerk", end = u8".dat";
#endif
    return name.size() >= stem.size() + end.size() && name.starts_with(stem) && name.ends_with(end);
}

bool HeldByAnotherRun(const std::filesystem::path& path) {
    // A run's data file is locked whole, the file it edits past its end: the
    // lock past the end meets both. Taken and let go at once.
    FileHandle file = OpenFile(path, OpenHow::Reading);
    return file && LockExclusive(file.get(), LockSpan::BeyondEnd) == LockResult::HeldElsewhere;
}

} // namespace glitchwerk
