// SPDX-License-Identifier: MIT
#include "dialog/run.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>

namespace glitchwerk {
namespace {

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::uint64_t Covered(const CorruptionStep& step, std::uint32_t length) {
    const std::uint32_t end = std::min(step.endOffset, length);
    return end > step.startOffset ? end - step.startOffset : 0;
}

// The parts, read from the data file: the CRC-32s came with the backup.
std::optional<Original> FindOriginal(const BackupStore& backup) {
    std::FILE* data = backup.dataFile.get();
    bool read = true;
    const ReadBytes reader = [data, &read](std::uint64_t at, std::uint8_t* buffer, std::size_t size,
                                           std::size_t& got) {
        return read = read && ReadAt(data, at, buffer, size, got);
    };
    std::optional<FileParts> parts = FindParts(backup.romLength, reader);
    MendPlan mend = FindMendable(backup.romLength, reader);
    if (!parts || !read)
        return std::nullopt;
    return Original{backup.crc32, backup.crc32Bare, std::move(*parts), std::move(mend)};
}

} // namespace

std::string NewTryId() {
    std::random_device random;
    char id[17];
    std::snprintf(id, sizeof id, "%08X%08X", random(), random());
    return id;
}

BackupResult CRun::Start(const std::filesystem::path& file, const WorkRunner& runner) {
    m_stream = {static_cast<std::uint32_t>(std::time(nullptr)), 0};
    BackupResult result = BackupResult::DataFileNotCreated;
    runner([&](const Progress& progress) {
        result = CreateBackup(m_backup, file, progress);
        if (result == BackupResult::BackupCreated)
            m_original = FindOriginal(m_backup);
    });
    return result;
}

BackupCheck CRun::Check(const WorkRunner& runner) const {
    BackupCheck check;
    runner([&](const Progress& progress) { check = CheckBackup(m_backup, progress); });
    return check;
}

const Original* CRun::ReadOriginal() {
    if (!m_original && m_backup.dataFile)
        m_original = FindOriginal(m_backup); // a read that failed at the start, again
    return m_original ? &*m_original : nullptr;
}

void CRun::BeforeWrite() {
    for (RunWatcher* watcher : m_watchers)
        watcher->BeforeWrite();
}

void CRun::Changed(std::optional<std::size_t> grown) {
    for (RunWatcher* watcher : m_watchers) {
        watcher->FileChanged();
        if (grown)
            watcher->TryChanged(*grown);
    }
}

CorruptionRequest CRun::Request(const Chain& chain) const {
    CorruptionRequest request{m_backup.romPath, m_backup.romLength, chain.steps, {}};
    for (const std::string& name : chain.keep) {
        const FilePart* part = m_original ? FindPart(m_original->parts, name) : nullptr;
        if (part)
            request.kept.push_back({part->start, part->end});
    }
    return request;
}

bool CRun::Mend(std::vector<std::string>& mended) {
    FileHandle file = OpenEditedFile(m_backup, m_backup.romPath);
    return m_original && file && MendChecksums(file.get(), m_original->mend, mended) &&
           FlushToDisk(file.get()) && CloseStream(file);
}

CRun::StepOutcome CRun::Corrupt(const CorruptionStep& step, const TryOptions& options,
                                const WorkRunner& runner) {
    StepOutcome outcome;
    BeforeWrite();
    if (m_open && TryOptions{m_tries[*m_open].chain.keep, m_tries[*m_open].chain.mend} != options)
        EndTry(); // other parts kept, or mended: another try
    const bool fresh = !m_open;
    const bool replayed = m_open && m_replayed;
    Chain chain;
    if (fresh) {
        m_openStream = m_stream;
        chain.seed = m_stream.seed;
        chain.draw = m_stream.draw;
        chain.keep = options.keep;
        chain.mend = options.mend;
    } else {
        chain = m_tries[*m_open].chain;
    }
    const RandomStream before = m_openStream;
    std::vector<CorruptionResult> results;
    Chain one = chain;
    one.steps = {step};
    runner([&](const Progress& progress) {
        outcome.pass = RunCorruptionPass(m_backup, Request(one), m_openStream, results, progress);
        if (outcome.pass == PassOutcome::Done && options.mend && !Mend(outcome.mended))
            outcome.pass = PassOutcome::Incomplete;
    });
    m_stream.draw = std::max(m_stream.draw, m_openStream.draw);
    if (outcome.pass == PassOutcome::NotOpened) {
        m_openStream = before;
        Changed(std::nullopt);
        return outcome;
    }
    outcome.result = results.empty() ? CorruptionResult{0, -1, -1} : results.front();
    const bool processed = Covered(step, m_backup.romLength) > 0;
    const bool moved = m_openStream.draw != before.draw;
    const bool hit = outcome.result.totalBytes > 0;
    // A try never begins with a step that hit nothing; inside one, such a
    // step stays when it moved the stream. One left out changed no byte, and
    // its draws are given back.
    const bool keep = processed && (hit || outcome.pass == PassOutcome::Incomplete ||
                                    (moved && !fresh && !replayed));
    std::optional<std::size_t> grown;
    if (keep) {
        if (fresh || replayed) {
            Try made{NewTryId(), Now(), chain, replayed ? m_tries[*m_open].hits : 0,
                     true,       false, {},    {}};
            made.chain.size = m_backup.romLength;
            m_tries.push_back(std::move(made));
            m_open = m_tries.size() - 1;
            m_replayed = false;
        }
        Try& open = m_tries[*m_open];
        open.chain.steps.push_back(step);
        open.hits += static_cast<std::uint64_t>(outcome.result.totalBytes);
        grown = m_open;
    } else {
        m_openStream = before;
        outcome.nothingHit = (fresh || replayed) && outcome.pass == PassOutcome::Done;
    }
    if (outcome.pass == PassOutcome::Incomplete) {
        if (grown)
            m_tries[*grown].complete = false;
        m_open.reset();
    }
    Changed(grown);
    return outcome;
}

bool CRun::Restore(const WorkRunner& runner) {
    m_open.reset();
    m_replayed = false;
    BeforeWrite();
    bool restored = false;
    runner([&](const Progress& progress) { restored = RestoreFromBackup(m_backup, progress); });
    Changed(std::nullopt);
    return restored;
}

std::optional<PassOutcome> CRun::Apply(const Chain& chain, std::optional<std::size_t> index,
                                       const WorkRunner& runner,
                                       std::vector<CorruptionResult>& results) {
    m_open.reset();
    m_replayed = false;
    BeforeWrite();
    results.clear();
    RandomStream stream{chain.seed, chain.draw};
    bool restored = false;
    PassOutcome pass = PassOutcome::NotOpened;
    std::vector<std::string> mended;
    runner([&](const Progress& progress) {
        restored = RestoreFromBackup(m_backup, progress);
        if (restored)
            pass = RunCorruptionPass(m_backup, Request(chain), stream, results, progress);
        if (pass == PassOutcome::Done && chain.mend && !Mend(mended))
            pass = PassOutcome::Incomplete;
    });
    if (!restored) {
        Changed(std::nullopt);
        return std::nullopt;
    }
    if (pass == PassOutcome::Done) {
        if (!index) {
            Try made{NewTryId(), Now(), chain, 0, true, false, {}, {}};
            made.chain.size = m_backup.romLength;
            for (const CorruptionResult& result : results)
                made.hits += static_cast<std::uint64_t>(result.totalBytes);
            m_tries.push_back(std::move(made));
            index = m_tries.size() - 1;
        }
        m_open = index;
        m_replayed = true;
        m_openStream = stream;
        m_stream.draw = std::max(m_stream.draw, stream.draw);
    }
    Changed(pass == PassOutcome::Done ? index : std::nullopt);
    return pass;
}

bool CRun::WriteTry(const Chain& chain, std::FILE* to, const Progress& progress,
                    std::vector<CorruptionResult>& results) const {
    if (!CopyOriginal(m_backup, to, progress))
        return false;
    RandomStream stream{chain.seed, chain.draw};
    std::vector<std::string> mended;
    return RunCorruptionPass(to, Request(chain), stream, results, progress) == PassOutcome::Done &&
           (!chain.mend || (m_original && MendChecksums(to, m_original->mend, mended)));
}

bool CRun::WriteFileNow(std::FILE* to, const Progress& progress) const {
    std::FILE* from = m_backup.editedFile.get();
    const std::int64_t length = from ? StreamLength(from) : -1;
    if (length < 0)
        return false;
    std::vector<std::uint8_t> block(kHashedBlock);
    for (std::uint64_t at = 0; at < static_cast<std::uint64_t>(length);) {
        std::size_t got = 0;
        if (!ReadAt(from, at, block.data(), block.size(), got))
            return false;
        if (got == 0)
            break; // shortened meanwhile: what there is
        if (!WriteAt(to, at, block.data(), got))
            return false;
        at += got;
        if (progress)
            progress(at, static_cast<std::uint64_t>(length));
    }
    return true;
}

void CRun::AddKept(std::vector<Try> kept) {
    const std::size_t added = kept.size();
    m_tries.insert(m_tries.begin(), std::make_move_iterator(kept.begin()),
                   std::make_move_iterator(kept.end()));
    if (m_open)
        *m_open += added;
}

void CRun::SetStar(std::size_t index, bool starred) {
    m_tries.at(index).starred = starred;
}

void CRun::SetName(std::size_t index, std::string name) {
    m_tries.at(index).name = std::move(name);
}

void CRun::SetPlayed(std::size_t index, std::string played) {
    m_tries.at(index).played = std::move(played);
}

} // namespace glitchwerk
