// SPDX-License-Identifier: MIT
#include "engine/backup_store.h"
#include "engine/corruption_pass.h"
#include "tests/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace glitchwerk {
namespace {

using namespace testing; // TempDir and the file helpers
namespace fs = std::filesystem;
using enum BackupResult;

constexpr auto kPrivate = fs::perms::owner_read | fs::perms::owner_write;
constexpr ByteRule kZero{SearchMode::SearchAllBytes, 0, 0, ReplaceMode::ReplaceSpecificByte, 0};

// Makes a symbolic link; false where links cannot be made (MinGW's library).
bool Link(const fs::path& to, const fs::path& at) {
    std::error_code error;
    fs::create_symlink(to, at, error);
    return !error;
}

// Another program's write of one byte.
void Poke(const fs::path& file, std::uint64_t at) {
    std::fstream(file, std::ios::in | std::ios::out | std::ios::binary).seekp(at).put(9);
}

// A run on game.nes, `length` counting bytes, in a fresh current folder.
struct Session {
    TempDir dir{true};
    const fs::path file = dir / "game.nes";
    BackupStore store;
    explicit Session(std::size_t length = 300) { WriteFile(file, CountingBytes(length)); }
    BackupResult Start() { return CreateBackup(store, file); }
    // Zeroes bytes [begin, end) of the file backed up.
    PassOutcome Corrupt(std::uint32_t begin = 0, std::uint32_t end = 300, const Progress& p = {}) {
        RandomStream stream;
        std::vector<CorruptionResult> results;
        return RunCorruptionPass(store, {file, store.romLength, {{begin, end, kZero}}}, stream,
                                 results, p);
    }
};

// Whatever happened to the file, whoever changed it, Restore gives back its original bytes; one
// that another program writes into gives them back next time. The data file held a killed run's
// backup: it is kept, and the new copy is private, even from those who opened the data file before.
TEST(BackupStore, RestoreGivesTheOriginalWhateverHappenedToTheFile) {
    constexpr std::size_t L = 0x2F001;        // the last block a short one
    constexpr std::uint64_t kApart = 0x28000; // in none of the blocks the rows corrupt
    const std::tuple<const char*, std::size_t, std::function<void(Session&)>> cases[] = {
        {"nothing, to an empty file", 0, [](Session&) {}},
        {"all of it", 0x120000, [](Session& r) { r.Corrupt(0, 0x120000); }},
        {"before a pass", L, [](Session& r) { Poke(r.file, kApart), r.Corrupt(0x10, 0x20); }},
        {"before an empty pass", L, [](Session& r) { Poke(r.file, 9), r.Corrupt(9, 9); }},
        {"during a pass", L,
         [](Session& r) { r.Corrupt(0, 0x20000, [&](auto, auto) { Poke(r.file, kApart); }); }},
        {"during a restore", L,
         [](Session& r) {
             r.Corrupt(0, 0x10);
             RestoreFromBackup(r.store, [&](std::uint64_t done, auto) {
                 if (done == kHashedBlock)
                     Poke(r.file, 0x100); // in the block just compared
             });
         }},
        {"in the same tick", L, [](Session& r) { r.Corrupt(0x10, 0x20), Poke(r.file, kApart); }},
        {"times set back", L,
         [](Session& r) {
             const auto before = fs::last_write_time(r.file);
             r.Corrupt(0x10, 0x20), Poke(r.file, kApart), fs::last_write_time(r.file, before);
         }},
        {"truncated, regrown", L,
         [](Session& r) { fs::resize_file(r.file, 0x1000), fs::resize_file(r.file, L); }},
        {"grown", L, [](Session& r) { r.Corrupt(0, 0x10), fs::resize_file(r.file, L + 9); }},
        {"shrunk", L, [](Session& r) { r.Corrupt(0, 0x10), fs::resize_file(r.file, 0x1000); }},
        {"deleted", L, [](Session& r) { r.Corrupt(0, 0x10), fs::remove(r.file); }},
        {"restored before", L,
         [](Session& r) { r.Corrupt(0, 0x10), RestoreFromBackup(r.store), r.Corrupt(0x40, 0x50); }},
#ifndef _WIN32
        {"through a mapping", L,
         [](Session& r) {
             const int fd = ::open(r.file.c_str(), O_RDWR);
             auto* bytes = static_cast<char*>(::mmap(nullptr, L, PROT_WRITE, MAP_SHARED, fd, 0));
             bytes[kApart] = 9, ::munmap(bytes, L), ::close(fd);
         }},
        {"a failed pass", L,
         [](Session& r) { OnAFullDisk(0x8000, [&] { return r.Corrupt(0, 0x20000); }); }},
        {"a failed restore", L,
         [](Session& r) {
             r.Corrupt(0, 0x20000), OnAFullDisk(0x100, [&] { return RestoreFromBackup(r.store); });
         }},
#endif
    };
    for (const auto& [name, length, change] : cases) {
        SCOPED_TRACE(name);
        Session run(length);
        WriteFile(kDataFileName, Bytes(50, 0xAB));
        std::ifstream peeking(kDataFileName, std::ios::binary);
        ASSERT_EQ(run.Start(), BackupCreated);
#ifndef _WIN32
        EXPECT_EQ(fs::status(kDataFileName).permissions(), kPrivate);
        EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(peeking), {}), Bytes(50, 0xAB));
#endif
        run.store.restoreFailed = true; // as after a failed restore, which a good one ends
        change(run);
        ASSERT_TRUE(RestoreFromBackup(run.store));
        EXPECT_EQ(ReadFile(run.file), CountingBytes(length));
        ClearBackup(run.store);
        EXPECT_TRUE(ReadFile(kDataFileName).empty());
        EXPECT_EQ(ReadFile(run.store.keptFile), Bytes(50, 0xAB)); // the leftover alone
    }
}

