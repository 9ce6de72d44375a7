// SPDX-License-Identifier: MIT
#include "dialog/kept_store.h"

#include "engine/publish.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <map>

namespace glitchwerk {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr char kSettingsName[] = "settings.json";
// Another window appends a line in well under this.
constexpr int kLockWaitMs = 2000;
constexpr std::size_t kMostText = 4096; // of a name, a command line, a field's text

std::string Dump(const Json& json) {
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// How a kept file was found.
enum class Found { Yes, Missing, NotOurs, Failed };

// Opens a kept file only when it is the user's alone: a plain file of theirs,
// with one name, that neither group nor others may write. Made private when
// missing and `create`.
FileHandle OpenKept(const fs::path& path, bool create, Found& found) {
    OpenFailure failure{};
    FileHandle file = OpenFile(path, create ? OpenHow::OwnFile : OpenHow::Unlinked, &failure);
    found = file                               ? Found::Yes
            : failure == OpenFailure::NotFound ? Found::Missing
            : failure == OpenFailure::IsLink   ? Found::NotOurs
                                               : Found::Failed;
    FileFacts facts;
    if (file && !ReadFacts(file.get(), facts))
        return found = Found::Failed, nullptr;
    if (file && (!facts.regular || !facts.ours || facts.links != 1 || (facts.permissions & 022))) {
        SetFailure("not the user's alone");
        return found = Found::NotOurs, nullptr;
    }
    return file;
}

bool ReadAll(std::FILE* file, std::string& text) {
    text.clear();
    if (!SeekTo(file, 0))
        return false;
    char block[1 << 16];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) != 0;)
        text.append(block, got);
    return !std::ferror(file) || (SetFailure(ErrnoText(EIO)), false);
}

// An unsigned integer of at most `most` (no float, no sign), or nothing.
std::optional<std::uint64_t> Unsigned(const Json& json, const char* key, std::uint64_t most) {
    const auto field = json.find(key);
    if (field == json.end() || !field->is_number_unsigned())
        return std::nullopt;
    const auto value = field->get<std::uint64_t>();
    return value <= most ? std::optional(value) : std::nullopt;
}

std::optional<std::string> Text(const Json& json, const char* key) {
    const auto field = json.find(key);
    if (field == json.end() || !field->is_string() ||
        field->get_ref<const std::string&>().size() > kMostText)
        return std::nullopt;
    return field->get<std::string>();
}

std::optional<bool> Flag(const Json& json, const char* key) {
    const auto field = json.find(key);
    if (field == json.end() || !field->is_boolean())
        return std::nullopt;
    return field->get<bool>();
}

bool IsOutcome(const std::string& played) {
    return played == "ran" || played == "refused" || played == "crashed" || played == "hung";
}

