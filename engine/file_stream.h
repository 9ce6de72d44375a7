// SPDX-License-Identifier: MIT
#pragma once
// The few file operations the engine needs beyond the C streams themselves:
// safe opening by std::filesystem::path (so non-ASCII names work everywhere),
// 64-bit seeks and lengths, what an open file is, locking, resizing and
// flushing to the disk.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace glitchwerk {

// Told now and then how far long work has come: bytes done of the total.
using Progress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Why the last operation below that failed on this thread failed, in the
// system's words: errno's or GetLastError's text, taken where the call failed
// (later calls cannot overwrite it with another), or what was found wrong.
std::string LastFailure();
// Sets the cause a caller found itself, for LastFailure to give.
void SetFailure(std::string cause);
// The text of errno value `error`.
std::string ErrnoText(int error);

// Closes a stream, then frees the buffer SetStreamBuffer gave it, if any.
struct FileCloser {
    std::unique_ptr<char[]> buffer;
    void operator()(std::FILE* file) {
        std::fclose(file);
        buffer.reset();
    }
};
// An open C stream, closed when the owner goes away.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Every open never blocks (a pipe or device at the name cannot hang the
// program) and is not inherited by child processes. All but Reading are for
// reading and writing.
enum class OpenHow {
    Existing, // the file must exist; a symbolic link at the name is followed
    Reading,  // as Existing, for reading only
    OwnFile,  // created private (0600) when missing, never truncated; a
              // symbolic link at the name is not followed
    New,      // created, never replacing anything, a link included
    Unlinked, // the file must exist; a symbolic link at the name is not followed
};
enum class OpenFailure { None, NotFound, Exists, IsLink, Other };

// `permissions` are those of a created file (POSIX mode bits; the umask
// still applies).
FileHandle OpenFile(const std::filesystem::path& path, OpenHow how, OpenFailure* failure = nullptr,
                    unsigned permissions = 0600);

// Closes the stream and reports whether every buffered write reached the file.
bool CloseStream(FileHandle& file);

// Gives the stream a buffer of `size` bytes, owned by the handle. Only before
// any other operation on the stream.
bool SetStreamBuffer(FileHandle& file, std::size_t size);

bool SeekTo(std::FILE* file, std::uint64_t offset);

// The current length of an open file, or -1 when it cannot be measured.
std::int64_t StreamLength(std::FILE* file);

// Which file on disk an open file is: device and inode, or volume and file id.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    bool operator==(const FileId&) const = default;
};

struct FileFacts {
    FileId id;
    bool regular = false; // a plain file: no directory, device, pipe or link
    bool ours = false;    // owned by the user running the program (POSIX)
    std::uint64_t links = 0;
    std::int64_t length = 0;
    bool deleted = false;     // no name leads to it any more, or none will once closed
    unsigned permissions = 0; // POSIX mode bits
};
bool ReadFacts(std::FILE* file, FileFacts& facts);

// What the name `path` itself holds, a link not followed (a link is no plain
// file). True with `found` false when nothing is there; false when it cannot
// be looked at.
bool FactsAtName(const std::filesystem::path& path, FileFacts& facts, bool& found);

// True when both streams are open on the same file on disk (links included).
bool IsSameFile(std::FILE* a, std::FILE* b);

enum class LockResult { Locked, HeldElsewhere, Failed };
// Takes an exclusive lock without waiting, released when the stream closes.
// Only other runs of this program look at it. `BeyondEnd` keeps the locked
// range clear of every byte where the platform's locks are mandatory
// (Windows), so other programs may still read and write the file.
enum class LockSpan { WholeFile, BeyondEnd };
LockResult LockExclusive(std::FILE* file, LockSpan span = LockSpan::WholeFile);

// Takes an exclusive lock of the whole file that other programs taking it
// wait for (fcntl's; LockFileEx's), trying for up to `waitMs`. Released when
// the stream closes (POSIX: when any stream of this process on the file
// closes).
LockResult LockRecords(std::FILE* file, int waitMs);

