// SPDX-License-Identifier: MIT
// The PATH the installer changes: the lists, then the registry value, on a
// key of the tests' own.

#include "win32/user_path.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <utility>

namespace glitchwerk {
namespace {

constexpr wchar_t kFolder[] = L"C:\\Programs\\Glitchwerk";
constexpr auto kNone = std::nullopt;

TEST(UserPath, AFolderJoinsAndLeavesTheListAsItWas) {
    const struct {
        bool add;
        const wchar_t* list;
        const wchar_t* folder;
        std::optional<std::wstring> becomes;
    } cases[] = {
        {true, L"", kFolder, kFolder},
        {true, L"C:\\a", kFolder, L"C:\\a;C:\\Programs\\Glitchwerk"},
        {true, L"C:\\a;", kFolder, L"C:\\a;C:\\Programs\\Glitchwerk"},
        {true, L"C:\\a;c:/programs/glitchwerk\\;C:\\b", kFolder, kNone},
        {true, L"\"C:\\Programs\\Glitchwerk\"", kFolder, kNone},
        {true, L"%GLITCHWERK_TEST%\\Glitchwerk", kFolder, kNone},
        {true, L"C:\\a", L"C:\\x;y", L"C:\\a;\"C:\\x;y\""},
        {false, L"C:\\a;C:\\Programs\\Glitchwerk;C:\\b", kFolder, L"C:\\a;C:\\b"},
        {false, L"C:\\Programs\\Glitchwerk;C:\\a", kFolder, L"C:\\a"},
        {false, L"C:\\Programs\\Glitchwerk", kFolder, L""},
        {false, L"C:\\a;C:\\PROGRAMS\\Glitchwerk;", kFolder, L"C:\\a;"},
        {false, L"C:\\Programs\\Glitchwerk;C:\\a;C:\\Programs\\Glitchwerk", kFolder,
         L"C:\\Programs\\Glitchwerk;C:\\a"},
        {false, L"C:\\a;C:\\Programs\\Glitchwerk\\;C:\\Programs\\Glitchwerks", kFolder, kNone},
        {false, L"\"C:\\x;C:\\Programs\\Glitchwerk\";C:\\a", kFolder, kNone},
        {false, L"C:\\a;\"C:\\x;y\"", L"C:\\x;y", L"C:\\a"},
    };
    SetEnvironmentVariableW(L"GLITCHWERK_TEST", L"C:\\Programs");
    for (const auto& [add, list, folder, becomes] : cases)
        EXPECT_EQ(add ? WithFolder(list, folder) : WithoutFolder(list, folder), becomes)
            << (add ? "adding to " : "removing from ") << testing::PrintToString(list);
}

constexpr wchar_t kTests[] = L"Software\\Glitchwerk tests";
constexpr wchar_t kKey[] = L"Software\\Glitchwerk tests\\Environment";

// The value's type and text as stored; REG_NONE when there is none.
std::pair<DWORD, std::wstring> Stored() {
    std::wstring text(40000, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t)), type = REG_NONE;
    if (RegGetValueW(HKEY_CURRENT_USER, kKey, L"Path", RRF_RT_ANY | RRF_NOEXPAND, &type,
                     text.data(), &size) != ERROR_SUCCESS)
        return {REG_NONE, L""};
    return {type, text.substr(0, size / sizeof(wchar_t) - 1)};
}

TEST(UserPath, TheValueKeepsItsTypeAndIsLeftWhenItCannotBeChanged) {
    const std::wstring full(kMaxPathValue - 8, L'x');
    const struct {
        DWORD type;                 // REG_NONE: no value
        std::wstring before, after; // after: empty when left as it was
    } cases[] = {
        {REG_NONE, L"", kFolder},
        {REG_EXPAND_SZ, L"%HOME%;C:\\a", L"%HOME%;C:\\a;" + std::wstring(kFolder)},
        {REG_SZ, L"C:\\a", L"C:\\a;" + std::wstring(kFolder)},
        {REG_SZ, full, L""},
        {REG_SZ, std::wstring(L"C:\\a\0C:\\b", 9), L""},
        {REG_MULTI_SZ, L"C:\\a", L""},
    };
    for (const auto& [type, before, after] : cases) {
        SCOPED_TRACE(testing::Message() << "type " << type << ", " << before.size() << " chars");
        RegDeleteTreeW(HKEY_CURRENT_USER, kTests);
        const auto size = static_cast<DWORD>((before.size() + 1) * sizeof(wchar_t));
        ASSERT_TRUE(type == REG_NONE || RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"Path", type,
                                                        before.c_str(), size) == ERROR_SUCCESS);
        const auto original = Stored();
        const PathResult added = AddToUserPath(kFolder, kKey);
        if (after.empty()) {
            EXPECT_EQ(added.outcome, PathOutcome::LeftAsItIs);
            EXPECT_EQ(Stored(), original);
            continue;
        }
        EXPECT_EQ(added.outcome, PathOutcome::Changed);
        EXPECT_EQ(Stored(), std::pair(type == REG_NONE ? DWORD{REG_EXPAND_SZ} : type, after));
        EXPECT_EQ(AddToUserPath(kFolder, kKey).outcome, PathOutcome::Unchanged);
        EXPECT_EQ(RemoveFromUserPath(kFolder, kKey).outcome, PathOutcome::Changed);
        EXPECT_EQ(Stored(), original);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kTests);
}

} // namespace
} // namespace glitchwerk
