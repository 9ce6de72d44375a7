// SPDX-License-Identifier: MIT
#include "cli/cli.h"
#include "engine/file_stream.h"

#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <shellapi.h>

// The arguments as typed, in UTF-8: never through the ANSI code page, which
// has no room for most names. The console shows UTF-8 as well.
int main() {
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        const int size =
            WideCharToMultiByte(CP_UTF8, 0, words[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
        WideCharToMultiByte(CP_UTF8, 0, words[i], -1, arg.data(), size, nullptr, nullptr);
        args.push_back(std::move(arg));
    }
    LocalFree(static_cast<HLOCAL>(words));
    return glitchwerk::RunCli(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
    // A full disk or a file size limit is a failed write, reported.
    glitchwerk::IgnoreFileSizeSignal();
    return glitchwerk::RunCli({argv + 1, argv + argc}, std::cout, std::cerr);
}
#endif
