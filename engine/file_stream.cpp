// SPDX-License-Identifier: MIT
#include "engine/file_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <cstring>
#include <io.h>
#include <string>
#include <system_error>
#include <windows.h>

#include <aclapi.h>
#else
#include <cerrno>
#include <chrono>
#include <csignal>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#endif

namespace glitchwerk {
namespace {

thread_local std::string t_failure = "no failure";

// Keeps errno's text as the cause; false, for the caller to return.
bool FromErrno(int error = errno) {
    t_failure = ErrnoText(error);
    return false;
}

#ifdef _WIN32
bool FromWin32(DWORD error = GetLastError()) {
    t_failure = std::system_category().message(static_cast<int>(error));
    return false;
}
#endif

FileHandle Failed(OpenFailure* failure, OpenFailure why) {
    if (failure)
        *failure = why;
    return nullptr;
}

} // namespace

std::string LastFailure() {
    return t_failure;
}

void SetFailure(std::string cause) {
    t_failure = std::move(cause);
}

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

#ifdef _WIN32

static HANDLE OsHandle(std::FILE* file) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

// The 128-bit id where the file system has one (ReFS): the 64-bit index is
// not unique there.
static bool IdOf(HANDLE handle, FileId& id, BY_HANDLE_FILE_INFORMATION& info) {
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    FILE_ID_INFO wide;
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &wide, sizeof wide)) {
        id.device = wide.VolumeSerialNumber;
        std::memcpy(&id.high, wide.FileId.Identifier, 8);
        std::memcpy(&id.low, wide.FileId.Identifier + 8, 8);
    } else {
        id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    }
    return true;
}

// Handles are opened without inheritance, and share reading, writing and
// deletion with every other program.
static HANDLE Create(const std::filesystem::path& path, DWORD access, DWORD disposition,
                     DWORD flags) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

FileHandle OpenFile(const std::filesystem::path& path, OpenHow how, OpenFailure* failure,
                    unsigned) {
    if (failure)
        *failure = OpenFailure::None;
    const bool reading = how == OpenHow::Reading;
    const bool follow = reading || how == OpenHow::Existing;
    // A new file is removed again when no stream can be made for it.
    const DWORD access = reading               ? GENERIC_READ
                         : how == OpenHow::New ? GENERIC_READ | GENERIC_WRITE | DELETE
                                               : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = follow || how == OpenHow::Unlinked ? OPEN_EXISTING
                              : how == OpenHow::OwnFile          ? OPEN_ALWAYS
                                                                 : CREATE_NEW;
    HANDLE handle = Create(path, access, disposition, follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        FromWin32(error);
        return Failed(failure, error == ERROR_FILE_NOT_FOUND ? OpenFailure::NotFound
                               : error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                                   ? OpenFailure::Exists
                                   : OpenFailure::Other);
    }
    // Where no link may be followed, a name standing for another (a symbolic
    // link, a junction) is refused; other reparse points (cloud and
    // deduplicated files) are opened again as the files they are.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!follow && (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
                    (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        const bool link = IsReparseTagNameSurrogate(tag.ReparseTag);
        const HANDLE plain = link ? INVALID_HANDLE_VALUE : Create(path, access, OPEN_EXISTING, 0);
        FileId first, second;
        BY_HANDLE_FILE_INFORMATION info;
        const bool same = plain != INVALID_HANDLE_VALUE && IdOf(handle, first, info) &&
                          IdOf(plain, second, info) && first == second;
        CloseHandle(handle);
        if (!same) {
            if (plain != INVALID_HANDLE_VALUE)
                CloseHandle(plain);
            SetFailure(link ? "a link stands at the name" : "the name changed meanwhile");
            return Failed(failure, link ? OpenFailure::IsLink : OpenFailure::Other);
        }
        handle = plain;
    }
    const int fd =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | (reading ? _O_RDONLY : 0));
    FILE_DISPOSITION_INFO remove{TRUE};
    if (fd < 0) {
        FromErrno();
        if (how == OpenHow::New)
            SetFileInformationByHandle(handle, FileDispositionInfo, &remove, sizeof remove);
        CloseHandle(handle);
        return Failed(failure, OpenFailure::Other);
    }
    FileHandle file(_fdopen(fd, reading ? "rb" : "r+b"));
    if (!file) {
        FromErrno();
        if (how == OpenHow::New)
            SetFileInformationByHandle(handle, FileDispositionInfo, &remove, sizeof remove);
        _close(fd);
        return Failed(failure, OpenFailure::Other);
    }
    return file;
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
    return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0 || FromErrno();
}

