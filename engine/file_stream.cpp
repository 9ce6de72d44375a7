#include "file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <string>
#include <windows.h>
#else
#include <cerrno>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace glitchwerk {

#ifdef _WIN32

FileHandle OpenStream(const std::filesystem::path& path, const char* mode) {
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return FileHandle(_wfopen(path.c_str(), wideMode.c_str()));
}

FileHandle OpenOrCreateStream(const std::filesystem::path& path) {
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_RDWR | _O_CREAT | _O_BINARY, _SH_DENYNO,
                  _S_IREAD | _S_IWRITE) != 0)
        return nullptr;
    FileHandle file(_fdopen(fd, "r+b"));
    if (!file)
        _close(fd);
    return file;
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::int64_t StreamLength(std::FILE* file) {
    return _filelengthi64(_fileno(file));
}

static HANDLE OsHandle(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

bool IsSameFile(std::FILE* a, std::FILE* b) {
    BY_HANDLE_FILE_INFORMATION infoA, infoB;
    if (!GetFileInformationByHandle(OsHandle(a), &infoA) ||
        !GetFileInformationByHandle(OsHandle(b), &infoB))
        return false;
    return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
           infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
           infoA.nFileIndexLow == infoB.nFileIndexLow;
}

LockResult LockExclusive(std::FILE* file) {
    OVERLAPPED whole = {};
    if (LockFileEx(OsHandle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                   MAXDWORD, &whole))
        return LockResult::Locked;
    return GetLastError() == ERROR_LOCK_VIOLATION ? LockResult::HeldElsewhere : LockResult::Failed;
}

bool TruncateStream(std::FILE* file) {
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), 0) == 0 && SeekTo(file, 0);
}

#else

FileHandle OpenStream(const std::filesystem::path& path, const char* mode) {
    return FileHandle(std::fopen(path.c_str(), mode));
}

FileHandle OpenOrCreateStream(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    FileHandle file(::fdopen(fd, "r+b"));
    if (!file)
        ::close(fd);
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

bool IsSameFile(std::FILE* a, std::FILE* b) {
    struct stat infoA {};
    struct stat infoB {};
    if (::fstat(::fileno(a), &infoA) != 0 || ::fstat(::fileno(b), &infoB) != 0)
        return false;
    return infoA.st_dev == infoB.st_dev && infoA.st_ino == infoB.st_ino;
}

LockResult LockExclusive(std::FILE* file) {
    if (::flock(::fileno(file), LOCK_EX | LOCK_NB) == 0)
        return LockResult::Locked;
    return errno == EWOULDBLOCK ? LockResult::HeldElsewhere : LockResult::Failed;
}

bool TruncateStream(std::FILE* file) {
    return std::fflush(file) == 0 && ::ftruncate(::fileno(file), 0) == 0 && SeekTo(file, 0);
}

#endif

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
