// SPDX-License-Identifier: MIT
// user-path.exe, which the installer runs: "add FOLDER" appends the folder to
// the user's PATH, "remove FOLDER" takes that entry off again. It says what
// it did in a line, and ends with 0 when it changed the value, 1 when there
// was nothing to change, 2 when it left a value it does not change as it
// was, 3 when a registry call failed, 4 on a wrong command line.

#include "win32/user_path.h"

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

namespace {

static_assert(static_cast<int>(glitchwerk::PathOutcome::Failed) == 3, "the statuses above");

void Say(std::wstring line) {
    line += L"\r\n";
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    // To a pipe, as UTF-16 with its byte order mark: nsExec reads it so.
    line.insert(line.begin(), L'\xFEFF');
    WriteFile(out, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written,
              nullptr);
}

} // namespace

int main() {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::vector<std::wstring> args(words + (count > 0 ? 1 : 0), words + count);
    LocalFree(static_cast<HLOCAL>(words));
    if (args.size() != 2 || (args[0] != L"add" && args[0] != L"remove") || args[1].empty()) {
        Say(L"usage: user-path add|remove FOLDER");
        return 4;
    }
    // The folder as Windows names it: "C:\Programs\Glitchwerk\." (which keeps
    // a trailing backslash from quoting the closing quote) without the dot.
    std::wstring folder(GetFullPathNameW(args[1].c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD length = GetFullPathNameW(args[1].c_str(), static_cast<DWORD>(folder.size()),
                                          folder.data(), nullptr);
    if (length == 0 || length >= folder.size()) {
        Say(L"user-path: the folder's name is not one Windows takes.");
        return 4;
    }
    folder.resize(length);
    const glitchwerk::PathResult result = args[0] == L"add"
                                              ? glitchwerk::AddToUserPath(folder)
                                              : glitchwerk::RemoveFromUserPath(folder);
    Say(result.message);
    return static_cast<int>(result.outcome);
}