// Cuts or extends the file to `length` bytes; the position is unspecified.
bool ResizeStream(std::FILE* file, std::uint64_t length);
// Cuts the file to zero length; the stream's position is set to 0.
bool TruncateStream(std::FILE* file);

// Makes the file readable and writable by its owner alone (POSIX).
bool MakePrivate(std::FILE* file);

// Gives the file the POSIX mode bits `permissions` as they are (no umask;
// nothing on Windows).
bool SetPermissions(std::FILE* file, unsigned permissions);

// The process's umask (POSIX; 0 on Windows).
unsigned UserMask();

// Writes out the stream's buffer and waits until the file's bytes are on the
// disk.
bool FlushToDisk(std::FILE* file);

// Waits until the folder's entries (a file just created in it) are on the disk.
bool FlushFolderToDisk(const std::filesystem::path& folder);

// Copies exactly `length` bytes from the current position of `from` to `to` in
// blocks of `block` bytes, telling `progress` at each MiB. Any short read or
// write fails the copy.
bool CopyBytes(std::FILE* from, std::FILE* to, std::uint64_t length, std::size_t block,
               const Progress& progress = {});

// Copies the first `length` bytes of `from` over the start of `to`: inside the
// kernel where it can (KernelCopy), else through the streams.
bool CopyWhole(std::FILE* from, std::FILE* to, std::uint64_t length, std::size_t block,
               const Progress& progress = {});

// Copies `length` bytes at `offset` of `from` over the same bytes of `to`
// inside the kernel (copy_file_range; a reflink where the file system has
// them), leaving the streams' positions unspecified. False with `unsupported`
// where the kernel cannot copy between these files (then copy them yourself),
// false without it when a read or write failed or `from` is shorter.
bool KernelCopy(std::FILE* from, std::FILE* to, std::uint64_t length, bool& unsupported,
                const Progress& progress, std::uint64_t offset = 0);

// Reads and writes at `offset` of the file itself, past the stream's buffer
// and position (flush buffered writes first). ReadAt reads `size` bytes or up
// to the end of the file, telling how many in `got`.
bool ReadAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size,
            std::size_t& got);
bool WriteAt(std::FILE* file, std::uint64_t offset, const void* buffer, std::size_t size);

// Renames `from` to `to` when nothing is at `to`; false with `existed` when
// something is, even if it appeared a moment ago.
bool RenameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                            bool& existed);

// Renames `from` to `to`, replacing what is there in one step.
bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

// A write past the process's file size limit then fails with an error instead
// of ending the process (POSIX's SIGXFSZ).
void IgnoreFileSizeSignal();

// A program this one started, with every program it starts in turn: a
// process group of its own (POSIX; the child's id, which stays ours until it
// is waited for, names both), or a job object the process was put in before
// it ran (Windows; closing the job ends what is left in it).
struct StartedProgram {
    long id = 0;             // POSIX: the child's id and its group's; 0 when none
    void* process = nullptr; // Windows: the process handle
    void* job = nullptr;     // Windows: the job object
    bool Running() const { return id != 0 || process != nullptr; }
};

// Starts `args[0]` (looked up on the PATH) with the arguments `args`, no
// shell. False, with the system's reason in `reason`, when it cannot start.
bool StartProgram(const std::vector<std::string>& args, StartedProgram& program,
                  std::string& reason);

// Asks the whole group, if any of it still runs, to close (SIGTERM to the
// group; WM_CLOSE to the windows of the job's processes), ends what is left
// of it after `graceMs`, and forgets it.
void StopProgram(StartedProgram& program, int graceMs);

// What a folder is, looked at without following a link at its name.
struct FolderFacts {
    bool folder = false;      // a folder, not a link to one
    bool ours = false;        // owned by the user running the program
    bool othersWrite = false; // group or others may write to it (POSIX)
};
bool ReadFolderFacts(const std::filesystem::path& path, FolderFacts& facts);

// Makes `path` and the folders above it that are missing, each private
// (0700). False, with the cause, when one cannot be made.
bool MakePrivateFolders(const std::filesystem::path& path);

} // namespace glitchwerk