// Each refusal leaves every file as it was (an earlier backup, the chosen file, a file a planted
// data file leads to), in a folder open to anyone as a shared one is, but without the sticky bit
// (which makes the kernel refuse some opens itself).
TEST(BackupStore, RefusalsTouchNoFile) {
    Session run;
    fs::permissions(run.dir / ".", fs::perms::all);
    WriteFile("huge.iso", {});
    fs::resize_file("huge.iso", 0x80000000); // sparse: takes no disk space
    const bool linked = Link(run.dir / kDataFileName, "link.nes");
    MakePipe("pipe.nes");
    const auto backup = [] { return WriteFile(kDataFileName, Bytes(50, 0x11)), true; };
    const auto given = [] { // to another user, which needs root or an administrator
#ifdef _WIN32
        BYTE system[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof system;
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        std::wstring name = fs::path(kDataFileName).wstring();
        const bool given =
            CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &size) &&
            SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, system,
                                  nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                  nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
            EqualSid(owner, system); // Wine keeps no owners of its own
        LocalFree(descriptor);
        return given;
#else
        return !::chmod(kDataFileName, 0666) && !::chown(kDataFileName, 42, 42);
#endif
    };
    const fs::path game = run.file;
    const std::tuple<const char*, std::function<bool()>, fs::path, BackupResult> cases[] = {
        {"missing", backup, "missing.nes", EditedFileNotOpened},
        {"pipe", backup, "pipe.nes", EditedFileNotOpened},
        {"the data file", backup, run.dir / kDataFileName, EditedFileIsDataFile},
        {"a link to it", backup, "link.nes", linked ? EditedFileIsDataFile : EditedFileNotOpened},
        {"2 GiB", backup, "huge.iso", EditedFileTooLarge},
        {"planted link", [] { return Link("victim", kDataFileName); }, game, DataFileUnsafe},
        {"dangling link", [] { return Link("made", kDataFileName); }, game, DataFileUnsafe},
        {"hard link", [] { return fs::create_hard_link("victim", kDataFileName), true; }, game,
         DataFileUnsafe},
        {"planted pipe", [] { return MakePipe(kDataFileName); }, game, DataFileUnsafe},
        {"someone else's", [&] { return backup() && given(); }, game, DataFileUnsafe},
    };
    for (const auto& [name, setUp, chosen, expected] : cases) {
        SCOPED_TRACE(name);
        WriteFile("victim", Bytes(50, 0x11));
        EXPECT_EQ(setUp() ? CreateBackup(run.store, chosen) : expected, expected);
        EXPECT_EQ(ReadFile("victim"), Bytes(50, 0x11));
        EXPECT_TRUE(!fs::is_regular_file(kDataFileName) ||
                    ReadFile(kDataFileName) == Bytes(50, 0x11));
        EXPECT_EQ(ReadFile(run.file), CountingBytes(300));
        EXPECT_EQ(fs::file_size("huge.iso"), 0x80000000);
        EXPECT_FALSE(fs::exists("made"));
        fs::remove(kDataFileName);
    }
}