std::int64_t StreamLength(std::FILE* file) {
    return _filelengthi64(_fileno(file));
}

// The token's information of one class, in a buffer aligned for its record.
static std::vector<std::uint64_t> TokenFacts(HANDLE token, TOKEN_INFORMATION_CLASS what) {
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    std::vector<std::uint64_t> buffer((size + 7) / 8);
    if (buffer.empty() || !GetTokenInformation(token, what, buffer.data(), size, &size))
        buffer.clear();
    return buffer;
}

// Owned by the user running the program, by the owner this process gives the
// files it creates (the Administrators group, when elevated), or by that
// group while the user belongs to it at all (a file an elevated run of the
// same user made). A volume that keeps no owners (FAT, exFAT) has nobody else
// to tell apart: its files are the user's.
static bool OwnedByUs(HANDLE handle) {
    DWORD volume = 0;
    if (!GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &volume, nullptr, 0))
        return false;
    if (!(volume & FILE_PERSISTENT_ACLS))
        return true;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    HANDLE token = nullptr;
    bool ours = false;
    if (owner && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        const auto user = TokenFacts(token, TokenUser);
        const auto creator = TokenFacts(token, TokenOwner);
        const auto groups = TokenFacts(token, TokenGroups);
        ours = (!user.empty() &&
                EqualSid(owner, reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid)) ||
               (!creator.empty() &&
                EqualSid(owner, reinterpret_cast<const TOKEN_OWNER*>(creator.data())->Owner));
        BYTE administrators[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof administrators;
        if (!ours && !groups.empty() &&
            CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
            EqualSid(owner, administrators)) {
            const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
            for (DWORD i = 0; i < list->GroupCount && !ours; ++i)
                ours = EqualSid(list->Groups[i].Sid, administrators);
        }
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return ours;
}

bool ReadFacts(std::FILE* file, FileFacts& facts) {
    const HANDLE handle = OsHandle(file);
    BY_HANDLE_FILE_INFORMATION info;
    FILE_STANDARD_INFO standard;
    if (!IdOf(handle, facts.id, info) ||
        !GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard))
        return FromWin32();
    // Reparse points that are links were refused when opened.
    facts.regular = GetFileType(handle) == FILE_TYPE_DISK &&
                    !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    facts.ours = OwnedByUs(handle);
    facts.links = info.nNumberOfLinks;
    facts.length = standard.EndOfFile.QuadPart;
    facts.deleted = standard.DeletePending || info.nNumberOfLinks == 0;
    facts.permissions = 0;
    return true;
}

bool FactsAtName(const std::filesystem::path& path, FileFacts& facts, bool& found) {
    found = false;
    // Attributes alone, so that no program's sharing stands in the way; a
    // folder opens too, and a link as itself.
    const HANDLE handle =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || FromWin32(error);
    }
    found = true;
    BY_HANDLE_FILE_INFORMATION info;
    FILE_STANDARD_INFO standard;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool read =
        IdOf(handle, facts.id, info) &&
        GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard) &&
        GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag);
    const DWORD error = GetLastError();
    if (read) {
        const bool link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                          IsReparseTagNameSurrogate(tag.ReparseTag);
        facts.regular = GetFileType(handle) == FILE_TYPE_DISK &&
                        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !link;
        facts.ours = OwnedByUs(handle);
        facts.links = info.nNumberOfLinks;
        facts.length = standard.EndOfFile.QuadPart;
        facts.deleted = standard.DeletePending || info.nNumberOfLinks == 0;
        facts.permissions = 0;
    }
    CloseHandle(handle);
    return read || FromWin32(error);
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
    const DWORD error = GetLastError();
    FromWin32(error);
    return error == ERROR_LOCK_VIOLATION ? LockResult::HeldElsewhere : LockResult::Failed;
}

