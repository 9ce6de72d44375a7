#pragma once
// The backup data file: a byte-for-byte copy of the edited file, taken at
// start-up, from which the file can be restored any number of times.

#include "file_stream.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace glitchwerk {

// A bare name: the data file lives in the current directory.
inline constexpr char kDataFileName[] = "Glitchwerk.dat";
inline constexpr std::size_t kBackupBlock = 256;

enum class BackupResult {
    BackupCreated,
    DataFileNotCreated,
    EditedFileNotOpened,
    DataFileInUse,        // another run holds the lock on the data file
    EditedFileIsDataFile, // the chosen file is the data file itself
    EditedFileTooLarge,   // 2 GiB or more
};

struct BackupStore {
    FileHandle dataFile;           // open and locked for the run, or none
    std::filesystem::path romPath; // the edited file
    std::uint32_t romLength = 0;   // its length when it was backed up
};

// Locks and fills the data file with a copy of `path`, leaving it open in
// `store`. On any result other than BackupCreated, the edited file is unchanged
// and `store` holds no data file.
BackupResult CreateBackup(BackupStore& store, const std::filesystem::path& path);

// Writes the saved copy back over the edited file. Returns false when the
// edited file cannot be opened or any read or write fails; the data file is
// kept as it is either way.
bool RestoreFromBackup(BackupStore& store);

// Empties the data file (it is not deleted) and closes it.
void ClearBackup(BackupStore& store);

} // namespace glitchwerk
