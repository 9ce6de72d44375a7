// SPDX-License-Identifier: MIT
#pragma once
// The backup data file: a byte-for-byte copy of the edited file, taken at
// start-up, from which the file can be restored any number of times.

#include "engine/file_stream.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace glitchwerk {

// A bare name: the data file lives in the current directory.
inline constexpr char kDataFileName[] = "Glitchwerk.dat";
inline constexpr std::size_t kBackupBlock = 256;
// Restore compares the file with the original in blocks of this size.
inline constexpr std::size_t kHashedBlock = 0x10000;
// The largest file that can be edited: offsets and counts elsewhere are
// 32-bit and signed where they are shown.
inline constexpr std::int64_t kLargestFile = 0x7FFFFFFF;

enum class BackupResult {
    BackupCreated,
    DataFileNotCreated,
    EditedFileNotOpened,
    DataFileInUse,        // another run holds the lock on the data file
    EditedFileIsDataFile, // the chosen file is the data file itself
    EditedFileTooLarge,   // 2 GiB or more
    DataFileUnsafe,       // a link, or a file that is not ours alone
    EditedFileInUse,      // another run edits the chosen file, or backs up into it
};

struct BackupStore {
    FileHandle dataFile;           // open and locked for the run, or none
    std::filesystem::path romPath; // the edited file
    std::uint32_t romLength = 0;   // its length when it was backed up

    FileHandle editedFile;            // open for the run, holding the edited file's lock
    FileId romId;                     // which file on disk the run edits
    unsigned romPermissions = 0;      // the file's mode, should it be made anew
    std::filesystem::path dataFolder; // where the data file and kept copies are
    bool restoreFailed = false;       // the last restore failed; cleared by one that succeeds
    // Where the bytes of a leftover data file, or the originals after a failed
    // restore, were kept; empty when none were.
    std::filesystem::path keptFile;
    bool originalsKept = false; // KeepOriginals copied the data file

    // What tells the original bytes from any others without reading the data
    // file: a hash of each kHashedBlock bytes of the copy, with a seed drawn
    // for the run so that no one can make other bytes that match.
    std::vector<std::uint64_t> blockHashes;
    std::uint64_t hashSeed = 0;
    // The original's CRC-32, whole and, for an iNES ROM, without its 16-byte
    // header (the one ROM catalogues give), taken from the copy as well.
    std::uint32_t crc32 = 0;
    std::optional<std::uint32_t> crc32Bare;
};

// Locks and fills the data file with a copy of `path`, leaving it open in
// `store` and the copy on the disk. A data file that still holds an earlier
// run's copy is first kept under a new name (`keptFile`). On any other result
// than BackupCreated, the edited file is unchanged and `store` holds no data
// file; the data file is as it was unless its leftover was kept already.
BackupResult CreateBackup(BackupStore& store, const std::filesystem::path& path,
                          const Progress& progress = {});

// Gives the edited file its recorded length, then reads it and writes the
// saved copy back over each block that differs from the original, in place,
// whoever changed it; a file deleted since is made anew. Returns true only
// when every block matched or was written back and the file is on the disk;
// false when the file is not the one backed up or cannot be opened, when any
// read or write fails, or when a block of the data file no longer holds the
// original (nothing of that block is written). The data file is kept as it is.
bool RestoreFromBackup(BackupStore& store, const Progress& progress = {});

// Empties the data file (it is not deleted) and closes it. After a failed
// restore the original bytes are first kept under a new name, unless
// KeepOriginals kept them already; when that fails, the data file is left
// holding them. `keptFile` then names the file that holds them. When it is
// empty, nothing was closed: the run holds the only copy still. Returns false
// when the data file could not be emptied: it is closed all the same, and the
// next run keeps its bytes as a leftover.
bool ClearBackup(BackupStore& store);

// Copies what the data file holds under a new name beside it (`keptFile`),
// on the disk before it returns true; the data file stays as it is.
bool KeepOriginals(BackupStore& store);

// What the data file still holds of the original, by its blocks of
// kHashedBlock bytes: those that no longer match their hash, or that a
// shortened data file lost, are lost. A block that cannot be read counts as
// lost too.
struct BackupCheck {
    std::size_t lost = 0;
    std::size_t blocks = 0;
};
BackupCheck CheckBackup(const BackupStore& store, const Progress& progress = {});

// Writes the original, as the data file holds it, from the start of `to`,
// each block checked against its hash first. False when a block no longer
// matches it, or when a read or write fails.
bool CopyOriginal(const BackupStore& store, std::FILE* to, const Progress& progress = {});

// Whether the name is one a run gives its data file or the copies it keeps:
// "Glitchwerk*.dat" (without case on Windows), in whatever folder.
bool IsRunFileName(const std::filesystem::path& path);

// Whether another run holds the file at `path` locked: as its data file, or
// as the file it edits.
bool HeldByAnotherRun(const std::filesystem::path& path);

// Opens `path` again for the run: only when it is still the file on disk that
// was backed up (or made anew by a restore). With `recreate`, a file deleted
// since is made anew, never through a link, and becomes the run's file.
FileHandle OpenEditedFile(BackupStore& store, const std::filesystem::path& path,
                          bool recreate = false);

} // namespace glitchwerk