LockResult LockRecords(std::FILE* file, int waitMs) {
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(waitMs);
    for (;;) {
        OVERLAPPED at = {};
        if (LockFileEx(OsHandle(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                       MAXDWORD, MAXDWORD, &at))
            return LockResult::Locked;
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION) {
            FromWin32(error);
            return LockResult::Failed;
        }
        if (static_cast<LONG>(deadline - GetTickCount()) <= 0) {
            FromWin32(error);
            return LockResult::HeldElsewhere;
        }
        Sleep(10);
    }
}

bool ResizeStream(std::FILE* file, std::uint64_t length) {
    if (std::fflush(file) != 0)
        return FromErrno();
    const errno_t error = _chsize_s(_fileno(file), static_cast<__int64>(length));
    return error == 0 || FromErrno(error);
}

bool MakePrivate(std::FILE*) {
    return true;
}

bool SetPermissions(std::FILE*, unsigned) {
    return true;
}

unsigned UserMask() {
    return 0;
}

bool FlushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0)
        return FromErrno();
    return FlushFileBuffers(OsHandle(file)) || FromWin32();
}

bool FlushFolderToDisk(const std::filesystem::path&) {
    return true; // NTFS journals its folders' entries
}

bool KernelCopy(std::FILE*, std::FILE*, std::uint64_t, bool& unsupported, const Progress&,
                std::uint64_t) {
    unsupported = true;
    return false;
}

static OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

bool ReadAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size,
            std::size_t& got) {
    for (got = 0; got < size;) {
        OVERLAPPED at = At(offset + got);
        DWORD done = 0;
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(size - got, 1 << 30));
        if (!ReadFile(OsHandle(file), static_cast<char*>(buffer) + got, wanted, &done, &at)) {
            const DWORD error = GetLastError();
            return error == ERROR_HANDLE_EOF || FromWin32(error);
        }
        if (done == 0)
            break;
        got += done;
    }
    return true;
}

bool WriteAt(std::FILE* file, std::uint64_t offset, const void* buffer, std::size_t size) {
    for (std::size_t written = 0; written < size;) {
        OVERLAPPED at = At(offset + written);
        DWORD done = 0;
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(size - written, 1 << 30));
        if (!WriteFile(OsHandle(file), static_cast<const char*>(buffer) + written, wanted, &done,
                       &at))
            return FromWin32();
        if (done == 0)
            return FromErrno(ENOSPC);
        written += done;
    }
    return true;
}

bool RenameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                            bool& existed) {
    const bool moved = MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
    const DWORD error = GetLastError();
    existed = !moved && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
    return moved || FromWin32(error);
}

bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
           FromWin32();
}

void IgnoreFileSizeSignal() {}

bool ReadFolderFacts(const std::filesystem::path& path, FolderFacts& facts) {
    facts = {};
    const HANDLE handle =
        CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return FromWin32();
    BY_HANDLE_FILE_INFORMATION info;
    const bool read = GetFileInformationByHandle(handle, &info) || FromWin32();
    if (read) {
        facts.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        facts.ours = OwnedByUs(handle);
    }
    CloseHandle(handle);
    return read;
}

bool MakePrivateFolders(const std::filesystem::path& path) {
    // A folder made under the user's profile inherits its protection.
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return !error || (SetFailure(error.message()), false);
}

#else

FileHandle OpenFile(const std::filesystem::path& path, OpenHow how, OpenFailure* failure,
                    unsigned permissions) {
    if (failure)
        *failure = OpenFailure::None;
    int flags = (how == OpenHow::Reading ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (how == OpenHow::OwnFile)
        flags |= O_CREAT | O_NOFOLLOW;
    if (how == OpenHow::New)
        flags |= O_CREAT | O_EXCL | O_NOFOLLOW;
    if (how == OpenHow::Unlinked)
        flags |= O_NOFOLLOW;
    const int fd = ::open(path.c_str(), flags, static_cast<mode_t>(permissions));
    if (fd < 0) {
        FromErrno();
        return Failed(failure, errno == ENOENT   ? OpenFailure::NotFound
                               : errno == EEXIST ? OpenFailure::Exists
                               : errno == ELOOP  ? OpenFailure::IsLink
                                                 : OpenFailure::Other);
    }
    FileHandle file(::fdopen(fd, how == OpenHow::Reading ? "rb" : "r+b"));
    if (!file) {
        FromErrno();
        // A file made just now is removed again, if the name still leads to it.
        struct stat made {
        }, named{};
        if (how == OpenHow::New && ::fstat(fd, &made) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            made.st_dev == named.st_dev && made.st_ino == named.st_ino)
            ::unlink(path.c_str());
        ::close(fd);
        return Failed(failure, OpenFailure::Other);
    }
    return file;
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 || FromErrno();
}

std::int64_t StreamLength(std::FILE* file) {
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0)
        return FromErrno(), -1;
    return info.st_size;
}

