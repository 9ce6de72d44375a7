#include "backup_store.h"

#include "corruption_pass.h"

#include <algorithm>
#include <vector>

namespace glitchwerk {
namespace {

// Offsets and counts elsewhere are 32-bit and signed where they are shown.
constexpr std::int64_t kLargestFile = 0x7FFFFFFF;
constexpr std::size_t kCopyStreamBuffer = 1 << 20;

// Copies exactly `length` bytes from the current position of `from` to `to` in
// blocks of `block` bytes. Any short read or write fails the copy.
bool CopyBytes(std::FILE* from, std::FILE* to, std::uint64_t length, std::size_t block) {
    std::vector<unsigned char> buffer(block);
    for (std::uint64_t copied = 0; copied < length;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(block, length - copied));
        if (std::fread(buffer.data(), 1, wanted, from) != wanted)
            return false;
        if (std::fwrite(buffer.data(), 1, wanted, to) != wanted)
            return false;
        copied += wanted;
    }
    return std::fflush(to) == 0;
}

} // namespace

BackupResult CreateBackup(BackupStore& store, const std::filesystem::path& path) {
    store = BackupStore{};
    // The data file is opened without truncation and locked first: until we
    // hold the lock, its contents may be another run's only copy of its file.
    FileHandle data = OpenOrCreateStream(kDataFileName);
    if (!data)
        return BackupResult::DataFileNotCreated;
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

    FileHandle rom = OpenStream(path, "r+b");
    if (!rom)
        return BackupResult::EditedFileNotOpened;
    SetStreamBuffer(rom, kCopyStreamBuffer);
    if (IsSameFile(data.get(), rom.get()))
        return BackupResult::EditedFileIsDataFile;
    const std::int64_t length = StreamLength(rom.get());
    if (length < 0)
        return BackupResult::EditedFileNotOpened;
    if (length > kLargestFile)
        return BackupResult::EditedFileTooLarge;

    if (!TruncateStream(data.get()) ||
        !CopyBytes(rom.get(), data.get(), static_cast<std::uint64_t>(length), kBackupBlock)) {
        TruncateStream(data.get()); // leave no partial copy that looks like a backup
        return BackupResult::DataFileNotCreated;
    }
    store.dataFile = std::move(data);
    store.romPath = path;
    store.romLength = static_cast<std::uint32_t>(length);
    return BackupResult::BackupCreated;
}

bool RestoreFromBackup(BackupStore& store) {
    if (!store.dataFile || !SeekTo(store.dataFile.get(), 0))
        return false;
    // Opening the edited file empties it: first make sure the whole copy is
    // there to be read back (the lock does not stop other programs).
    if (StreamLength(store.dataFile.get()) != store.romLength)
        return false;
    FileHandle rom = OpenStream(store.romPath, "w+b");
    if (!rom)
        return false;
    std::setvbuf(rom.get(), nullptr, _IONBF, 0); // whole blocks: each fwrite is one write
    const bool copied = CopyBytes(store.dataFile.get(), rom.get(), store.romLength, kWindowSize);
    return CloseStream(rom) && copied;
}

void ClearBackup(BackupStore& store) {
    if (!store.dataFile)
        return;
    // Emptied through the locked stream, so that no other run can take the
    // data file over between the truncation and the close.
    TruncateStream(store.dataFile.get());
    store.dataFile.reset();
}

} // namespace glitchwerk
