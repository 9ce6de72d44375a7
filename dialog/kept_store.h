// SPDX-License-Identifier: MIT
#pragma once
// The files the panel keeps for the user, in the user's data folder: the
// settings (settings.json), and for each original a history of its tries
// (history-CRC-LENGTH.jsonl), one line a step, appended under a lock so that
// two windows on copies of one file add their tries, never replace them.
// Nothing is read or written there unless the folder and the file are the
// user's alone.

#include "dialog/run.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace glitchwerk {

// The panel's settings, kept once for the user.
struct Settings {
    bool keep = false; // "Keep history and settings"
    int spread = 0;    // 0 every byte, 1 every Nth, 2 K chosen by the seed
    std::string n = "2", k = "16";
    bool quiet = false;
    std::string runAfter;
    std::optional<bool> playAfter; // "Play after corrupt"; none: when a core takes the file
    std::string core;              // the core chosen by its name; empty: by the file
    bool operator==(const Settings&) const = default;
};

// A history of this many tries is cut to the last kKeptTries when loaded,
// starred and named ones kept whatever their age.
inline constexpr std::size_t kMostKeptTries = 2000;
inline constexpr std::size_t kKeptTries = 1000;

class KeptStore {
  public:
    void SetFolder(std::filesystem::path folder) { m_folder = std::move(folder); }
    const std::filesystem::path& Folder() const { return m_folder; }

    enum class Trust {
        None,    // no folder, or it cannot be made
        Ours,    // the user's alone: made private when it was missing
        NotOurs, // a link, another's, or writable by others: never used
    };
    Trust Check() const;

    // Nothing when there are none, or they cannot be read: `notOurs` when the
    // file is not the user's alone, `damaged` when it held no settings (it is
    // set aside then).
    std::optional<Settings> LoadSettings(bool& notOurs, bool& damaged) const;
    bool SaveSettings(const Settings& settings) const;
    bool ForgetSettings() const;

    struct History {
        std::vector<Try> tries;
        std::size_t damaged = 0; // lines that failed a check, skipped
        bool setAside = false;   // and moved to `aside`
        std::filesystem::path aside;
        std::optional<Settings> settings; // kept in the history by earlier versions
    };
    // The history of the original of CRC-32 `crc` and `length` bytes.
    // Nothing when it cannot be read (the reason in LastFailure()), with
    // `notOurs` when it is not the user's alone.
    std::optional<History> LoadHistory(std::uint32_t crc, std::uint64_t length,
                                       bool& notOurs) const;
    // Appends the steps of `made` from `from` on (its first line carries the
    // try's seed, draw and time), and with `marks` its star and name; synced.
    bool Append(std::uint32_t crc, std::uint64_t length, const Try& made, std::size_t from,
                bool marks) const;
    bool ForgetHistory(std::uint32_t crc, std::uint64_t length) const;

    std::filesystem::path HistoryFile(std::uint32_t crc, std::uint64_t length) const;

  private:
    std::filesystem::path m_folder;
};

// A history file's lines read into tries: what the file holds, checked.
// Lines that fail a check are counted in `damaged` with their numbers (from 1).
struct ReadHistory {
    std::vector<Try> tries;
    std::vector<std::pair<std::size_t, std::string>> damaged;
    std::optional<Settings> settings;
    bool oldFormat = false; // written by an earlier version: to be rewritten
};
ReadHistory ParseHistory(const std::string& text);
// The lines that give back `tries` exactly.
std::string HistoryText(const std::vector<Try>& tries);

} // namespace glitchwerk