static void FillFacts(const struct stat& info, FileFacts& facts) {
    facts.id = {static_cast<std::uint64_t>(info.st_dev), 0,
                static_cast<std::uint64_t>(info.st_ino)};
    facts.regular = S_ISREG(info.st_mode);
    facts.ours = info.st_uid == ::geteuid();
    facts.links = static_cast<std::uint64_t>(info.st_nlink);
    facts.length = info.st_size;
    facts.deleted = info.st_nlink == 0;
    facts.permissions = info.st_mode & 0777;
}

bool ReadFacts(std::FILE* file, FileFacts& facts) {
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0)
        return FromErrno();
    FillFacts(info, facts);
    return true;
}

bool FactsAtName(const std::filesystem::path& path, FileFacts& facts, bool& found) {
    struct stat info {};
    found = ::lstat(path.c_str(), &info) == 0;
    if (!found)
        return errno == ENOENT || errno == ENOTDIR || FromErrno();
    FillFacts(info, facts);
    return true;
}

LockResult LockExclusive(std::FILE* file, LockSpan) {
    // Advisory: other programs never notice it, whatever the span.
    if (::flock(::fileno(file), LOCK_EX | LOCK_NB) == 0)
        return LockResult::Locked;
    const int error = errno;
    FromErrno(error);
    return error == EWOULDBLOCK ? LockResult::HeldElsewhere : LockResult::Failed;
}

LockResult LockRecords(std::FILE* file, int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    for (;;) {
        if (::fcntl(::fileno(file), F_SETLK, &whole) == 0)
            return LockResult::Locked;
        const int error = errno;
        FromErrno(error);
        if (error != EACCES && error != EAGAIN)
            return LockResult::Failed;
        if (std::chrono::steady_clock::now() >= deadline)
            return LockResult::HeldElsewhere;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ResizeStream(std::FILE* file, std::uint64_t length) {
    return (std::fflush(file) == 0 &&
            ::ftruncate(::fileno(file), static_cast<off_t>(length)) == 0) ||
           FromErrno();
}

bool MakePrivate(std::FILE* file) {
    return ::fchmod(::fileno(file), S_IRUSR | S_IWUSR) == 0 || FromErrno();
}

bool SetPermissions(std::FILE* file, unsigned permissions) {
    return ::fchmod(::fileno(file), static_cast<mode_t>(permissions & 07777)) == 0 || FromErrno();
}

unsigned UserMask() {
    // Read where the kernel tells it: setting it to learn it would leave
    // other threads a moment in which their files are made without it.
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool read = false;
        while (!read && std::fgets(line, sizeof line, status))
            read = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (read)
            return mask & 0777;
    }
    const mode_t mask = ::umask(0077);
    ::umask(mask);
    return static_cast<unsigned>(mask) & 0777;
}

bool FlushToDisk(std::FILE* file) {
    return (std::fflush(file) == 0 && ::fdatasync(::fileno(file)) == 0) || FromErrno();
}

bool FlushFolderToDisk(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return FromErrno();
    // Some file systems cannot sync a folder at all; that is no failure.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || FromErrno();
    return (::close(fd) == 0 || FromErrno()) && synced;
}

bool KernelCopy(std::FILE* from, std::FILE* to, std::uint64_t length, bool& unsupported,
                const Progress& progress, std::uint64_t offset) {
    unsupported = false;
#ifdef __linux__
    if (std::fflush(from) != 0 || std::fflush(to) != 0)
        return FromErrno();
    constexpr std::uint64_t kChunk = 16 << 20; // between two reports of progress
    auto in = static_cast<loff_t>(offset);
    auto out = in;
    for (std::uint64_t done = 0; done < length; done = static_cast<std::uint64_t>(out) - offset) {
        const auto wanted = static_cast<std::size_t>(std::min(kChunk, length - done));
        const ssize_t copied =
            ::copy_file_range(::fileno(from), &in, ::fileno(to), &out, wanted, 0);
        if (copied <= 0) {
            const int error = copied == 0 ? 0 : errno;
            unsupported = copied == 0 || error == EXDEV || error == ENOSYS || error == EOPNOTSUPP ||
                          error == EINVAL;
            return error ? FromErrno(error) : false;
        }
        if (progress)
            progress(static_cast<std::uint64_t>(out) - offset, length);
    }
    return true;
#else
    (void)from, (void)to, (void)length, (void)progress, (void)offset;
    unsupported = true;
    return false;
#endif
}

bool ReadAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size,
            std::size_t& got) {
    for (got = 0; got < size;) {
        const ssize_t done = ::pread(::fileno(file), static_cast<char*>(buffer) + got, size - got,
                                     static_cast<off_t>(offset + got));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return done == 0 || FromErrno();
        got += static_cast<std::size_t>(done);
    }
    return true;
}

