// SPDX-License-Identifier: MIT
// Preloaded by sweep.sh: at the GW_FAULT_AT-th file operation under GW_FAULT_DIR,
// fails it, cuts it to half or kills the process (GW_FAULT_MODE fail, short,
// crash); with GW_FAULT_AT=0, lists the operations in GW_FAULT_LOG.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
const std::string kDir = std::string(Env("GW_FAULT_DIR")) + "/";
const long kAt = std::atol(Env("GW_FAULT_AT"));
const std::string kMode = Env("GW_FAULT_MODE");
std::atomic<long> count{0};

bool Under(const std::string& path) {
    return kDir.size() > 1 && (path + "/").compare(0, kDir.size(), kDir) == 0;
}
bool OnPath(const char* path) {
    if (!path || path[0] == '/')
        return path && Under(path);
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) && Under(std::string(cwd) + "/" + path);
}
bool OnFd(int fd) {
    char link[4096];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t got = readlink(proc.c_str(), link, sizeof link);
    return got > 0 && Under(std::string(link, static_cast<std::size_t>(got)));
}
bool OnFile(FILE* file) {
    return file && OnFd(fileno(file));
}

// Counts an operation; false (errno set) when it is to fail. A short one gets
// half its `size`.
bool Go(const char* op, bool ours, std::size_t* size = nullptr, int error = EIO) {
    if (!ours)
        return true;
    const long n = ++count;
    if (kAt == 0) {
        static const long log = syscall(SYS_openat, AT_FDCWD, Env("GW_FAULT_LOG"),
                                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        const std::string line = std::string(op) + "\n";
        return syscall(SYS_write, log, line.data(), line.size()), true;
    }
    if (n != kAt)
        return true;
    if (kMode == "crash")
        raise(SIGKILL);
    if (kMode == "fail")
        return errno = error, false;
    if (size && *size > 1)
        *size /= 2;
    return true;
}

#define REAL(name) reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name))

} // namespace

extern "C" {
int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const auto mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
    return Go("open", OnPath(path)) ? REAL(open)(path, flags, mode) : -1;
}
ssize_t read(int fd, void* buffer, size_t n) {
    return Go("read", OnFd(fd), &n) ? REAL(read)(fd, buffer, n) : -1;
}
ssize_t pread(int fd, void* buffer, size_t n, off_t at) {
    return Go("pread", OnFd(fd), &n) ? REAL(pread)(fd, buffer, n, at) : -1;
}
ssize_t write(int fd, const void* buffer, size_t n) {
    return Go("write", OnFd(fd), &n, ENOSPC) ? REAL(write)(fd, buffer, n) : -1;
}
ssize_t pwrite(int fd, const void* buffer, size_t n, off_t at) {
    return Go("pwrite", OnFd(fd), &n, ENOSPC) ? REAL(pwrite)(fd, buffer, n, at) : -1;
}
ssize_t copy_file_range(int in, off_t* inAt, int out, off_t* outAt, size_t n, unsigned flags) {
    return Go("copy_file_range", OnFd(out), &n, ENOSPC)
               ? REAL(copy_file_range)(in, inAt, out, outAt, n, flags)
               : -1;
}
// A stream's read or write is short only on an error (or at the end): its
// error flag is set, as an I/O error underneath would.
size_t fread(void* buffer, size_t size, size_t n, FILE* file) {
    size_t part = n;
    const bool go = Go("fread", OnFile(file), &part);
    const size_t got = go ? REAL(fread)(buffer, size, part, file) : 0;
    return (!go || part < n) && (file->_flags |= _IO_ERR_SEEN), got;
}
size_t fwrite(const void* buffer, size_t size, size_t n, FILE* file) {
    size_t part = n;
    const bool go = Go("fwrite", OnFile(file), &part, ENOSPC);
    const size_t put = go ? REAL(fwrite)(buffer, size, part, file) : 0;
    return (!go || part < n) && (file->_flags |= _IO_ERR_SEEN), put;
}
int fflush(FILE* file) {
    return Go("fflush", OnFile(file), nullptr, ENOSPC) ? REAL(fflush)(file) : EOF;
}
int fclose(FILE* file) {
    const bool go = Go("fclose", OnFile(file));
    const int closed = REAL(fclose)(file);
    return go ? closed : (errno = EIO, EOF);
}
int fseeko(FILE* file, off_t at, int whence) {
    return Go("fseeko", OnFile(file)) ? REAL(fseeko)(file, at, whence) : -1;
}
int close(int fd) {
    return Go("close", OnFd(fd)) ? REAL(close)(fd) : (REAL(close)(fd), errno = EIO, -1);
}
int fsync(int fd) {
    return Go("fsync", OnFd(fd)) ? REAL(fsync)(fd) : -1;
}
int fdatasync(int fd) {
    return Go("fdatasync", OnFd(fd)) ? REAL(fdatasync)(fd) : -1;
}
int ftruncate(int fd, off_t length) {
    return Go("ftruncate", OnFd(fd), nullptr, ENOSPC) ? REAL(ftruncate)(fd, length) : -1;
}
int fchmod(int fd, mode_t mode) {
    return Go("fchmod", OnFd(fd)) ? REAL(fchmod)(fd, mode) : -1;
}
int flock(int fd, int how) {
    return Go("flock", OnFd(fd)) ? REAL(flock)(fd, how) : -1;
}
int rename(const char* from, const char* to) {
    return Go("rename", OnPath(from)) ? REAL(rename)(from, to) : -1;
}
int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    return Go("renameat2", OnPath(from)) ? REAL(renameat2)(fromDir, from, toDir, to, flags) : -1;
}
int link(const char* from, const char* to) {
    return Go("link", OnPath(from)) ? REAL(link)(from, to) : -1;
}
int unlink(const char* path) {
    return Go("unlink", OnPath(path)) ? REAL(unlink)(path) : -1;
}
int remove(const char* path) {
    return Go("remove", OnPath(path)) ? REAL(remove)(path) : -1;
}
}
