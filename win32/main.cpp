// SPDX-License-Identifier: MIT
// glitchwerk.exe: the dialog, on the file named on the command line or on one
// the user picks. A window program has no console: --help and --version
// answer in a message box.

#include "win32/wide_text.h"
#include "win32/win32_dialog.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kUsage[] =
    L"Usage: glitchwerk [FILE]\n\n"
    L"Corrupts chosen bytes of a file in place, and puts them back from a backup copy.\n\n"
    L"FILE is the file to edit; without it, Glitchwerk asks for one.\n"
    L"--help shows this text, --version the version.";

int Tell(const std::wstring& text, int status) {
    MessageBoxW(nullptr, text.c_str(), L"Glitchwerk",
                status ? MB_OK | MB_ICONERROR : MB_OK | MB_ICONINFORMATION);
    return status;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::vector<std::wstring> args(words + (count > 0 ? 1 : 0), words + count);
    LocalFree(static_cast<HLOCAL>(words));
    if (args.size() == 1 && args[0] == L"--help")
        return Tell(kUsage, 0);
    if (args.size() == 1 && args[0] == L"--version")
        return Tell(glitchwerk::Widen("Glitchwerk " GLITCHWERK_VERSION), 0);
    if (args.size() > 1 || (args.size() == 1 && args[0].starts_with(L"--")))
        return Tell(kUsage, 2);

    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                                             ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    glitchwerk::Win32Dialog dialog;
    if (!args.empty()) {
        std::error_code error;
        const std::filesystem::path file = std::filesystem::absolute(args[0], error);
        dialog.Logic().OpenAtStart(error ? std::filesystem::path(args[0]) : file);
    }
    dialog.DoModal();
    return 0;
}