bool WriteAt(std::FILE* file, std::uint64_t offset, const void* buffer, std::size_t size) {
    for (std::size_t written = 0; written < size;) {
        const ssize_t done = ::pwrite(::fileno(file), static_cast<const char*>(buffer) + written,
                                      size - written, static_cast<off_t>(offset + written));
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return FromErrno(done == 0 ? ENOSPC : errno);
        written += static_cast<std::size_t>(done);
    }
    return true;
}

bool RenameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                            bool& existed) {
    int result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP)) {
        // A file system without it: a second name never replaces anything.
        result = ::link(from.c_str(), to.c_str());
        if (result == 0) {
            ::unlink(from.c_str()); // `to` is in place either way
        } else if (errno == EPERM || errno == ENOTSUP || errno == ENOSYS) {
            // Nor with second names (FAT): look, then rename; only a file
            // made in the instant between is replaced.
            struct stat info {};
            errno = EEXIST;
            result = ::lstat(to.c_str(), &info) == 0 ? -1 : ::rename(from.c_str(), to.c_str());
        }
    }
    existed = result != 0 && errno == EEXIST;
    return result == 0 || FromErrno();
}

bool RenameReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 || FromErrno();
}

void IgnoreFileSizeSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

bool ReadFolderFacts(const std::filesystem::path& path, FolderFacts& facts) {
    facts = {};
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return FromErrno();
    facts.folder = S_ISDIR(info.st_mode);
    facts.ours = info.st_uid == ::geteuid();
    facts.othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    return true;
}

bool MakePrivateFolders(const std::filesystem::path& path) {
    if (path.empty())
        return true;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0)
        return true; // the caller looks at what it is
    if (errno != ENOENT)
        return FromErrno();
    const std::filesystem::path parent = path.parent_path();
    if (parent != path && !MakePrivateFolders(parent))
        return false;
    return ::mkdir(path.c_str(), S_IRWXU) == 0 || errno == EEXIST || FromErrno();
}

#endif

bool IsSameFile(std::FILE* a, std::FILE* b) {
    FileFacts factsA;
    FileFacts factsB;
    return ReadFacts(a, factsA) && ReadFacts(b, factsB) && factsA.id == factsB.id;
}

bool CopyBytes(std::FILE* from, std::FILE* to, std::uint64_t length, std::size_t block,
               const Progress& progress) {
    std::vector<unsigned char> buffer(block);
    for (std::uint64_t copied = 0; copied < length;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(block, length - copied));
        if (std::fread(buffer.data(), 1, wanted, from) != wanted)
            return std::ferror(from) ? FromErrno() : (SetFailure("the file ended early"), false);
        if (std::fwrite(buffer.data(), 1, wanted, to) != wanted)
            return FromErrno();
        copied += wanted;
        if (progress && (copied >> 20) != ((copied - wanted) >> 20))
            progress(copied, length);
    }
    return std::fflush(to) == 0 || FromErrno();
}

bool CopyWhole(std::FILE* from, std::FILE* to, std::uint64_t length, std::size_t block,
               const Progress& progress) {
    bool unsupported = false;
    if (KernelCopy(from, to, length, unsupported, progress))
        return true;
    return unsupported && SeekTo(from, 0) && SeekTo(to, 0) &&
           CopyBytes(from, to, length, block, progress);
}

bool TruncateStream(std::FILE* file) {
    return ResizeStream(file, 0) && SeekTo(file, 0);
}

