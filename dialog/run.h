// SPDX-License-Identifier: MIT
#pragma once
// One run: the edited file with its backup, the run's random stream, and the
// tries made of the file, each a chain of steps from the pristine bytes. The
// dialog's commands and the panel's both go through here; whatever watches
// the file (the preview, a program started after a corruption, the history)
// is told before it is written and after.

#include "engine/backup_store.h"
#include "engine/file_parts.h"
#include "engine/mend.h"
#include "engine/recipe.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace glitchwerk {

// One row of the history: a chain applied to the pristine file.
struct Try {
    std::string id;   // unique, kept with it
    std::string when; // "HH:MM:SS"
    Chain chain;      // steps that processed a byte, or moved the stream
    std::uint64_t hits = 0;
    bool complete = true; // every step's writes reached the file
    bool starred = false;
    std::string name;
    std::string played; // how its last play went: "ran", "refused", "crashed", "hung"
};

// Told of the run's writes. Each is called on the window's thread.
class RunWatcher {
  public:
    virtual ~RunWatcher() = default;
    // The file is about to be written: stop using it.
    virtual void BeforeWrite() {}
    // It was written (or restored): look again.
    virtual void FileChanged() {}
    // A try was added, or grew by a step (its index).
    virtual void TryChanged(std::size_t) {}
};

// Runs long work that reads or writes the files: in a face, on a worker
// thread while a progress view shows how far it has come; in tests, at once.
// The watchers are told before and after, on the window's thread.
using WorkRunner = std::function<void(const std::function<void(const Progress&)>& work)>;

// The original's facts, found once on the data file.
struct Original {
    std::uint32_t crc32 = 0;
    std::optional<std::uint32_t> crc32Bare; // without an iNES header
    FileParts parts;
    MendPlan mend; // the checksums valid on it
};

// What a new try takes besides its steps: the parts it keeps, and whether it
// mends checksums.
struct TryOptions {
    std::vector<std::string> keep;
    bool mend = false;
    bool operator==(const TryOptions&) const = default;
};

class CRun {
  public:
    void Watch(RunWatcher& watcher) { m_watchers.push_back(&watcher); }

    // Backs the file up; the stream is seeded from the time.
    BackupResult Start(const std::filesystem::path& file, const WorkRunner& runner);
    const BackupStore& Backup() const { return m_backup; }

    // The original's CRC-32 and parts, found with the backup. Nothing when
    // they could not be read.
    const Original* ReadOriginal();
    const Original* OriginalIfRead() const { return m_original ? &*m_original : nullptr; }

    struct StepOutcome {
        PassOutcome pass = PassOutcome::NotOpened;
        CorruptionResult result{0, -1, -1};
        bool nothingHit = false;         // it would have begun a try, and hit nothing
        std::vector<std::string> mended; // the checksums mended after it
    };
    // Corrupts the file by one step, along the open try's stream (or a new
    // try's, from the run's stream, with `options`; an open try of other
    // options ends first). A step that hits nothing where no try is open adds
    // none; one that processed no byte is left out of the try.
    StepOutcome Corrupt(const CorruptionStep& step, const TryOptions& options,
                        const WorkRunner& runner);
    // Puts the original back; the open try ends.
    bool Restore(const WorkRunner& runner);
    // Ends the open try: the next Corrupt begins a new one.
    void EndTry() { m_open.reset(), m_replayed = false; }

    // Restores the file, then applies `chain` from its start: with `index`,
    // as a replay of that try, which becomes the one open (the next Corrupt
    // begins a new try with its steps first, never changing it); without, as
    // a new try, open the same way. Nothing when the restore failed.
    std::optional<PassOutcome> Apply(const Chain& chain, std::optional<std::size_t> index,
                                     const WorkRunner& runner,
                                     std::vector<CorruptionResult>& results);

    // Writes the bytes `chain` makes of the pristine copy (not the file as it
    // is) into `to`, from its start.
    bool WriteTry(const Chain& chain, std::FILE* to, const Progress& progress,
                  std::vector<CorruptionResult>& results) const;
    // Writes the file as it is now into `to`, through the run's own handle.
    bool WriteFileNow(std::FILE* to, const Progress& progress) const;

    const std::vector<Try>& Tries() const { return m_tries; }
    // Tries kept from earlier runs, before this run's.
    void AddKept(std::vector<Try> kept);
    void SetStar(std::size_t index, bool starred);
    void SetName(std::size_t index, std::string name);
    void SetPlayed(std::size_t index, std::string played);
    std::optional<std::size_t> OpenTry() const { return m_open; }

    // At the end: what the data file still holds, a copy of it, emptying it.
    BackupCheck Check(const WorkRunner& runner) const;
    bool KeepDataFile() { return KeepOriginals(m_backup); }
    bool Clear() { return ClearBackup(m_backup); }

  private:
    void BeforeWrite();
    void Changed(std::optional<std::size_t> grown);
    CorruptionRequest Request(const Chain& chain) const;
    // The sums of the plan mended in the run's file.
    bool Mend(std::vector<std::string>& mended);

    BackupStore m_backup;
    RandomStream m_stream; // the run's: a new try starts where the last left it
    std::optional<Original> m_original;
    std::vector<Try> m_tries;
    std::optional<std::size_t> m_open; // the try a Corrupt adds its step to
    bool m_replayed = false;           // that try was applied again: a Corrupt copies it first
    RandomStream m_openStream;         // where that try's stream is
    std::vector<RunWatcher*> m_watchers;
};

// A new try's id: 16 random hexadecimal digits.
std::string NewTryId();

} // namespace glitchwerk
