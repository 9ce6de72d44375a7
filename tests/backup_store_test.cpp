#include "backup_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace glitchwerk {
namespace {

using namespace testing; // TempDir and the file helpers
namespace fs = std::filesystem;

TEST(BackupStore, RestoresTheBytesOfStartUpAndEmptiesTheDataFileAtTheEnd) {
    for (const std::size_t length : {0, 300, 0x10001}) {
        SCOPED_TRACE(length);
        TempDir dir(true);
        const auto file = dir / "game.nes";
        const Bytes original = CountingBytes(length);
        WriteFile(file, original);
        WriteFile(kDataFileName, Bytes(0x20000, 0xAB)); // left over from an earlier run

        BackupStore store;
        ASSERT_EQ(CreateBackup(store, file), BackupResult::BackupCreated);
        for (int round = 0; round < 2; ++round) {
            WriteFile(file, Bytes(length / 2 + 7, 0xEE)); // corrupted and resized
            ASSERT_TRUE(RestoreFromBackup(store));
            EXPECT_EQ(ReadFile(file), original);
        }
        ClearBackup(store);
        EXPECT_TRUE(ReadFile(kDataFileName).empty());
    }
}

TEST(BackupStore, RefusesWithoutTouchingAnyFile) {
    TempDir dir(true);
    const auto file = dir / "game.nes";
    WriteFile(file, CountingBytes(300));
    const auto huge = dir / "huge.iso";
    WriteFile(huge, {});
    fs::resize_file(huge, 0x80000000); // sparse: takes no disk space
    fs::create_symlink(dir / kDataFileName, dir / "link.nes");

    const struct {
        fs::path chosen;
        BackupResult expected;
    } cases[] = {
        {dir / "missing.nes", BackupResult::EditedFileNotOpened},
        {dir / kDataFileName, BackupResult::EditedFileIsDataFile},
        {kDataFileName, BackupResult::EditedFileIsDataFile},
        {dir / "link.nes", BackupResult::EditedFileIsDataFile},
        {huge, BackupResult::EditedFileTooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        WriteFile(kDataFileName, Bytes(50, 0x11)); // an earlier run's backup
        BackupStore store;
        EXPECT_EQ(CreateBackup(store, c.chosen), c.expected);
        EXPECT_EQ(ReadFile(kDataFileName), Bytes(50, 0x11));
        EXPECT_EQ(ReadFile(file), CountingBytes(300));
        EXPECT_EQ(fs::file_size(huge), 0x80000000);
    }
}

// While it lives, no file of this process can grow past `bytes`: writes
// beyond fail as on a full disk (with SIGXFSZ ignored, from then on).
struct FileSizeLimit {
    rlimit previous{};
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const rlimit limit{bytes, previous.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &previous); }
};

TEST(BackupStore, FailedCopiesAreReportedAndLoseNothing) {
    TempDir dir(true);
    const auto file = dir / "game.nes";
    WriteFile(file, CountingBytes(300));
    BackupStore store;
    {
        const FileSizeLimit limit(100);
        EXPECT_EQ(CreateBackup(store, file), BackupResult::DataFileNotCreated);
    }
    EXPECT_EQ(ReadFile(file), CountingBytes(300));
    EXPECT_TRUE(ReadFile(kDataFileName).empty()); // no partial copy that looks like a backup

    ASSERT_EQ(CreateBackup(store, file), BackupResult::BackupCreated);
    {
        const FileSizeLimit limit(100);
        EXPECT_FALSE(RestoreFromBackup(store));
    }
    EXPECT_EQ(ReadFile(kDataFileName), CountingBytes(300));

    // A data file cut short from outside is refused before the edited file
    // is emptied.
    WriteFile(file, Bytes(300, 0xEE));
    fs::resize_file(kDataFileName, 10);
    EXPECT_FALSE(RestoreFromBackup(store));
    EXPECT_EQ(ReadFile(file), Bytes(300, 0xEE));
}

TEST(BackupStore, SecondRunInTheSameFolderLeavesTheFirstRunsBackupAlone) {
    TempDir dir(true);
    WriteFile(dir / "first.nes", CountingBytes(300));
    WriteFile(dir / "second.nes", Bytes(40, 0x22));
    BackupStore first;
    BackupStore second;
    ASSERT_EQ(CreateBackup(first, dir / "first.nes"), BackupResult::BackupCreated);
    EXPECT_EQ(CreateBackup(second, dir / "second.nes"), BackupResult::DataFileInUse);
    EXPECT_EQ(ReadFile(kDataFileName), CountingBytes(300));

    ClearBackup(first); // releases the data file
    EXPECT_EQ(CreateBackup(second, dir / "second.nes"), BackupResult::BackupCreated);
}

} // namespace
} // namespace glitchwerk
