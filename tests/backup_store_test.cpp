#include "backup_store.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace glitchwerk {
namespace {

using testing::Bytes;
using testing::CountingBytes;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

// Limits the size of any file this process writes, so that writes past it
// fail as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limit = previous_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit previous_{};
    void (*previousHandler_)(int);
};

TEST(BackupStore, RestoresTheBytesOfStartUpAndEmptiesTheDataFileAtTheEnd) {
    for (const std::size_t length : {0, 1, 300, 0x10001}) {
        SCOPED_TRACE(length);
        TempDir dir(true);
        const auto file = dir / "game.nes";
        const Bytes original = CountingBytes(length);
        WriteFile(file, original);
        WriteFile(kDataFileName, Bytes(0x20000, 0xAB)); // left over from an earlier run

        BackupStore store;
        ASSERT_EQ(CreateBackup(store, file), BackupResult::BackupCreated);
        EXPECT_EQ(store.romLength, length);
        EXPECT_EQ(store.romPath, file);
        EXPECT_EQ(ReadFile(kDataFileName), original);

        for (int round = 0; round < 2; ++round) {
            WriteFile(file, Bytes(length / 2 + 7, 0xEE)); // corrupted and resized
            ASSERT_TRUE(RestoreFromBackup(store));
            EXPECT_EQ(ReadFile(file), original);
        }
        ClearBackup(store);
        EXPECT_FALSE(store.dataFile);
        EXPECT_TRUE(fs::exists(kDataFileName));
        EXPECT_EQ(fs::file_size(kDataFileName), 0u);
        EXPECT_EQ(ReadFile(file), original);
    }
}

TEST(BackupStore, RefusesWithoutTouchingEitherFile) {
    TempDir dir(true);
    const auto file = dir / "game.nes";
    const Bytes original = CountingBytes(300);
    WriteFile(file, original);
    const Bytes earlier(50, 0x11);

    const struct {
        const char* name;
        fs::path chosen;
        BackupResult expected;
    } cases[] = {
        {"missing file", dir / "missing.nes", BackupResult::EditedFileNotOpened},
        {"the data file", dir / kDataFileName, BackupResult::EditedFileIsDataFile},
        {"the data file by a relative name", kDataFileName, BackupResult::EditedFileIsDataFile},
        {"a link to the data file", dir / "link.nes", BackupResult::EditedFileIsDataFile},
    };
    fs::create_symlink(dir / kDataFileName, dir / "link.nes");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(kDataFileName, earlier);
        BackupStore store;
        EXPECT_EQ(CreateBackup(store, c.chosen), c.expected);
        EXPECT_FALSE(store.dataFile);
        EXPECT_EQ(ReadFile(kDataFileName), earlier);
        EXPECT_EQ(ReadFile(file), original);
    }
}

TEST(BackupStore, RefusesFilesOf2GiBOrMore) {
    TempDir dir(true);
    const auto file = dir / "huge.iso";
    WriteFile(file, {});
    fs::resize_file(file, 0x80000000ULL); // sparse: takes no disk space
    BackupStore store;
    EXPECT_EQ(CreateBackup(store, file), BackupResult::EditedFileTooLarge);
    EXPECT_EQ(fs::file_size(file), 0x80000000ULL);
    EXPECT_EQ(fs::file_size(kDataFileName), 0u);
}

TEST(BackupStore, DataFileThatCannotBeCreatedOrWrittenIsReported) {
    TempDir dir(true);
    const auto file = dir / "game.nes";
    const Bytes original = CountingBytes(300);
    WriteFile(file, original);

    fs::create_directory(kDataFileName);
    BackupStore store;
    EXPECT_EQ(CreateBackup(store, file), BackupResult::DataFileNotCreated);
    fs::remove(kDataFileName);

    fs::create_symlink("/dev/full", kDataFileName);
    EXPECT_EQ(CreateBackup(store, file), BackupResult::DataFileNotCreated);
    fs::remove(kDataFileName);

    {
        FileSizeLimit limit(100); // the copy stops short, as on a full disk
        EXPECT_EQ(CreateBackup(store, file), BackupResult::DataFileNotCreated);
    }
    EXPECT_FALSE(store.dataFile);
    EXPECT_EQ(fs::file_size(kDataFileName), 0u);
    EXPECT_EQ(ReadFile(file), original);
}

TEST(BackupStore, FailedRestoreReportsFailureAndKeepsTheDataFile) {
    TempDir dir(true);
    const auto file = dir / "game.nes";
    const Bytes original = CountingBytes(300);
    WriteFile(file, original);
    BackupStore store;
    ASSERT_EQ(CreateBackup(store, file), BackupResult::BackupCreated);

    {
        FileSizeLimit limit(100);
        EXPECT_FALSE(RestoreFromBackup(store));
    }
    EXPECT_EQ(ReadFile(kDataFileName), original);

    fs::remove(file);
    fs::create_directory(file); // cannot be opened for writing
    EXPECT_FALSE(RestoreFromBackup(store));
    EXPECT_EQ(ReadFile(kDataFileName), original);

    fs::remove(file);
    EXPECT_TRUE(RestoreFromBackup(store)); // a deleted file is written anew
    EXPECT_EQ(ReadFile(file), original);
}

TEST(BackupStore, SecondRunInTheSameFolderLeavesTheFirstRunsBackupAlone) {
    TempDir dir(true);
    const auto first = dir / "first.nes";
    const auto second = dir / "second.nes";
    const Bytes firstBytes = CountingBytes(300);
    WriteFile(first, firstBytes);
    WriteFile(second, Bytes(40, 0x22));

    BackupStore firstRun;
    ASSERT_EQ(CreateBackup(firstRun, first), BackupResult::BackupCreated);
    BackupStore secondRun;
    EXPECT_EQ(CreateBackup(secondRun, second), BackupResult::DataFileInUse);
    EXPECT_FALSE(secondRun.dataFile);

    WriteFile(first, Bytes(10, 0));
    ASSERT_TRUE(RestoreFromBackup(firstRun));
    EXPECT_EQ(ReadFile(first), firstBytes);
    EXPECT_EQ(ReadFile(second), Bytes(40, 0x22));

    ClearBackup(firstRun); // releases the data file
    EXPECT_EQ(CreateBackup(secondRun, second), BackupResult::BackupCreated);
}

} // namespace
} // namespace glitchwerk