bool IsTryId(const std::string& id) {
    return id.size() == 16 && id.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::optional<Settings> SettingsOf(const Json& json) {
    if (!json.is_object())
        return std::nullopt;
    const auto spread = Unsigned(json, "spread", 2);
    const auto n = Text(json, "n");
    const auto k = Text(json, "k");
    const auto quiet = Flag(json, "quiet");
    const auto runAfter = Text(json, "runAfter");
    // The first format kept its settings only while the history was kept.
    const auto keep = json.contains("keep") ? Flag(json, "keep") : std::optional(true);
    // Kept since playing came.
    const auto playAfter = json.contains("playAfter") ? Flag(json, "playAfter") : std::nullopt;
    const auto core = json.contains("core") ? Text(json, "core") : std::optional<std::string>("");
    if (!spread || !n || !k || !quiet || !runAfter || !keep || !core ||
        (json.contains("playAfter") && !playAfter))
        return std::nullopt;
    return Settings{*keep, static_cast<int>(*spread), *n, *k, *quiet, *runAfter, playAfter, *core};
}

Json SettingsJson(const Settings& settings) {
    Json json{{"keep", settings.keep}, {"spread", settings.spread}, {"n", settings.n},
              {"k", settings.k},       {"quiet", settings.quiet},   {"runAfter", settings.runAfter},
              {"core", settings.core}};
    if (settings.playAfter)
        json["playAfter"] = *settings.playAfter;
    return json;
}

// A step of the first format: nine numbers.
std::optional<CorruptionStep> OldStep(const Json& j) {
    if (!j.is_array() || j.size() != 9 ||
        !std::all_of(j.begin(), j.end(), [](const Json& v) { return v.is_number_unsigned(); }))
        return std::nullopt;
    const auto at = [&](std::size_t i) { return j[i].get<std::uint64_t>(); };
    const std::uint64_t most[] = {0xFFFFFFFF, 0xFFFFFFFF, 2, 0xFF, 0xFF, 3, 0xFF, 2, kMostPicked};
    for (std::size_t i = 0; i < 9; ++i) {
        if (at(i) > most[i])
            return std::nullopt;
    }
    CorruptionStep step{static_cast<std::uint32_t>(at(0)),
                        static_cast<std::uint32_t>(at(1)),
                        {static_cast<SearchMode>(at(2)), static_cast<std::uint8_t>(at(3)),
                         static_cast<std::uint8_t>(at(4)), static_cast<ReplaceMode>(at(5)),
                         static_cast<std::uint8_t>(at(6))},
                        {static_cast<SpreadKind>(at(7)), static_cast<std::uint32_t>(at(8))}};
    if (step.spread.kind == SpreadKind::EveryNth && step.spread.n == 0)
        return std::nullopt;
    return step;
}

// A try of the first format, one line with every step.
std::optional<Try> OldTry(const Json& j) {
    const auto when = Text(j, "when");
    const auto seed = Unsigned(j, "seed", 0xFFFFFFFF);
    const auto draw = Unsigned(j, "draw", std::numeric_limits<std::uint64_t>::max());
    const auto hits = Unsigned(j, "hits", std::numeric_limits<std::uint64_t>::max());
    const auto complete = Flag(j, "complete");
    const auto steps = j.find("steps");
    if (!when || !seed || !draw || !hits || !complete || steps == j.end() || !steps->is_array())
        return std::nullopt;
    Try made{NewTryId(), *when, {}, *hits, *complete, false, {}, {}};
    made.chain.seed = static_cast<std::uint32_t>(*seed);
    made.chain.draw = *draw;
    for (const Json& each : *steps) {
        std::optional<CorruptionStep> step = OldStep(each);
        if (!step)
            return std::nullopt;
        made.chain.steps.push_back(*step);
    }
    return made;
}

Json StepLine(const Try& made, std::size_t index, std::uint64_t hitsSoFar, bool incomplete) {
    Json line = {{"chain", made.id},
                 {"when", made.when},
                 {"seed", made.chain.seed},
                 {"draw", made.chain.draw},
                 {"step", StepText(made.chain.steps[index])},
                 {"hits", hitsSoFar}};
    if (incomplete)
        line["incomplete"] = true;
    if (!made.chain.keep.empty())
        line["keep"] = made.chain.keep;
    if (made.chain.mend)
        line["mend"] = true;
    return line;
}

// Whether the star and the name follow: never, when set, or always (a
// change, which may unset them).
enum class Marks { None, Set, All };

std::string TryLines(const Try& made, std::size_t from, Marks marks) {
    std::string text;
    for (std::size_t i = from; i < made.chain.steps.size(); ++i) {
        const bool last = i + 1 == made.chain.steps.size();
        // Hits are the try's so far: the last line carries them all.
        text += Dump(StepLine(made, i, last ? made.hits : 0, last && !made.complete)) + '\n';
    }
    if (marks == Marks::All || (marks == Marks::Set && made.starred))
        text += Dump(Json{{"chain", made.id}, {"star", made.starred}}) + '\n';
    if (marks == Marks::All || (marks == Marks::Set && !made.name.empty()))
        text += Dump(Json{{"chain", made.id}, {"name", made.name}}) + '\n';
    if (marks != Marks::None && !made.played.empty())
        text += Dump(Json{{"chain", made.id}, {"played", made.played}}) + '\n';
    return text;
}

// The lock of a history: a file of its own beside it, never replaced, held
// while the history is read, added to or written anew (which a lock on the
// history itself would not outlive, nor allow on Windows).
FileHandle LockHistory(const fs::path& history, Found& found) {
    fs::path name = history;
    name += ".lock";
    FileHandle lock = OpenKept(name, true, found);
    if (lock && LockRecords(lock.get(), kLockWaitMs) != LockResult::Locked)
        return found = Found::Failed, nullptr;
    return lock;
}

} // namespace

