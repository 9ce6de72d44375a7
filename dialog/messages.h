// SPDX-License-Identifier: MIT
#pragma once
// Every text the dialog shows in a message box or a progress view, in one
// place. '\n' breaks the line; the odd spellings are the program's own.

#include <cstddef>
#include <string>
#include <vector>

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

// What another program did to the data file, told at exit and after a failed
// restore, before anything is emptied.
inline std::string BlocksLost(std::size_t lost, std::size_t blocks) {
    return "Glitchwerk.dat was changed by another program: " + std::to_string(lost) + " of " +
           std::to_string(blocks) + " blocks of the original are lost.\n";
}
inline std::string DataFileChanged(std::size_t lost, std::size_t blocks,
                                   const std::string& keptFile) {
    return BlocksLost(lost, blocks) + "The whole blocks are kept in " + keptFile +
           "; do not copy it back whole.";
}
inline std::string DataFileChangedStill(std::size_t lost, std::size_t blocks) {
    return BlocksLost(lost, blocks) + "The whole blocks are still in Glitchwerk.dat.";
}
inline constexpr char kChecking[] = "Checking Glitchwerk.dat";

// The panel.
inline constexpr char kSaving[] = "Saving the file";
inline constexpr char kBadEvery[] = "Every Nth byte: N is a decimal number of 1 or more.";
inline constexpr char kBadPick[] =
    "Bytes chosen by the seed: K is a decimal number from 1 to 1000000.";
inline constexpr char kCopySaved[] = "The copy was saved.";
inline constexpr char kCopyNotOverOwn[] =
    "A copy cannot be saved over the edited file or Glitchwerk.dat.";
inline constexpr char kCopyNotOverRunFile[] =
    "A copy cannot be saved over a data file or a kept copy of a run.";
inline std::string ReplaceQuestion(const std::string& name) {
    return name + " exists. Replace it?";
}
inline std::string CopyNotSaved(const std::string& file, const std::string& cause) {
    return "The copy could not be saved as " + file + ":\n" + cause;
}
inline std::string TrySaved(const std::string& file) {
    return "The try was saved as " + file + ", with its recipe.";
}
inline std::string HistorySetAside(const std::string& file) {
    return "The kept history could not be read. It was set aside as " + file + ".";
}
inline std::string HistoryLinesSetAside(std::size_t lines, const std::string& file) {
    return std::to_string(lines) + (lines == 1 ? " line" : " lines") +
           " of the kept history could not be read; set aside in " + file + ".";
}
inline std::string HistoryLinesSkipped(std::size_t lines) {
    return std::to_string(lines) + (lines == 1 ? " line" : " lines") +
           " of the kept history could not be read; skipped.";
}
inline std::string HistoryNotYours(const std::string& folder) {
    return "The kept history in " + folder + " is not yours alone; it was not used.";
}
inline constexpr char kHistoryNotKept[] = "The history could not be kept.";
inline std::string SettingsSetAside(const std::string& folder) {
    return "The kept settings in " + folder +
           " could not be read; set aside as settings.json.damaged.";
}
inline constexpr char kForgetSettings[] = "Forget the settings for every file too?";
inline constexpr char kNothingHit[] = "Nothing was hit; no row added.";
inline std::string Mended(const std::vector<std::string>& sums) {
    std::string text = "Checksums mended:";
    for (std::size_t i = 0; i < sums.size(); ++i)
        text += (i ? ", " : " ") + sums[i];
    return text + ".";
}
inline constexpr char kNoRecipe[] = "The clipboard holds no recipe.";
inline std::string RecipeNotRead(const std::string& why) {
    return "The recipe could not be read:\n" + why;
}
inline constexpr char kRecipeUnchecked[] =
    "The recipe has no --expect-crc32: it cannot be told whether it is for this file.";
inline std::string RecipeForAnother(const std::string& theirs, const std::string& ours) {
    return "The recipe is for another file: its CRC-32 is " + theirs + ", this file's " + ours +
           ".";
}
inline constexpr char kRecipeCopied[] = "The recipe is on the clipboard.";
inline constexpr char kPreviewTooLarge[] = "too large to preview";
inline constexpr char kPreviewNotRead[] = "The file could not be read for the preview.";
inline constexpr char kPreviewNoImage[] = "The file no longer decodes as an image.";
inline constexpr char kPreviewNoTiles[] = "No whole tile in the range.";
inline constexpr char kNoOriginalCrc[] = "The original's CRC-32 could not be read.";
inline std::string CommandNotStarted(const std::string& command, const std::string& reason) {
    return "Run after corrupt could not start " + command + ":\n" + reason;
}
inline constexpr char kPlayWaits[] = "Corrupt, and the file plays here.";
inline constexpr char kPlayNotRead[] = "The file could not be read to play.";
inline constexpr char kPlayTooLarge[] = "too large to play (256 MiB at most)";
inline constexpr char kPlayRefused[] = "The core refused the file.";
inline constexpr char kPlayCrashed[] = "The core crashed.";
inline std::string PlayHung(long long milliseconds) {
    return "The core did not answer within " + std::to_string(milliseconds / 1000) + "." +
           std::to_string(milliseconds % 1000 / 100) + " s.";
}
inline constexpr char kByTheFile[] = "By the file: ";
inline constexpr char kNoCoreTakes[] = "none takes it";

} // namespace glitchwerk::messages