#ifndef _WIN32 // OnAFullDisk
TEST(BackupStore, FailedCopiesAreReportedAndLoseNothing) {
    Session run(0x20000);
    for (const std::size_t leftover : {300, 0}) {
        WriteFile(kDataFileName, Bytes(leftover, 0x11));
        EXPECT_EQ(OnAFullDisk(100, [&] { return run.Start(); }), DataFileNotCreated);
        EXPECT_EQ(ReadFile(kDataFileName), Bytes(leftover, 0x11)); // kept, or no partial copy
        EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), 2) << leftover;
    }
    // Restore writes in place: one that fails part-way leaves what it did not
    // reach as it was. No at exit then keeps the originals; when even that
    // copy fails, the data file keeps them.
    ASSERT_EQ(run.Start(), BackupCreated);
    Bytes expected(0x20000, 0xEE);
    WriteFile(run.file, expected);
    EXPECT_FALSE(OnAFullDisk(0x10000, [&] { return RestoreFromBackup(run.store); }));
    std::copy_n(CountingBytes(0x10000).begin(), 0x10000, expected.begin());
    EXPECT_EQ(ReadFile(run.file), expected);
    ClearBackup(run.store);
    EXPECT_EQ(ReadFile(run.store.keptFile), CountingBytes(0x20000));
    EXPECT_TRUE(ReadFile(kDataFileName).empty());
    ASSERT_EQ(run.Start(), BackupCreated);
    run.store.restoreFailed = true;
    OnAFullDisk(100, [&] { return ClearBackup(run.store), 0; });
    EXPECT_EQ(ReadFile(kDataFileName), expected);

    // A data file changed from outside: nothing is written from a block that no longer holds the
    // original, whether blocks are compared or the rest copied whole; cut short, nothing at all.
    for (const std::size_t length : {0x20000, 0x200000}) {
        WriteFile(run.file, CountingBytes(length));
        ASSERT_EQ(run.Start(), BackupCreated);
        WriteFile(run.file, Bytes(length, 0xEE));
        Poke(kDataFileName, length - 9);
        EXPECT_FALSE(RestoreFromBackup(run.store));
        expected = ReadFile(run.file);
        EXPECT_EQ(expected.front() + expected.back(), 0xEE) << length; // the first block alone
        fs::resize_file(kDataFileName, 10);
        EXPECT_FALSE(RestoreFromBackup(run.store));
        EXPECT_EQ(ReadFile(run.file), expected);
    }
}
#endif

TEST(BackupStore, SecondRunsLeaveTheFirstRunsFilesAlone) {
    Session first;
    WriteFile("second.nes", Bytes(40, 0x22));
    ASSERT_EQ(first.Start(), BackupCreated);
    const std::tuple<bool, fs::path, BackupResult> cases[] = {
        // started elsewhere, chosen
        {false, first.dir / "second.nes", DataFileInUse},
        {true, first.file, EditedFileInUse},
        {true, first.dir / kDataFileName, EditedFileInUse},
    };
    BackupStore second;
    for (const auto& [elsewhere, chosen, expected] : cases) {
        SCOPED_TRACE(chosen);
        const TempDir other(elsewhere);
        EXPECT_EQ(CreateBackup(second, chosen), expected);
        EXPECT_EQ(ReadFile(first.dir / kDataFileName), CountingBytes(300));
        EXPECT_EQ(ReadFile(first.file), CountingBytes(300));
    }
    ClearBackup(first.store); // releases both files
    EXPECT_EQ(CreateBackup(second, first.file), BackupCreated);
#ifndef _WIN32 // the lock stops no other program: a locked program can still be run
    fs::copy_file("/bin/true", "true");
    ASSERT_EQ(CreateBackup(second, first.dir / "true"), BackupCreated);
    EXPECT_EQ(std::system((first.dir / "true").c_str()), 0);
#endif
}

// After the backup the file is moved away and something else put at its name: the run never writes
// through it. Deleted, it is made anew by Restore, private as it was, and is the run's from then
// on.
TEST(BackupStore, RestoreAndPassReachOnlyTheFileBackedUp) {
    using Path = const fs::path&;
    const std::tuple<const char*, std::function<void(Path)>, bool> swaps[] = {
        {"pipe", [](Path f) { MakePipe(f); }, false},
        {"folder", [](Path f) { fs::create_directory(f); }, false},
        {"link", [](Path f) { Link("other.sav", f); }, false},
        {"dangling link", [](Path f) { Link("made", f); }, false},
        {"other file", [](Path f) { fs::copy_file("other.sav", f); }, false},
        {"nothing", [](Path) {}, false},
#ifndef _WIN32 // Wine never reports a deletion pending on an open file
        {"deleted", [](Path) { fs::remove("moved.nes"); }, true},
#endif
    };
    for (const auto& [name, swap, restored] : swaps) {
        SCOPED_TRACE(name);
        Session run;
        WriteFile("other.sav", Bytes(40, 0x22));
        fs::permissions(run.file, kPrivate);
        ASSERT_EQ(run.Start(), BackupCreated);
        fs::rename(run.file, "moved.nes");
        swap(run.file);
        EXPECT_EQ(run.Corrupt(), PassOutcome::NotOpened);
        EXPECT_EQ(RestoreFromBackup(run.store), restored);
        EXPECT_EQ(ReadFile("other.sav"), Bytes(40, 0x22));
        EXPECT_TRUE(!fs::is_regular_file(run.file) ||
                    ReadFile(run.file) == (restored ? CountingBytes(300) : Bytes(40, 0x22)));
        EXPECT_FALSE(fs::exists("made"));
        EXPECT_EQ(ReadFile(kDataFileName), CountingBytes(300));
        if (restored) {
#ifndef _WIN32
            EXPECT_EQ(fs::status(run.file).permissions(), kPrivate);
#endif
            EXPECT_EQ(run.Corrupt(), PassOutcome::Done);
            const TempDir other(true);
            BackupStore second;
            EXPECT_EQ(CreateBackup(second, run.file), EditedFileInUse);
        }
    }
}

} // namespace
} // namespace glitchwerk