ReadHistory ParseHistory(const std::string& text) {
    ReadHistory read;
    std::map<std::string, std::size_t> byId; // index in read.tries
    std::size_t number = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (line.empty())
            continue;
        const Json j = Json::parse(line, nullptr, false);
        const auto damaged = [&] { read.damaged.emplace_back(number, line); };
        if (!j.is_object()) {
            damaged();
            continue;
        }
        // The first format: a settings line, then a line a try.
        if (number == 1 && j.contains("spread")) {
            read.oldFormat = true;
            if (!(read.settings = SettingsOf(j)))
                damaged();
            continue;
        }
        if (j.contains("steps")) {
            read.oldFormat = true;
            if (std::optional<Try> made = OldTry(j))
                read.tries.push_back(std::move(*made));
            else
                damaged();
            continue;
        }
        const auto id = Text(j, "chain");
        if (!id || !IsTryId(*id)) {
            damaged();
            continue;
        }
        const auto known = byId.find(*id);
        if (j.contains("played")) {
            const auto played = Text(j, "played");
            if (known == byId.end() || !played || !IsOutcome(*played)) {
                damaged();
                continue;
            }
            read.tries[known->second].played = *played;
            continue;
        }
        if (j.contains("star") || j.contains("name")) {
            const auto star = j.contains("star") ? Flag(j, "star") : std::optional(false);
            const auto name = j.contains("name") ? Text(j, "name") : std::optional<std::string>();
            if (known == byId.end() || !star || (j.contains("name") && !name)) {
                damaged();
                continue;
            }
            Try& marked = read.tries[known->second];
            if (j.contains("star"))
                marked.starred = *star;
            if (name)
                marked.name = *name;
            continue;
        }
        const auto when = Text(j, "when");
        const auto seed = Unsigned(j, "seed", 0xFFFFFFFF);
        const auto draw = Unsigned(j, "draw", std::numeric_limits<std::uint64_t>::max());
        const auto hits = Unsigned(j, "hits", std::numeric_limits<std::uint64_t>::max());
        const auto stepText = Text(j, "step");
        const auto incomplete = j.contains("incomplete") ? Flag(j, "incomplete") : false;
        const auto mend = j.contains("mend") ? Flag(j, "mend") : false;
        std::vector<std::string> keep;
        bool keepRead = true;
        if (const auto field = j.find("keep"); field != j.end()) {
            keepRead = field->is_array();
            for (const Json& part : keepRead ? *field : Json::array()) {
                keepRead = keepRead && part.is_string() && !part.get<std::string>().empty();
                if (keepRead)
                    keep.push_back(part.get<std::string>());
            }
        }
        std::string why;
        const std::optional<CorruptionStep> step =
            stepText ? ParseStepText(*stepText, why) : std::nullopt;
        if (!when || !seed || !draw || !hits || !step || !incomplete || !mend || !keepRead) {
            damaged();
            continue;
        }
        if (known == byId.end()) {
            Try made{*id, *when, {}, 0, true, false, {}, {}};
            made.chain.seed = static_cast<std::uint32_t>(*seed);
            made.chain.draw = *draw;
            made.chain.keep = keep;
            made.chain.mend = *mend;
            byId.emplace(*id, read.tries.size());
            read.tries.push_back(std::move(made));
        } else {
            const Chain& chain = read.tries[known->second].chain;
            if (chain.seed != *seed || chain.draw != *draw || chain.keep != keep ||
                chain.mend != *mend) {
                damaged(); // a step of another stream cannot join this one
                continue;
            }
        }
        Try& grown = read.tries[byId.at(*id)];
        grown.chain.steps.push_back(*step);
        grown.hits = std::max(grown.hits, *hits);
        grown.complete = grown.complete && !*incomplete;
    }
    return read;
}

std::string HistoryText(const std::vector<Try>& tries) {
    std::string text;
    for (const Try& made : tries)
        text += TryLines(made, 0, Marks::Set);
    return text;
}

fs::path KeptStore::HistoryFile(std::uint32_t crc, std::uint64_t length) const {
    char name[64];
    std::snprintf(name, sizeof name, "history-%08X-%llX.jsonl", crc,
                  static_cast<unsigned long long>(length));
    return m_folder / name;
}

KeptStore::Trust KeptStore::Check() const {
    if (m_folder.empty() || !MakePrivateFolders(m_folder))
        return Trust::None;
    FolderFacts facts;
    // A folder others may write to (as earlier versions made it under a
    // loose umask) may hold anything: the user makes it private again.
    if (!ReadFolderFacts(m_folder, facts) || !facts.folder || !facts.ours || facts.othersWrite)
        return Trust::NotOurs;
    return Trust::Ours;
}

std::optional<Settings> KeptStore::LoadSettings(bool& notOurs, bool& damaged) const {
    notOurs = damaged = false;
    Found found{};
    FileHandle file = OpenKept(m_folder / kSettingsName, false, found);
    notOurs = found == Found::NotOurs;
    std::string text;
    if (!file || !ReadAll(file.get(), text))
        return std::nullopt;
    file.reset();
    if (std::optional<Settings> settings = SettingsOf(Json::parse(text, nullptr, false)))
        return settings;
    fs::path aside = m_folder / kSettingsName;
    aside += ".damaged";
    bool existed = false;
    damaged = RenameWithoutReplacing(m_folder / kSettingsName, aside, existed);
    return std::nullopt;
}

