#include "file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <cstring>
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace glitchwerk {
namespace {

FileHandle Failed(OpenFailure* failure, OpenFailure why) {
    if (failure)
        *failure = why;
    return nullptr;
}

} // namespace

#ifdef _WIN32

static HANDLE OsHandle(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// Handles are opened without inheritance, and share reading, writing and
// deletion with every other program.
FileHandle OpenFile(const std::filesystem::path& path, OpenHow how, OpenFailure* failure,
                    unsigned) {
    if (failure)
        *failure = OpenFailure::None;
    const DWORD disposition = how == OpenHow::Existing  ? OPEN_EXISTING
                              : how == OpenHow::OwnFile ? OPEN_ALWAYS
                                                        : CREATE_NEW;
    // A reparse point (a symbolic link, a junction) is opened as itself; its
    // attributes then tell that it is no plain file.
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (how == OpenHow::Existing ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return Failed(failure, error == ERROR_FILE_NOT_FOUND ? OpenFailure::NotFound
                               : error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                                   ? OpenFailure::Exists
                                   : OpenFailure::Other);
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return Failed(failure, OpenFailure::Other);
    }
    FileHandle file(_fdopen(fd, "r+b"));
    if (!file) {
        _close(fd);
        return Failed(failure, OpenFailure::Other);
    }
    return file;
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::int64_t StreamLength(std::FILE* file) {
    return _filelengthi64(_fileno(file));
}

bool ReadFacts(std::FILE* file, FileFacts& facts) {
    const HANDLE handle = OsHandle(file);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    // The 128-bit id where the file system has one (ReFS): the 64-bit index
    // is not unique there.
    FILE_ID_INFO id;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
        facts.id.device = id.VolumeSerialNumber;
        std::memcpy(&facts.id.high, id.FileId.Identifier, 8);
        std::memcpy(&facts.id.low, id.FileId.Identifier + 8, 8);
    } else {
        facts.id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    }
    facts.regular =
        GetFileType(handle) == FILE_TYPE_DISK &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    facts.ours = true;
    facts.links = info.nNumberOfLinks;
    facts.permissions = 0;
    return true;
}

LockResult LockExclusive(std::FILE* file, LockSpan span) {
    OVERLAPPED at = {};
    DWORD low = MAXDWORD;
    DWORD high = MAXDWORD;
    if (span == LockSpan::BeyondEnd) {
        at.OffsetHigh = 0x7FFFFFFF; // 2^63 - 2^32: past any file's end
        low = 1;
        high = 0;
    }
    if (LockFileEx(OsHandle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, low,
                   high, &at))
        return LockResult::Locked;
    return GetLastError() == ERROR_LOCK_VIOLATION ? LockResult::HeldElsewhere : LockResult::Failed;
}

bool ResizeStream(std::FILE* file, std::uint64_t length) {
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), static_cast<__int64>(length)) == 0;
}

bool MakePrivate(std::FILE*) {
    return true;
}

bool FlushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && FlushFileBuffers(OsHandle(file));
}

bool FlushFolderToDisk(const std::filesystem::path&) {
    return true; // NTFS journals its folders' entries
}

void IgnoreFileSizeSignal() {}

#else

FileHandle OpenFile(const std::filesystem::path& path, OpenHow how, OpenFailure* failure,
                    unsigned permissions) {
    if (failure)
        *failure = OpenFailure::None;
    int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
    if (how == OpenHow::OwnFile)
        flags |= O_CREAT | O_NOFOLLOW;
    if (how == OpenHow::New)
        flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
    const int fd = ::open(path.c_str(), flags, static_cast<mode_t>(permissions));
    if (fd < 0) {
        return Failed(failure, errno == ENOENT   ? OpenFailure::NotFound
                               : errno == EEXIST ? OpenFailure::Exists
                               : errno == ELOOP  ? OpenFailure::IsLink
                                                 : OpenFailure::Other);
    }
    FileHandle file(::fdopen(fd, "r+b"));
    if (!file) {
        ::close(fd);
        return Failed(failure, OpenFailure::Other);
    }
    return file;
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t StreamLength(std::FILE* file) {
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0)
        return -1;
    return info.st_size;
}

bool ReadFacts(std::FILE* file, FileFacts& facts) {
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0)
        return false;
    facts.id = {static_cast<std::uint64_t>(info.st_dev), 0,
                static_cast<std::uint64_t>(info.st_ino)};
    facts.regular = S_ISREG(info.st_mode);
    facts.ours = info.st_uid == ::geteuid();
    facts.links = static_cast<std::uint64_t>(info.st_nlink);
    facts.permissions = info.st_mode & 07777;
    return true;
}

LockResult LockExclusive(std::FILE* file, LockSpan) {
    // Advisory: other programs never notice it, whatever the span.
    if (::flock(::fileno(file), LOCK_EX | LOCK_NB) == 0)
        return LockResult::Locked;
    return errno == EWOULDBLOCK ? LockResult::HeldElsewhere : LockResult::Failed;
}

bool ResizeStream(std::FILE* file, std::uint64_t length) {
    return std::fflush(file) == 0 && ::ftruncate(::fileno(file), static_cast<off_t>(length)) == 0;
}

bool MakePrivate(std::FILE* file) {
    return ::fchmod(::fileno(file), S_IRUSR | S_IWUSR) == 0;
}

bool FlushToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && ::fdatasync(::fileno(file)) == 0;
}

bool FlushFolderToDisk(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems cannot sync a folder at all; that is no failure.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    return ::close(fd) == 0 && synced;
}

void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

#endif

bool TruncateStream(std::FILE* file) {
    return ResizeStream(file, 0) && SeekTo(file, 0);
}

bool CloseStream(FileHandle& file) {
    const bool closed = std::fclose(file.release()) == 0;
    file.get_deleter().buffer.reset();
    return closed;
}

bool SetStreamBuffer(FileHandle& file, std::size_t size) {
    auto buffer = std::make_unique<char[]>(size);
    if (std::setvbuf(file.get(), buffer.get(), _IOFBF, size) != 0)
        return false;
    file.get_deleter().buffer = std::move(buffer);
    return true;
}

} // namespace glitchwerk
