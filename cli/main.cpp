// SPDX-License-Identifier: MIT
#include "cli/cli.h"
#include "engine/file_stream.h"

#include <iostream>

int main(int argc, char** argv) {
    // A full disk or a file size limit is a failed write, reported.
    glitchwerk::IgnoreFileSizeSignal();
    return glitchwerk::RunCli({argv + 1, argv + argc}, std::cout, std::cerr);
}
