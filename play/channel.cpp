// SPDX-License-Identifier: MIT
#include "play/channel.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <csignal>
#include <cstdlib>
#else
#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define GLITCHWERK_PLAY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GLITCHWERK_PLAY_SANITIZED 1
#endif
#endif

namespace glitchwerk::play {

namespace fs = std::filesystem;

namespace {

[[maybe_unused]] constexpr std::uint64_t kMemoryCap = std::uint64_t{1} << 30;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

[[maybe_unused]] std::string RandomName() {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08X%08X", random(), random());
    return text;
}

bool IsLinkLike([[maybe_unused]] const fs::path& path) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    return false; // symlink_status tells
#endif
}

} // namespace

void RemoveFolder(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(folder, error)) && !IsLinkLike(folder)) {
        std::vector<fs::path> entries;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            entries.push_back(it->path());
        for (const fs::path& entry : entries)
            RemoveFolder(entry);
    }
    fs::remove(folder, error);
}

#ifdef _WIN32

namespace {

std::string SystemText(DWORD error) {
    return std::system_category().message(static_cast<int>(error));
}

void CloseIf(void*& handle) {
    if (handle && handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    handle = nullptr;
}

Io Transfer(Child& child, bool write, std::uint8_t* bytes, std::size_t size,
            Clock::time_point deadline) {
    while (size > 0) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = child.event;
        ResetEvent(child.event);
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20));
        const BOOL started = write ? WriteFile(child.pipe, bytes, chunk, nullptr, &overlapped)
                                   : ReadFile(child.pipe, bytes, chunk, nullptr, &overlapped);
        if (!started && GetLastError() != ERROR_IO_PENDING)
            return GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_NO_DATA
                       ? Io::Closed
                       : Io::Failed;
        HANDLE waits[] = {child.event, child.process};
        const DWORD woke =
            WaitForMultipleObjects(2, waits, FALSE, static_cast<DWORD>(MillisecondsLeft(deadline)));
        DWORD done = 0;
        if (woke != WAIT_OBJECT_0) {
            CancelIoEx(child.pipe, &overlapped);
            GetOverlappedResult(child.pipe, &overlapped, &done, TRUE);
            if (done == 0)
                return woke == WAIT_TIMEOUT ? Io::TimedOut : Io::Closed;
        } else if (!GetOverlappedResult(child.pipe, &overlapped, &done, FALSE) || done == 0) {
            return Io::Closed;
        }
        bytes += done;
        size -= done;
    }
    return Io::Done;
}

} // namespace

bool MakePrivateFolder(fs::path& folder, std::string& reason) {
    // The user's temporary folder is the user's alone.
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        reason = SystemText(GetLastError());
        return false;
    }
    for (int tries = 0; tries < 100; ++tries) {
        const fs::path path = fs::path(temp) / ("glitchwerk-play-" + RandomName());
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            folder = path;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    reason = SystemText(GetLastError());
    return false;
}

fs::path ProgramFolder() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            return {};
        if (length < name.size()) {
            name.resize(length);
            return fs::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
}

bool StartChild(const fs::path& helper, const fs::path& folder, const fs::path& log, Child& child,
                std::string& reason) {
    const std::wstring name = L"\\\\.\\pipe\\glitchwerk-play-" + fs::path(RandomName()).wstring();
    // One instance, ours: nobody else can take the other end before the helper has it.
    HANDLE server = CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 1 << 16,
        1 << 16, 0, nullptr);
    if (server == INVALID_HANDLE_VALUE) {
        reason = SystemText(GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE end = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherited,
                             OPEN_EXISTING, 0, nullptr);
    HANDLE output = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    void* handles[] = {end, output, input, job, event};
    const auto fail = [&](DWORD error) {
        reason = SystemText(error);
        CloseHandle(server);
        for (void*& handle : handles)
            CloseIf(handle);
        return false;
    };
    for (void* handle : handles) {
        if (!handle || handle == INVALID_HANDLE_VALUE)
            return fail(GetLastError());
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY |
                                              JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE |
                                              JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    limits.ProcessMemoryLimit = kMemoryCap;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return fail(GetLastError());

    // Only these three handles reach the helper.
    HANDLE inherit[] = {end, output, input};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<std::uint8_t> list(listSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &listSize) ||
        !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit,
                                   sizeof inherit, nullptr, nullptr))
        return fail(GetLastError());
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = output;
    startup.lpAttributeList = attributes;
    std::wstring line = L"\"" + helper.wstring() + L"\" --channel " +
                        std::to_wstring(reinterpret_cast<std::uintptr_t>(end)) + L" --folder \"" +
                        folder.wstring() + L"\"";
    PROCESS_INFORMATION info{};
    const BOOL started =
        CreateProcessW(helper.c_str(), line.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT |
                           CREATE_UNICODE_ENVIRONMENT,
                       nullptr, folder.c_str(), &startup.StartupInfo, &info);
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    if (!started)
        return fail(error);
    if (!AssignProcessToJobObject(job, info.hProcess)) {
        const DWORD assignError = GetLastError();
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
        return fail(assignError);
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    CloseHandle(end);
    CloseHandle(output);
    CloseHandle(input);
    child.process = info.hProcess;
    child.job = job;
    child.pipe = server;
    child.event = event;
    return true;
}