bool KeptStore::SaveSettings(const Settings& settings) const {
    const fs::path path = m_folder / kSettingsName;
    Found found{};
    FileHandle old = OpenKept(path, false, found);
    FileFacts facts;
    if ((found != Found::Yes && found != Found::Missing) || (old && !ReadFacts(old.get(), facts)))
        return false;
    const std::optional<FileId> seen = old ? std::optional(facts.id) : std::nullopt;
    old.reset(); // Windows renames over no open file
    const std::string text = Dump(SettingsJson(settings)) + '\n';
    const auto write = [&](std::FILE* out) {
        return std::fwrite(text.data(), 1, text.size(), out) == text.size();
    };
    return IsPublished(PublishFile({path, 0600, seen}, write));
}

bool KeptStore::ForgetSettings() const {
    std::error_code error;
    fs::remove(m_folder / kSettingsName, error);
    return !error;
}

std::optional<KeptStore::History> KeptStore::LoadHistory(std::uint32_t crc, std::uint64_t length,
                                                         bool& notOurs) const {
    History history;
    const fs::path path = HistoryFile(crc, length);
    Found found{};
    const FileHandle lock = LockHistory(path, found);
    FileHandle file = lock ? OpenKept(path, false, found) : nullptr;
    notOurs = found == Found::NotOurs;
    std::string text;
    FileFacts facts;
    if (!file)
        return found == Found::Missing ? std::optional(history) : std::nullopt;
    if (!ReadAll(file.get(), text) || !ReadFacts(file.get(), facts))
        return std::nullopt;
    file.reset(); // so that it can be written anew, under the lock
    ReadHistory read = ParseHistory(text);
    history.settings = read.settings;
    history.damaged = read.damaged.size();
    // Over the limit, the oldest go; starred and named ones stay.
    if (read.tries.size() > kMostKeptTries) {
        std::vector<Try> kept;
        const std::size_t recent = read.tries.size() - kKeptTries;
        for (std::size_t i = 0; i < read.tries.size(); ++i) {
            if (i >= recent || read.tries[i].starred || !read.tries[i].name.empty())
                kept.push_back(std::move(read.tries[i]));
        }
        read.tries = std::move(kept);
        read.oldFormat = true; // rewritten below
    }
    history.tries = std::move(read.tries);
    if (read.damaged.empty() && !read.oldFormat)
        return history;
    // The lines that failed a check go to FILE.damaged, each with its number;
    // then the file is written anew without them, under the same lock.
    history.aside = path;
    history.aside += ".damaged";
    bool setAside = true;
    if (!read.damaged.empty()) {
        Found asideFound{};
        FileHandle aside = OpenKept(history.aside, true, asideFound);
        std::string lines;
        for (const auto& [number, line] : read.damaged)
            lines += "line " + std::to_string(number) + ": " + line + '\n';
        setAside = aside && std::fseek(aside.get(), 0, SEEK_END) == 0 &&
                   std::fwrite(lines.data(), 1, lines.size(), aside.get()) == lines.size() &&
                   FlushToDisk(aside.get()) && CloseStream(aside);
    }
    const std::string rewritten = HistoryText(history.tries);
    const auto write = [&](std::FILE* out) {
        return std::fwrite(rewritten.data(), 1, rewritten.size(), out) == rewritten.size();
    };
    setAside = setAside && IsPublished(PublishFile({path, 0600, facts.id}, write));
    history.setAside = setAside && !read.damaged.empty();
    return history;
}

bool KeptStore::Append(std::uint32_t crc, std::uint64_t length, const Try& made, std::size_t from,
                       bool marks) const {
    const std::string lines = TryLines(made, from, marks ? Marks::All : Marks::None);
    if (lines.empty())
        return true;
    Found found{};
    const FileHandle lock = LockHistory(HistoryFile(crc, length), found);
    FileHandle file = lock ? OpenKept(HistoryFile(crc, length), true, found) : nullptr;
    return file && std::fseek(file.get(), 0, SEEK_END) == 0 &&
           std::fwrite(lines.data(), 1, lines.size(), file.get()) == lines.size() &&
           FlushToDisk(file.get()) && CloseStream(file);
}

bool KeptStore::ForgetHistory(std::uint32_t crc, std::uint64_t length) const {
    const fs::path path = HistoryFile(crc, length);
    Found found{};
    const FileHandle lock = LockHistory(path, found);
    std::error_code error;
    fs::remove(path, error);
    fs::path name = path;
    fs::remove(name += ".lock", error);
    return lock && !error;
}

} // namespace glitchwerk