bool CloseStream(FileHandle& file) {
    const bool closed = std::fclose(file.release()) == 0 || FromErrno();
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

// Started programs.
#ifdef _WIN32
#include <cwchar>
namespace glitchwerk {
namespace {

// One argument as the C runtime splits a command line: quoted, backslashes
// before a quote doubled.
std::wstring QuotedArgument(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

} // namespace

bool StartProgram(const std::vector<std::string>& args, StartedProgram& program,
                  std::string& reason) {
    std::wstring line;
    for (const std::string& arg : args) {
        const std::u8string text(arg.begin(), arg.end());
        line += (line.empty() ? L"" : L" ") + QuotedArgument(std::filesystem::path(text).wstring());
    }
    // In a job before it runs a single instruction, so that whatever it
    // starts is in the job too; the job ends them all when it is closed.
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job ||
        !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        reason = std::system_category().message(static_cast<int>(GetLastError()));
        if (job)
            CloseHandle(job);
        return false;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
        reason = std::system_category().message(static_cast<int>(GetLastError()));
        CloseHandle(job);
        return false;
    }
    if (!AssignProcessToJobObject(job, info.hProcess) || ResumeThread(info.hThread) == DWORD(-1)) {
        reason = std::system_category().message(static_cast<int>(GetLastError()));
        TerminateProcess(info.hProcess, 1);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        CloseHandle(job);
        return false;
    }
    CloseHandle(info.hThread);
    program.process = info.hProcess;
    program.job = job;
    return true;
}

namespace {

// The ids of the processes in the job now.
std::vector<DWORD> JobProcesses(HANDLE job) {
    std::vector<ULONG_PTR> buffer(1024);
    auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
    const DWORD room = static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR));
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, list, room, nullptr))
        return {};
    std::vector<DWORD> ids;
    for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
        ids.push_back(static_cast<DWORD>(list->ProcessIdList[i]));
    return ids;
}

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM processIds) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    const auto& ids = *reinterpret_cast<const std::vector<DWORD>*>(processIds);
    if (std::find(ids.begin(), ids.end(), owner) != ids.end())
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

void StopProgram(StartedProgram& program, int graceMs) {
    if (!program.process)
        return;
    const HANDLE job = program.job;
    const std::vector<DWORD> ids = JobProcesses(job);
    if (!ids.empty()) {
        EnumWindows(CloseWindowOf, reinterpret_cast<LPARAM>(&ids));
        const DWORD deadline = GetTickCount() + static_cast<DWORD>(graceMs);
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION account{};
        while (QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &account,
                                         sizeof account, nullptr) &&
               account.ActiveProcesses > 0 && static_cast<LONG>(deadline - GetTickCount()) > 0)
            Sleep(20);
        TerminateJobObject(job, 1);
    }
    WaitForSingleObject(program.process, INFINITE);
    CloseHandle(program.process);
    CloseHandle(job);
    program = {};
}

} // namespace glitchwerk
#else
#include <chrono>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

namespace glitchwerk {

bool StartProgram(const std::vector<std::string>& args, StartedProgram& program,
                  std::string& reason) {
    if (args.empty()) {
        reason = std::strerror(ENOENT);
        return false;
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    // A group of its own, led by the child: whatever it starts in turn (a
    // wrapper script's emulator) is asked to close with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t child = 0;
    // posix_spawnp reports a program that cannot be run (glibc waits for the exec).
    const int error = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error) {
        reason = std::strerror(error);
        return false;
    }
    program.id = child;
    return true;
}

void StopProgram(StartedProgram& program, int graceMs) {
    if (!program.id)
        return;
    // Until the leader is waited for, its id names the group and no other.
    // Once it is, the group's id cannot be given to a new process while any
    // of the group lives; between our looks, a new group of that very id is
    // all but impossible (ids go round the whole of pid_max first).
    const auto child = static_cast<pid_t>(program.id);
    int status = 0;
    bool reaped = waitpid(child, &status, WNOHANG) == child;
    if (kill(-child, SIGTERM) == 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
        while (kill(-child, 0) == 0) {
            if (!reaped)
                reaped = waitpid(child, &status, WNOHANG) == child;
            if (std::chrono::steady_clock::now() >= deadline) {
                kill(-child, SIGKILL);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (!reaped)
        waitpid(child, &status, 0);
    program = {};
}

} // namespace glitchwerk
#endif