Io SendAll(Child& child, const void* bytes, std::size_t size, Clock::time_point deadline) {
    return Transfer(child, true, static_cast<std::uint8_t*>(const_cast<void*>(bytes)), size,
                    deadline);
}

Io ReceiveAll(Child& child, void* bytes, std::size_t size, Clock::time_point deadline) {
    return Transfer(child, false, static_cast<std::uint8_t*>(bytes), size, deadline);
}

void KillChild(const Child& child) {
    if (child.job)
        TerminateJobObject(child.job, 1);
}

bool ReapChild(Child& child) {
    DWORD status = 1;
    if (child.process) {
        WaitForSingleObject(child.process, INFINITE);
        GetExitCodeProcess(child.process, &status);
    }
    CloseIf(child.process);
    CloseIf(child.job);
    CloseIf(child.pipe);
    CloseIf(child.event);
    child = {};
    return status == 0;
}

bool ReadExact(Channel channel, void* bytes, std::size_t size) {
    auto* at = static_cast<std::uint8_t*>(bytes);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(channel.handle), at,
                      static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20)), &got, nullptr) ||
            got == 0)
            return false;
        at += got;
        size -= got;
    }
    return true;
}

bool WriteExact(Channel channel, const void* bytes, std::size_t size) {
    const auto* at = static_cast<const std::uint8_t*>(bytes);
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(channel.handle), at,
                       static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20)), &put, nullptr) ||
            put == 0)
            return false;
        at += put;
        size -= put;
    }
    return true;
}

namespace {

LONG WINAPI EndAtOnce(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

bool Confine(Channel, const fs::path&, const fs::path& work, std::string& reason) {
    // A crash ends the helper at once: no dialog, no debugger. The job
    // holds the memory cap and ends the helper with its caller.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndAtOnce);
    std::signal(SIGABRT, [](int) { std::_Exit(3); });
    if (!SetCurrentDirectoryW(work.c_str())) {
        reason = SystemText(GetLastError());
        return false;
    }
    return true;
}

void* OpenLibrary(const fs::path& path, std::string& reason) {
    HMODULE library = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library)
        reason = SystemText(GetLastError());
    return reinterpret_cast<void*>(library);
}

void* FindSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

#else

namespace {

// A descriptor at 10 or above, so that placing it at 0 to 3 in the helper
// never meets it there already.
int High(int fd) {
    if (fd < 0)
        return fd;
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    close(fd);
    return high;
}

// Waits until the channel can be read or written, or the deadline.
Io Await(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd ready{fd, events, 0};
        const int woke = poll(&ready, 1, MillisecondsLeft(deadline));
        if (woke > 0)
            return Io::Done;
        if (woke == 0)
            return Io::TimedOut;
        if (errno != EINTR)
            return Io::Failed;
    }
}

} // namespace

bool MakePrivateFolder(fs::path& folder, std::string& reason) {
    std::error_code error;
    std::string name = (fs::temp_directory_path(error) / "glitchwerk-play-XXXXXX").string();
    if (error || !mkdtemp(name.data())) { // mode 0700
        reason = error ? error.message() : std::strerror(errno);
        return false;
    }
    folder = name;
    return true;
}

fs::path ProgramFolder() {
    std::error_code error;
    return fs::read_symlink("/proc/self/exe", error).parent_path();
}

