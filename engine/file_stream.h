#pragma once
// The few file operations the engine needs beyond the C streams themselves:
// opening by std::filesystem::path (so non-ASCII names work everywhere),
// 64-bit seeks and lengths, identity, locking and truncation of open files.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace glitchwerk {

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

// std::fopen with a path; `mode` as for fopen ("r+b", "w+b").
FileHandle OpenStream(const std::filesystem::path& path, const char* mode);

// Opens a file for reading and writing, creating it when missing but never
// truncating it.
FileHandle OpenOrCreateStream(const std::filesystem::path& path);

// Closes the stream and reports whether every buffered write reached the file.
bool CloseStream(FileHandle& file);

// Gives the stream a buffer of `size` bytes, owned by the handle. Only before
// any other operation on the stream.
bool SetStreamBuffer(FileHandle& file, std::size_t size);

bool SeekTo(std::FILE* file, std::uint64_t offset);

// The current length of an open file, or -1 when it cannot be measured.
std::int64_t StreamLength(std::FILE* file);

// True when both streams are open on the same file on disk (links included).
bool IsSameFile(std::FILE* a, std::FILE* b);

enum class LockResult { Locked, HeldElsewhere, Failed };
// Takes an exclusive lock on the whole file without waiting. The lock is
// released when the stream is closed.
LockResult LockExclusive(std::FILE* file);

// Cuts the file to zero length; the stream's position is set to 0.
bool TruncateStream(std::FILE* file);

} // namespace glitchwerk
