// SPDX-License-Identifier: MIT
#pragma once
// Every text the dialog shows in a message box or a progress view, in one
// place. '\n' breaks the line; the odd spellings are the program's own.

#include <string>

namespace glitchwerk::messages {

// Start-up.
inline constexpr char kCopying[] = "Copying the file to Glitchwerk.dat";
inline constexpr char kDataFileNotCreated[] =
    "Unable to create data file.\nApplication cannot continue.";
inline constexpr char kFileNotOpened[] = "Error opening file.";
inline constexpr char kDataFileInUse[] =
    "Data file is in use by another Glitchwerk window.\nApplication cannot continue.";
inline constexpr char kFileIsDataFile[] =
    "Glitchwerk.dat is the data file and cannot be edited.\nApplication cannot continue.";
inline constexpr char kFileTooLarge[] =
    "File is too large (2 GB or more).\nApplication cannot continue.";
inline constexpr char kDataFileUnsafe[] =
    "Glitchwerk.dat is not a plain file of your own.\nApplication cannot continue.";
inline constexpr char kFileInUse[] =
    "File is in use by another Glitchwerk window.\nApplication cannot continue.";
inline std::string LeftoverKept(const std::string& keptFile) {
    return "Glitchwerk.dat held the backup of a run that did not end normally.\nIt was kept as " +
           keptFile + ".";
}

// The commands.
inline constexpr char kCorrupting[] = "Corrupting the file";
inline constexpr char kRestoring[] = "Restoring the file";
inline constexpr char kCorrupted[] = "Corruption sucessful";
inline constexpr char kCorruptNotOpened[] = "Error opening file:\nCorruption failed";
inline constexpr char kCorruptIncomplete[] =
    "Error writing file:\nCorruption incomplete. Restore puts the original back.";
inline constexpr char kRestored[] = "File Restore Sucessfully";
inline constexpr char kRestoreFailed[] = "Error\nUnable to  restore file";

// The exit.
inline constexpr char kExitQuestion[] = "Restore file before exiting?";
inline constexpr char kExitRestoreFailed[] = "Error\nCould not restore file.";
inline constexpr char kOriginalsNotKept[] =
    "The last restore failed and the original bytes could not be kept.\nRestore the file, or "
    "make room on the disk and exit again.";
inline std::string OriginalsKept(const std::string& keptFile) {
    return "The last restore failed.\nThe original bytes are kept in " + keptFile + ".";
}
inline constexpr char kDataFileNotEmptied[] =
    "Glitchwerk.dat could not be emptied.\nThe next start keeps its bytes under a new name.";

// The panel.
inline constexpr char kBadEvery[] = "Every Nth byte: N is a decimal number of 1 or more.";
inline constexpr char kBadPick[] =
    "Bytes chosen by the seed: K is a decimal number from 1 to 1000000.";
inline constexpr char kCopySaved[] = "The copy was saved.";
inline constexpr char kCopyNotOverOwn[] =
    "A copy cannot be saved over the edited file or Glitchwerk.dat.";
inline std::string CopyNotSaved(const std::string& file) {
    return "The copy could not be saved as " + file + ".";
}
inline std::string HistorySetAside(const std::string& file) {
    return "The kept history could not be read. It was set aside as " + file + ".";
}
inline constexpr char kHistoryNotKept[] = "The history could not be kept.";
inline constexpr char kRecipeCopied[] = "The recipe is on the clipboard.";
inline constexpr char kNoOriginalCrc[] = "The original's CRC-32 could not be read.";
inline std::string CommandNotStarted(const std::string& command, const std::string& reason) {
    return "Run after corrupt could not start " + command + ":\n" + reason;
}

} // namespace glitchwerk::messages