bool StartChild(const fs::path& helper, const fs::path& folder, const fs::path& log, Child& child,
                std::string& reason) {
    int ends[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    const int mine = High(ends[0]);
    const int theirs = High(ends[1]);
    const int output =
        High(open(log.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const auto fail = [&](int error) {
        reason = std::strerror(error);
        for (const int fd : {mine, theirs, output})
            if (fd >= 0)
                close(fd);
        return false;
    };
    if (mine < 0 || theirs < 0 || output < 0 || fcntl(mine, F_SETFL, O_NONBLOCK) != 0)
        return fail(errno);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, output, 2);
    posix_spawn_file_actions_adddup2(&actions, theirs, 3);
    posix_spawn_file_actions_addclosefrom_np(&actions, 4);
    // A group of its own, ended whole; the caller's blocked and ignored
    // signals are not the helper's.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);
    const std::string program = helper.string(), place = folder.string();
    const char* argv[] = {program.c_str(), "--channel", "3", "--folder", place.c_str(), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, program.c_str(), &actions, &attributes,
                                  const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(theirs);
    close(output);
    if (error != 0) {
        close(mine);
        reason = std::strerror(error);
        return false;
    }
    child.pid = pid;
    child.fd = mine;
    return true;
}

Io SendAll(Child& child, const void* bytes, std::size_t size, Clock::time_point deadline) {
    const auto* at = static_cast<const std::uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t put = send(child.fd, at, size, MSG_NOSIGNAL);
        if (put > 0) {
            at += put;
            size -= static_cast<std::size_t>(put);
        } else if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (const Io waited = Await(child.fd, POLLOUT, deadline); waited != Io::Done)
                return waited;
        } else if (put < 0 && errno == EINTR) {
            continue;
        } else {
            return errno == EPIPE || errno == ECONNRESET ? Io::Closed : Io::Failed;
        }
    }
    return Io::Done;
}

Io ReceiveAll(Child& child, void* bytes, std::size_t size, Clock::time_point deadline) {
    auto* at = static_cast<std::uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t got = recv(child.fd, at, size, 0);
        if (got > 0) {
            at += got;
            size -= static_cast<std::size_t>(got);
        } else if (got == 0 || (got < 0 && errno == ECONNRESET)) {
            return Io::Closed;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (const Io waited = Await(child.fd, POLLIN, deadline); waited != Io::Done)
                return waited;
        } else if (errno != EINTR) {
            return Io::Failed;
        }
    }
    return Io::Done;
}

void KillChild(const Child& child) {
    // Not reaped yet, the id still names the helper and its group.
    if (child.pid > 0) {
        kill(static_cast<pid_t>(-child.pid), SIGKILL);
        kill(static_cast<pid_t>(child.pid), SIGKILL);
    }
}

bool ReapChild(Child& child) {
    int status = 1;
    if (child.pid > 0) {
        while (waitpid(static_cast<pid_t>(child.pid), &status, 0) < 0 && errno == EINTR) {
        }
        // Whatever the helper left in its group goes too.
        kill(static_cast<pid_t>(-child.pid), SIGKILL);
    }
    if (child.fd >= 0)
        close(child.fd);
    child = {};
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ReadExact(Channel channel, void* bytes, std::size_t size) {
    auto* at = static_cast<std::uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t got = read(static_cast<int>(channel.handle), at, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteExact(Channel channel, const void* bytes, std::size_t size) {
    const auto* at = static_cast<const std::uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t put = send(static_cast<int>(channel.handle), at, size, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        at += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool Confine(Channel channel, const fs::path& folder, const fs::path& work, std::string& reason) {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        reason = std::string("no_new_privs: ") + std::strerror(errno);
        return false;
    }
#ifndef GLITCHWERK_PLAY_SANITIZED
    // The sanitizers reserve terabytes of address space.
    const rlimit cap{kMemoryCap, kMemoryCap};
    if (setrlimit(RLIMIT_AS, &cap) != 0) {
        reason = std::string("memory cap: ") + std::strerror(errno);
        return false;
    }
#endif
    if (chdir(work.c_str()) != 0) {
        reason = work.string() + ": " + std::strerror(errno);
        return false;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Once the caller's end closes (it ended, or was ended), so does the
    // helper, even while a core hangs.
    std::thread([fd = static_cast<int>(channel.handle), folder] {
        pollfd closed{fd, POLLRDHUP, 0};
        while (poll(&closed, 1, -1) < 0 && errno == EINTR) {
        }
        // As the caller would have; should the core hold a lock this needs,
        // the alarm ends the helper all the same.
        std::signal(SIGALRM, SIG_DFL);
        alarm(2);
        RemoveFolder(folder);
        _exit(0);
    }).detach();
    return true;
}

void* OpenLibrary(const fs::path& path, std::string& reason) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        reason = dlerror();
    return library;
}

void* FindSymbol(void* library, const char* name) {
    return dlsym(library, name);
}

#endif

} // namespace glitchwerk::play
