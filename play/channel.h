// SPDX-License-Identifier: MIT
#pragma once
// Every call to the system that glitchwerk-play and its caller make, POSIX
// and Windows, behind one small API: the caller starts the helper with a
// private duplex channel (a socket pair; a named pipe of one instance) and
// its log, talks to it against deadlines and ends it; the helper confines
// itself, reads and writes the channel and opens its core.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace glitchwerk::play {

using Clock = std::chrono::steady_clock;

// The caller's handle on one running helper.
struct Child {
    long pid = 0;
    int fd = -1;
    void* process = nullptr; // Windows: the process, its job, the pipe's end, an event
    void* job = nullptr;
    void* pipe = nullptr;
    void* event = nullptr;
    bool Running() const { return pid != 0 || process != nullptr; }
};

enum class Io { Done, TimedOut, Closed, Failed };

// A new folder that only this user can enter, under the system's temporary
// folder.
bool MakePrivateFolder(std::filesystem::path& folder, std::string& reason);
// Removes the folder and everything in it, following no link in it.
void RemoveFolder(const std::filesystem::path& folder);

// The folder of the running program.
std::filesystem::path ProgramFolder();

// Starts `helper --channel C --folder FOLDER`: the channel's other end as C,
// no input, the log (created new) for its output, in a process group or a job
// of its own (which holds it to 1 GiB on Windows).
bool StartChild(const std::filesystem::path& helper, const std::filesystem::path& folder,
                const std::filesystem::path& log, Child& child, std::string& reason);
Io SendAll(Child& child, const void* bytes, std::size_t size, Clock::time_point deadline);
Io ReceiveAll(Child& child, void* bytes, std::size_t size, Clock::time_point deadline);
// Ends the helper and whatever it started, now; it is still to be reaped.
// Safe while another thread waits on the channel: that wait then ends.
void KillChild(const Child& child);
// Waits for the helper to end, closes the handles and forgets it. False when
// it ended other than by exiting with 0 (a signal, a crash, another status).
bool ReapChild(Child& child);

// The helper's side.
struct Channel {
    std::intptr_t handle = -1;
};
bool ReadExact(Channel channel, void* bytes, std::size_t size);
bool WriteExact(Channel channel, const void* bytes, std::size_t size);
// No new privileges, the memory cap (where no sanitizer runs), the
// working folder, no dialog for a crash; once its caller's end of the channel
// closes, the helper removes `folder` and ends, whatever the core is doing
// (on Windows the caller's job ends it).
bool Confine(Channel channel, const std::filesystem::path& folder,
             const std::filesystem::path& work, std::string& reason);

// A core's library and its functions.
void* OpenLibrary(const std::filesystem::path& path, std::string& reason);
void* FindSymbol(void* library, const char* name);

} // namespace glitchwerk::play
