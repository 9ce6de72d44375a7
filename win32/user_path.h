// SPDX-License-Identifier: MIT
#pragma once
// The user's PATH (HKCU\Environment\Path) as the installer changes it: the
// install folder appended, or that entry taken out again. The rest of the
// value stays as it was, character for character, and so does its type
// (REG_EXPAND_SZ or REG_SZ). The value is read and written whole, whatever
// its length.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace glitchwerk {

// The most characters an environment variable holds, its null aside. A
// longer PATH is left as it is.
inline constexpr std::size_t kMaxPathValue = 32766;

// How `folder` stands in the list: quoted when it holds a ';'.
std::wstring PathEntry(std::wstring_view folder);
// `list` with `folder` appended; nothing when an entry names that folder
// already (compared as Windows compares names, %VARIABLES% expanded, quotes
// and a trailing backslash aside).
std::optional<std::wstring> WithFolder(std::wstring_view list, std::wstring_view folder);
// `list` without its last entry that is PathEntry(folder), and without the
// ';' that joined it; nothing when there is none.
std::optional<std::wstring> WithoutFolder(std::wstring_view list, std::wstring_view folder);

enum class PathOutcome {
    Changed,    // the value was written, and the running programs told
    Unchanged,  // the folder was there already, or was not there to remove
    LeftAsItIs, // a value this does not change: too long, or not a list
    Failed,     // a registry call failed
};
struct PathResult {
    PathOutcome outcome;
    std::wstring message; // one sentence or two, for the user
};

// `key` is under HKEY_CURRENT_USER.
PathResult AddToUserPath(std::wstring_view folder, const wchar_t* key = L"Environment");
PathResult RemoveFromUserPath(std::wstring_view folder, const wchar_t* key = L"Environment");

} // namespace glitchwerk
